// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Cue sheets, read with libcue: one file or one per track (with a track's gap at the end of the
// file before it, at the start of its own, or left out as PREGAP), of raw sectors, WAVE or FLAC.
// Every layout of one disc gives the disc's own positions: a file counts in whole sectors, and
// PREGAP and POSTGAP add silence that is in no file.
#include <optional>
#include <string>

#include "disc/image_layout.h"

// The layout of the cue sheet `text`; files are looked for relative to `folder`. nullopt, with
// why (a sentence without the sheet's name, naming the line or the file), when it cannot be
// read. Not reentrant (libcue is not): callers serialise.
std::optional<ImageLayout> ParseCueSheet(const std::string& text, const std::string& folder,
                                         std::string& why);
