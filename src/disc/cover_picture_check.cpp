// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/cover_picture_check.h"

#include <zlib.h>

#include <cstring>
#include <string_view>

namespace {

uint32_t Big32(const unsigned char* at) {
  return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
}
uint32_t Big16(const unsigned char* at) {
  return uint32_t{at[0]} << 8 | at[1];
}

CheckedPicture Refused(std::string problem) {
  return {std::nullopt, std::move(problem)};
}

// Walks every chunk to IEND, each one's CRC checked: a file cut anywhere is caught.
CheckedPicture CheckPng(std::string bytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t size = bytes.size();
  constexpr size_t kSignature = 8;
  if (size < kSignature + 25 || std::memcmp(data + kSignature + 4, "IHDR", 4) != 0 ||
      Big32(data + kSignature) != 13) {
    return Refused("the PNG has no header");
  }
  const unsigned char* header = data + kSignature + 8;
  CoverPicture picture;
  picture.mimeType = "image/png";
  picture.width = Big32(header);
  picture.height = Big32(header + 4);
  const uint32_t bitDepth = header[8];
  const uint32_t colorType = header[9];
  uint32_t channels = 0;
  switch (colorType) {
    case 0:
      channels = 1;
      break;
    case 2:
      channels = 3;
      break;
    case 3:
      channels = 1;
      break;
    case 4:
      channels = 2;
      break;
    case 6:
      channels = 4;
      break;
    default:
      return Refused("the PNG has an unknown colour type");
  }
  if (bitDepth == 0 || bitDepth > 16 || (bitDepth & (bitDepth - 1)) != 0) {
    return Refused("the PNG has an unknown bit depth");
  }
  picture.depth = bitDepth * channels;
  bool ended = false;
  for (size_t at = kSignature; !ended;) {
    if (size - at < 12) return Refused("the PNG is cut short");
    const uint32_t length = Big32(data + at);
    if (length > size - at - 12) return Refused("the PNG is cut short");
    const unsigned char* type = data + at + 4;
    const uLong crc = crc32(crc32(0, nullptr, 0), type, length + 4);
    if (crc != Big32(type + 4 + length)) return Refused("the PNG is damaged (a chunk's CRC)");
    if (std::memcmp(type, "PLTE", 4) == 0 && colorType == 3) picture.colors = length / 3;
    ended = std::memcmp(type, "IEND", 4) == 0;
    at += 12 + size_t{length};
  }
  if (colorType == 3 && picture.colors == 0) return Refused("the PNG has no palette");
  picture.bytes = std::move(bytes);
  return {std::move(picture), {}};
}

// Reads the segments to the frame header, then the entropy-coded data to the end-of-image
// marker: a file cut after its header is caught too.
CheckedPicture CheckJpeg(std::string bytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t size = bytes.size();
  CoverPicture picture;
  picture.mimeType = "image/jpeg";
  bool framed = false, ended = false;
  size_t at = 2;
  while (!ended) {
    if (at + 2 > size) return Refused("the JPEG is cut short");
    if (data[at] != 0xFF) return Refused("the JPEG is damaged");
    const unsigned char marker = data[at + 1];
    at += 2;
    if (marker == 0xFF) {  // fill byte
      --at;
      continue;
    }
    if (marker == 0xD9) {
      ended = true;
      break;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
    if (at + 2 > size) return Refused("the JPEG is cut short");
    const size_t length = Big16(data + at);
    if (length < 2 || length > size - at) return Refused("the JPEG is cut short");
    const bool frame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame && !framed) {
      if (length < 8) return Refused("the JPEG is damaged");
      const uint32_t precision = data[at + 2];
      picture.height = Big16(data + at + 3);
      picture.width = Big16(data + at + 5);
      picture.depth = precision * data[at + 7];
      framed = true;
    }
    at += length;
    if (marker == 0xDA) {  // start of scan: entropy-coded data up to the next real marker
      while (at + 1 < size && !(data[at] == 0xFF && data[at + 1] != 0 &&
                                !(data[at + 1] >= 0xD0 && data[at + 1] <= 0xD7))) {
        ++at;
      }
    }
  }
  if (!framed) return Refused("the JPEG has no frame header");
  picture.bytes = std::move(bytes);
  return {std::move(picture), {}};
}

}  // namespace

CheckedPicture CheckCoverPicture(std::string bytes) {
  const std::string_view view(bytes);
  CheckedPicture checked;
  if (view.starts_with("\x89PNG\r\n\x1a\n")) {
    checked = CheckPng(std::move(bytes));
  } else if (view.starts_with("\xFF\xD8\xFF")) {
    checked = CheckJpeg(std::move(bytes));
  } else {
    return Refused("not a JPEG or PNG picture");
  }
  if (!checked.picture) return checked;
  const CoverPicture& picture = *checked.picture;
  if (picture.width == 0 || picture.height == 0) return Refused("the picture has no size");
  if (picture.width > kCoverMaxSide || picture.height > kCoverMaxSide) {
    return Refused("the picture claims " + std::to_string(picture.width) + " x " +
                   std::to_string(picture.height) + " pixels");
  }
  if (picture.depth == 0) return Refused("the picture has no depth");
  return checked;
}

std::string CoverFileName(const CoverPicture& picture) {
  return picture.mimeType == "image/png" ? "cover.png" : "cover.jpg";
}
