// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Making a disc's CD-Text fit to show, tag and name files with: whatever bytes a drive or an
// image hands over become UTF-8 of one line.
#include <string>
#include <string_view>

// At most this many bytes of a field are kept (cut on a whole character); a real field holds
// well under 200.
inline constexpr size_t kCdTextFieldLimit = 1024;

// `raw` as UTF-8: valid UTF-8 is kept, and text that libcdio encoded twice (UTF-8 bytes taken
// for Latin-1 and encoded again: "CafÃ©") is decoded once; any other byte above 0x7F is taken
// as Latin-1. NUL ends the text; other control characters become blanks; blanks at the ends
// go.
std::string CleanCdText(std::string_view raw);
