// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The five texts of a track's row in the list (Title, Length, Output Format, Status,
// Output Path); the window and `obrin-rip --list` show the same.
#include <array>
#include <string>
#include <vector>

#include "config/disc_model.h"

std::string TrackLengthText(uint32_t lengthSeconds);    // "04:05", "125:00"
std::string TrackFormatText(const TrackRecord& track);  // "MP3 128-192 kbps VBR Q3"
std::string TrackStatusText(int32_t status);            // "Pending", "42%", "Completed", ...

// Every Output Format text `format` can show, one per choice of its settings.
std::vector<std::string> FormatTextChoices(int32_t format);

// `outputFolder` is the settings file's [Output] Path as read at this moment.
std::array<std::string, 5> TrackRowTexts(const TrackRecord& track, const std::string& outputFolder);

// The sixth column of a verified rip: the AccurateRip verdict, then "; CTDB: " and the
// CUETools database's when there is one.
std::string TrackVerificationText(const TrackRecord& track);
