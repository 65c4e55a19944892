// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Opening an image and reading its sectors through the CD-access calls, as the ripper does.
#include <cstdint>
#include <optional>
#include <string>

#include "disc/cdaccess.h"

// Opens the last device listed: the only one, or the image after any real drives. With
// `image`, that image becomes the only one first.
CdHandle OpenLast(const std::string& image = "");

// The bytes a read delivered; nothing when it failed (having delivered nothing).
std::optional<std::string> Read(CdHandle handle, uint32_t start, uint32_t count);
