// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "capture/checksums.h"

#include <endian.h>
#include <isa-l/crc.h>
#include <zlib.h>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <utility>

TrackChecksums::TrackChecksums(uint64_t samples, bool firstAudioTrack, bool lastAudioTrack)
    : crc_(0),
      firstCounted_(firstAudioTrack ? kAccurateRipEdgeSamples : 1),
      lastCounted_(static_cast<int64_t>(samples) - (lastAudioTrack ? kAccurateRipEdgeSamples : 0)) {
}

void TrackChecksums::MarkCrcRange(uint64_t from, uint64_t to) {
  markFrom_ = 4 * from;
  markTo_ = 4 * std::max(from, to);
}

uint32_t TrackChecksums::MarkedCrc() const {
  // The CRC of the bytes between two points of one running CRC: zlib's combine of the one at
  // the start, carried over the range, with the one at its end.
  return static_cast<uint32_t>(
      crc32_combine(crcAtFrom_, crcAtTo_, static_cast<z_off_t>(markTo_ - markFrom_)));
}

void TrackChecksums::Add(const uint8_t* data, size_t size) {
  // The running CRC is noted where a marked range begins and ends, the piece cut there.
  size_t done = 0;
  for (const auto& [mark, kept] :
       {std::pair{markFrom_, &crcAtFrom_}, std::pair{markTo_, &crcAtTo_}}) {
    if (markTo_ == markFrom_) break;
    if (mark < bytes_ + done || mark > bytes_ + size) continue;
    const size_t upTo = static_cast<size_t>(mark - bytes_);
    crc_ = CopyCrc32(crc_, data + done, upTo - done);
    done = upTo;
    *kept = crc_;
  }
  crc_ = CopyCrc32(crc_, data + done, size - done);
  bytes_ += size;
  samples_.Add(data, size,
               [this](const uint8_t* samples, size_t count) { AddSamples(samples, count); });
}

namespace {

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx"))) void ZeroUpperHalves() {
  _mm256_zeroupper();
}

const bool kHaveAvx = __builtin_cpu_supports("avx");
#endif

// ISA-L's AVX-512 CRC returns with the upper halves of the vector registers marked in use.
// Until something clears them every SSE instruction after it waits on those halves: libopus
// and libm ran a fifth slower, on this thread and on every thread it started afterwards (a
// thread is born with its creator's register state).
uint32_t IsalCrc32(uint32_t crc, const uint8_t* data, size_t size) {
  const uint32_t result = crc32_gzip_refl(crc, data, size);
#if defined(__x86_64__) && defined(__GNUC__)
  if (kHaveAvx) ZeroUpperHalves();
#endif
  return result;
}

#if defined(__x86_64__) && defined(__GNUC__)
// zlib's CRC-32 (polynomial 0x104C11DB7, bits reflected) by folding: each 16-byte lane of the
// running state is carried 1024 bits on by two carry-less products, and the next 128 bytes
// are added. ISA-L folds eight 16-byte lanes with 128-bit products; with 256-bit ones the
// same work takes half the instructions. What is left at the end, 128 bytes the whole
// message is congruent to, and the bytes after the last whole block go to ISA-L.
constexpr uint64_t kCrcPolynomial = 0x104C11DB7;

// x^n mod P, bit k the coefficient of x^k.
constexpr uint32_t PowerMod(unsigned n) {
  uint64_t r = 1;
  for (unsigned i = 0; i < n; ++i) {
    r <<= 1;
    if (r >> 32) r ^= kCrcPolynomial;
  }
  return static_cast<uint32_t>(r);
}

// A remainder as the carry-less product wants it for reflected lanes: x^k at bit 32 - k.
constexpr uint64_t Reflect33(uint32_t v) {
  uint64_t r = 0;
  for (unsigned k = 0; k < 32; ++k) {
    if (v >> k & 1) r |= uint64_t{1} << (32 - k);
  }
  return r;
}

