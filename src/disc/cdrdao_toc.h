// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// cdrdao's TOC files, read by Obrin itself: libcdio 2.1's reader refuses the CD-Text layout
// cdrdao writes (blocks over several lines), leaves SILENCE out of the track positions, adds
// the last track's START to the lead-out and hands octal escapes over undecoded.
#include <optional>
#include <string>

#include "disc/image_layout.h"

// The layout of the TOC file `text`; file names are taken relative to `folder`. nullopt, with
// why (a sentence without the file's name), when it cannot be read.
std::optional<ImageLayout> ParseCdrdaoToc(const std::string& text, const std::string& folder,
                                          std::string& why);
