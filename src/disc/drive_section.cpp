// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/drive_section.h"

#include "disc/cdaccess.h"
#include "disc/drive_commands.h"

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
