// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Whether bytes are a picture a file may carry as its cover: a whole JPEG or PNG, told by its
// own signature (never by a name or a server's word), with its size and depth from its header.
// An HTML page, a cut file or a header claiming an absurd size is refused with the reason.
#include <optional>
#include <string>

#include "config/release_tags.h"

// The largest width or height taken (a cover is a few thousand pixels at most).
inline constexpr uint32_t kCoverMaxSide = 16384;

struct CheckedPicture {
  std::optional<CoverPicture> picture;
  std::string problem;  // when refused: "not a JPEG or PNG picture", "the PNG is cut short", ...
};

// Reads `bytes` (moved into the picture when it is one).
CheckedPicture CheckCoverPicture(std::string bytes);

// "cover.jpg" or "cover.png" for the picture's type.
std::string CoverFileName(const CoverPicture& picture);
