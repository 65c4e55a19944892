// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// Fuzz target: arbitrary bytes as a cover picture (a server's reply, a user's file).
// Invariants:
//  - CheckCoverPicture never crashes, and refuses with a reason or accepts the bytes as they
//    are: a JPEG or PNG by its signature, 1..16384 pixels a side, a depth, the file name its
//    type calls for;
//  - what it accepts embeds: the FLAC picture structure holds the bytes whole after its
//    32-byte fields and MIME type, and its base64 is four digits for every three bytes.
#include <cstdlib>
#include <string>

#include "disc/cover_picture_check.h"
#include "encoders/cover_embed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const CheckedPicture checked = CheckCoverPicture(bytes);
  if (!checked.picture) {
    if (checked.problem.empty()) std::abort();
    return 0;
  }
  const CoverPicture& picture = *checked.picture;
  const bool png = picture.mimeType == "image/png";
  if (!png && picture.mimeType != "image/jpeg") std::abort();
  if (picture.bytes != bytes || !checked.problem.empty()) std::abort();
  if (picture.width == 0 || picture.height == 0 || picture.width > kCoverMaxSide ||
      picture.height > kCoverMaxSide || picture.depth == 0) {
    std::abort();
  }
  if (CoverFileName(picture) != (png ? "cover.png" : "cover.jpg")) std::abort();
  const std::string structure = FlacPictureStructure(picture);
  if (structure.size() != 32 + picture.mimeType.size() + bytes.size() ||
      structure.compare(structure.size() - bytes.size(), bytes.size(), bytes) != 0) {
    std::abort();
  }
  if (Base64(structure).size() != (structure.size() + 2) / 3 * 4) std::abort();
  return 0;
}
