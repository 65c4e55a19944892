// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "config/genres.h"

#include <cstddef>

const char* GenreName(int32_t genre) {
  if (genre < 0 || static_cast<std::size_t>(genre) >= GenreNames.size()) return "";
  return GenreNames[static_cast<std::size_t>(genre)];
}
