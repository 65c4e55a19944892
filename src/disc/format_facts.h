// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// What the program knows about each output format, in one table: the file extension and the
// word that starts the list's Output Format column. Everything that turns a format number
// into text looks here rather than switching on the number itself.
#include <array>
#include <cstdint>

#include "config/settings.h"

struct FormatFacts {
  uint32_t format;        // OutputFormat value, also the row's position in FormatFactsTable
  const char* extension;  // with its dot
  const char* listWord;   // ends with a blank; the settings text follows directly
};

inline constexpr std::array<FormatFacts, 5> FormatFactsTable = {{
    {Wav, ".wav", "WAV "},
    {Ogg, ".ogg", "OGG "},
    {Mp3, ".mp3", "MP3 "},
    {Flac, ".flac", "FLAC "},
    {Opus, ".opus", "OPUS "},
}};

// The row of `format`; nullptr for any value but Wav, Ogg, Mp3, Flac and Opus (such a track is
// skipped).
constexpr const FormatFacts* FindFormatFacts(uint32_t format) {
  return format < FormatFactsTable.size() ? &FormatFactsTable[format] : nullptr;
}

// ".wav", ".ogg", ".mp3", ".flac" or ".opus"; nullptr for other values.
constexpr const char* FormatExtension(uint32_t format) {
  const FormatFacts* facts = FindFormatFacts(format);
  return facts ? facts->extension : nullptr;
}

// "WAV ", "OGG ", "MP3 ", "FLAC " or "OPUS "; nullptr for other values.
constexpr const char* FormatListWord(uint32_t format) {
  const FormatFacts* facts = FindFormatFacts(format);
  return facts ? facts->listWord : nullptr;
}

static_assert(FormatFactsTable[Wav].format == Wav && FormatFactsTable[Ogg].format == Ogg &&
                  FormatFactsTable[Mp3].format == Mp3 && FormatFactsTable[Flac].format == Flac,
              "FindFormatFacts indexes the table by format number");