// A lane holds x^127..x^64 in its low half and x^63..x^0 in its high half; carried D bits
// on, the low half is multiplied by x^(D+64) and the high half by x^D, each mod P (the
// product lands 32 bits higher, hence D+32 and D-32).
constexpr unsigned kFoldBits = 1024;
constexpr uint64_t kFoldLow = Reflect33(PowerMod(kFoldBits + 32));
constexpr uint64_t kFoldHigh = Reflect33(PowerMod(kFoldBits - 32));

#define OBRIN_WIDE_CRC __attribute__((target("avx2,pclmul,vpclmulqdq")))

OBRIN_WIDE_CRC inline __m256i Load256(const uint8_t* at) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

// Two lanes carried kFoldBits on, plus the bytes that come there.
OBRIN_WIDE_CRC inline __m256i Fold(__m256i lanes, __m256i k, __m256i next) {
  return _mm256_xor_si256(_mm256_xor_si256(_mm256_clmulepi64_epi128(lanes, k, 0x00),
                                           _mm256_clmulepi64_epi128(lanes, k, 0x11)),
                          next);
}

OBRIN_WIDE_CRC uint32_t Crc32Wide(uint32_t crc, const uint8_t* data, size_t size) {
  if (size < 256) return IsalCrc32(crc, data, size);
  // The register starts as ~crc: the same as adding it to the first four bytes with 0.
  __m256i a = _mm256_xor_si256(Load256(data),
                               _mm256_setr_epi32(static_cast<int>(~crc), 0, 0, 0, 0, 0, 0, 0));
  __m256i b = Load256(data + 32), c = Load256(data + 64), d = Load256(data + 96);
  const __m256i k =
      _mm256_set_epi64x(static_cast<long long>(kFoldHigh), static_cast<long long>(kFoldLow),
                        static_cast<long long>(kFoldHigh), static_cast<long long>(kFoldLow));
  size_t at = 128;
  for (; at + 128 <= size; at += 128) {
    a = Fold(a, k, Load256(data + at));
    b = Fold(b, k, Load256(data + at + 32));
    c = Fold(c, k, Load256(data + at + 64));
    d = Fold(d, k, Load256(data + at + 96));
  }
  alignas(32) uint8_t state[128];
  _mm256_store_si256(reinterpret_cast<__m256i*>(state), a);
  _mm256_store_si256(reinterpret_cast<__m256i*>(state + 32), b);
  _mm256_store_si256(reinterpret_cast<__m256i*>(state + 64), c);
  _mm256_store_si256(reinterpret_cast<__m256i*>(state + 96), d);
  // The state, read from a register of 0 (an initial value of ~0), then the rest.
  return IsalCrc32(IsalCrc32(0xFFFFFFFF, state, sizeof state), data + at, size - at);
}

// Chosen at start, and only when it agrees with zlib on a sample: a fault here would put a
// wrong copy CRC into every log.
const bool kWideCrc = [] {
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("vpclmulqdq") ||
      !__builtin_cpu_supports("pclmul")) {
    return false;
  }
  uint8_t sample[1000];
  uint32_t x = 1;
  for (uint8_t& byte : sample) byte = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
  return Crc32Wide(0x12345678, sample, sizeof sample) == crc32(0x12345678, sample, sizeof sample);
}();
#endif

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

uint32_t CopyCrc32(uint32_t crc, const uint8_t* data, size_t size) {
#if defined(__x86_64__) && defined(__GNUC__)
  if (kWideCrc) return Crc32Wide(crc, data, size);
#endif
  // ISA-L's CRC-32 is zlib's, several times faster where the processor can carry-less
  // multiply.
  return IsalCrc32(crc, data, size);
}

bool CopyCrc32IsWide() {
#if defined(__x86_64__) && defined(__GNUC__)
  return kWideCrc;
#else
  return false;
#endif
}
