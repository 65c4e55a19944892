// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "capture/checksums.h"

#include <endian.h>
#include <isa-l/crc.h>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstring>

TrackChecksums::TrackChecksums(uint64_t samples, bool firstAudioTrack, bool lastAudioTrack)
    : crc_(0),
      firstCounted_(firstAudioTrack ? kAccurateRipEdgeSamples : 1),
      lastCounted_(static_cast<int64_t>(samples) - (lastAudioTrack ? kAccurateRipEdgeSamples : 0)) {
}

void TrackChecksums::Add(const uint8_t* data, size_t size) {
  // ISA-L's CRC-32 is zlib's, several times faster where the processor can carry-less
  // multiply.
  crc_ = crc32_gzip_refl(crc_, data, size);
  samples_.Add(data, size,
               [this](const uint8_t* samples, size_t count) { AddSamples(samples, count); });
}

namespace {

ProductSums SumProducts(const uint8_t* data, size_t count, uint32_t position) {
  ProductSums sums;
  for (size_t i = 0; i < count; ++i) {
    // Left in the low half, right in the high half: the sample's bytes read little-endian.
    uint32_t sample;
    std::memcpy(&sample, data + 4 * i, 4);
    sample = le32toh(sample);
    const uint64_t product = uint64_t{static_cast<uint32_t>(position + i)} * sample;
    sums.low += static_cast<uint32_t>(product);
    sums.high += static_cast<uint32_t>(product >> 32);
    sums.plain += sample;
  }
  return sums;
}

#if defined(__x86_64__) && defined(__GNUC__)
// Eight samples a step. The products are summed whole (A) and by their low halves (B), in 64
// bits: A - B is then the sum of the high halves times 2^32, so the high halves need no
// shuffling out of each product.
__attribute__((target("avx2"))) ProductSums SumProductsAvx2(const uint8_t* data, size_t count,
                                                            uint32_t position) {
  __m256i whole = _mm256_setzero_si256(), lows = _mm256_setzero_si256();
  __m256i plain = _mm256_setzero_si256();
  const __m256i lowHalf = _mm256_set1_epi64x(0xFFFFFFFF);
  const __m256i step = _mm256_set1_epi64x(8);
  const auto p = static_cast<int>(position);
  __m256i even = _mm256_setr_epi32(p, 0, p + 2, 0, p + 4, 0, p + 6, 0);
  __m256i odd = _mm256_setr_epi32(p + 1, 0, p + 3, 0, p + 5, 0, p + 7, 0);
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i samples = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + 4 * i));
    const __m256i a = _mm256_mul_epu32(samples, even);
    const __m256i b = _mm256_mul_epu32(_mm256_srli_epi64(samples, 32), odd);
    whole = _mm256_add_epi64(whole, _mm256_add_epi64(a, b));
    lows = _mm256_add_epi64(
        lows, _mm256_add_epi64(_mm256_and_si256(a, lowHalf), _mm256_and_si256(b, lowHalf)));
    plain = _mm256_add_epi32(plain, samples);
    even = _mm256_add_epi32(even, step);
    odd = _mm256_add_epi32(odd, step);
  }
  uint64_t w[4], l[4];
  uint32_t s[8];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(w), whole);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(l), lows);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(s), plain);
  const uint64_t a = w[0] + w[1] + w[2] + w[3], b = l[0] + l[1] + l[2] + l[3];
  const ProductSums tail =
      SumProducts(data + 4 * i, count - i, position + static_cast<uint32_t>(i));
  return {static_cast<uint32_t>(a) + tail.low, static_cast<uint32_t>((a - b) >> 32) + tail.high,
          s[0] + s[1] + s[2] + s[3] + s[4] + s[5] + s[6] + s[7] + tail.plain};
}

const bool kHaveAvx2 = __builtin_cpu_supports("avx2");
#endif

}  // namespace

ProductSums SumAccurateRipProducts(const uint8_t* data, size_t count, uint32_t position) {
#if defined(__x86_64__) && defined(__GNUC__)
  if (kHaveAvx2) return SumProductsAvx2(data, count, position);
#endif
  return SumProducts(data, count, position);
}

void TrackChecksums::AddSamples(const uint8_t* data, size_t count) {
  // Only the counted stretch of these samples is summed. v2 is v1 plus the products' high
  // halves.
  const auto from = static_cast<int64_t>(next_);
  const int64_t begin = std::max<int64_t>(from, firstCounted_);
  const int64_t end = std::min<int64_t>(from + static_cast<int64_t>(count) - 1, lastCounted_);
  if (begin <= end) {
    const uint8_t* first = data + 4 * (begin - from);
    const auto n = static_cast<size_t>(end - begin + 1);
    const ProductSums sums = SumAccurateRipProducts(first, n, static_cast<uint32_t>(begin));
    v1_ += sums.low;
    v2_ += sums.low + sums.high;
  }
  next_ += count;
}

TrackChecksumValues TrackChecksums::Values() const {
  return {crc_, v1_, v2_, false};
}
