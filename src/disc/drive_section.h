// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Which settings section holds the read offset of the drive the user chose: obrin-rip and the
// configuration sheet must agree on it, or an offset found by one is not used by the other.
#include <cstdint>
#include <optional>
#include <string>

#include "config/settings.h"

// "Drive VENDOR MODEL" of settings.drives[settings.driveIndex] when the drive reports its
// identity; empty for a disc image, a drive that cannot be opened or no drive at that index.
std::string SelectedDriveSection(const RipSettings& settings);

// The section's ReadOffset in the settings file when it holds a whole number of the range
// ("+48" or "-6"); nullopt otherwise (no section, no key, a bad value).
std::optional<int32_t> SectionReadOffset(const std::string& section);

// The read offset a rip of the chosen drive uses: its model's own, else [Drive] ReadOffset.
int32_t DriveReadOffset(const RipSettings& settings);
