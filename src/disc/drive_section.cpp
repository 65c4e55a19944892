// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/drive_section.h"

#include <charconv>

#include "disc/cdaccess.h"
#include "disc/drive_commands.h"
#include "platform/profile.h"

std::string SelectedDriveSection(const RipSettings& settings) {
  if (settings.driveIndex < 0 ||
      static_cast<size_t>(settings.driveIndex) >= settings.drives.size()) {
    return {};
  }
  const CdHandle handle =
      GetCDHandle(&settings.drives[static_cast<size_t>(settings.driveIndex)].openRequest);
  DriveFacts facts;
  const bool drive = GetDriveFacts(handle, &facts) == 1;
  CloseCDHandle(handle);
  return drive ? DriveSettingsSection(facts.vendor, facts.model) : std::string();
}

std::optional<int32_t> SectionReadOffset(const std::string& section) {
  if (section.empty()) return std::nullopt;
  const std::string value = GetProfileString(section, "ReadOffset", "", SettingsFilePath());
  const char* begin = value.data() + (value.starts_with("+") ? 1 : 0);
  int32_t parsed = 0;
  const auto [end, error] = std::from_chars(begin, value.data() + value.size(), parsed);
  if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
      parsed < -kReadOffsetLimit || parsed > kReadOffsetLimit) {
    return std::nullopt;
  }
  return parsed;
}

int32_t DriveReadOffset(const RipSettings& settings) {
  return SectionReadOffset(SelectedDriveSection(settings)).value_or(settings.readOffset);
}
