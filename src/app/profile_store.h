// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The per-user profile: small values the window remembers between runs (the tip of the day's
// place in its file), kept apart from the settings file in profile.ini of the same folder.
// Every call opens the file afresh and writes through at once; a missing, unreadable or
// damaged file reads as the defaults.
#include <QString>
#include <cstdint>

// ${XDG_CONFIG_HOME:-~/.config}/obrin/profile.ini
QString ProfileFilePath();

int64_t GetProfileInt(const QString& section, const QString& key, int64_t fallback);
QString GetProfileText(const QString& section, const QString& key, const QString& fallback);
void WriteProfileInt(const QString& section, const QString& key, int64_t value);
void WriteProfileText(const QString& section, const QString& key, const QString& value);
