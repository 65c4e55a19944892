// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/track_row_text.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>

#include "config/settings.h"
#include "disc/format_facts.h"
#include "disc/track_list.h"

namespace {

std::string Format(const char* pattern, ...) {
  char text[128];
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(text, sizeof text, pattern, args);
  va_end(args);
  return text;
}

// "%.2f" with a point whatever the process locale: a toolkit that sets the user's locale
// would otherwise turn "Q0.45" into "Q0,45".
std::string TwoDecimals(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
  return std::string(text, result.ptr);
}

// Table lookups that tolerate indexes a hand-edited record could hold.
template <typename Table>
int At(const Table& table, int32_t index) {
  return index >= 0 && static_cast<size_t>(index) < table.size() ? table[static_cast<size_t>(index)]
                                                                 : 0;
}

}  // namespace

std::string TrackLengthText(uint32_t lengthSeconds) {
  return Format("%02u:%02u", lengthSeconds / 60, lengthSeconds % 60);
}

namespace {

// The settings part of the Output Format text, after the format's word.
std::string SettingsText(const TrackRecord& track) {
  switch (track.format) {
    case Wav: {
      const auto wav = SettingsBlockOf<WavSettings>(track);
      if (wav.sampleRate == 0) return "- default sample rate";
      return Format("%d Hz", SampleRateHz(wav.sampleRate));
    }
    case Ogg: {
      const auto ogg = SettingsBlockOf<OggSettings>(track);
      if (ogg.useBbr) {
        return Format("%d-%d kbps BBR", At(OggBitrateTable, ogg.bbrNominal),
                      At(OggBitrateTable, ogg.bbrMax));
      }
      if (ogg.useVbr) {
        return "VBR Q" + TwoDecimals(OggQualityValue(ogg.vbrQuality)) +
               Format(" (%d kbps)", static_cast<int>(OggNominalKbps(ogg.vbrQuality)));
      }
      return Format("%d kbps", At(OggBitrateTable, ogg.cbrBitrate));
    }
    case Flac:
      return Format("level %d", SettingsBlockOf<FlacSettings>(track).level);
    case Opus: {
      const auto opus = SettingsBlockOf<OpusSettings>(track);
      const bool known = opus.mode >= 0 && static_cast<size_t>(opus.mode) < OpusModeNames.size();
      return Format("%d kbps %s", kOpusMinKbps + opus.bitrate,
                    known ? OpusModeNames[static_cast<size_t>(opus.mode)] : "");
    }
    default: {
      const auto mp3 = SettingsBlockOf<Mp3Settings>(track);
      if (mp3.vbrEnabled) {
        return Format("%d-%d kbps VBR Q%d", At(Mp3BitrateTable, mp3.bitrate),
                      At(Mp3BitrateTable, mp3.vbrMaxBitrate), mp3.vbrQuality + 1);
      }
      return Format("%d kbps", At(Mp3BitrateTable, mp3.bitrate));
    }
  }
}

}  // namespace

std::string TrackFormatText(const TrackRecord& track) {
  const char* word = FormatListWord(track.format);
  return word ? word + SettingsText(track) : std::string();
}

std::string TrackStatusText(int32_t status) {
  if (status >= kStatusError) return "ERROR";
  if (status == kStatusStopped) return "Stopped";
  if (status == kStatusCompleted) return "Completed";
  if (status >= 1) return Format("%d%%", status);
  return "Pending";
}

std::array<std::string, 5> TrackRowTexts(const TrackRecord& track,
                                         const std::string& outputFolder) {
  return {track.title, TrackLengthText(track.lengthSeconds), TrackFormatText(track),
          TrackStatusText(track.status), outputFolder};
}

std::vector<std::string> FormatTextChoices(int32_t format) {
  std::vector<FormatSettings> choices;
  const auto add = [&](auto change) {
    FormatSettings settings;
    change(settings);
    choices.push_back(settings);
  };
  const auto bitrates = [](const auto& table) { return static_cast<int32_t>(table.size()); };
  switch (format) {
    case Wav:
      for (int32_t rate = 0; rate < 4; ++rate)
        add([&](FormatSettings& f) { f.wav.sampleRate = rate; });
      break;
    case Ogg:
      for (int32_t q = 0; q <= 20; ++q) add([&](FormatSettings& f) { f.ogg.vbrQuality = q; });
      for (int32_t a = 0; a < bitrates(OggBitrateTable); ++a) {
        add([&](FormatSettings& f) { f.ogg = {.useVbr = 0, .cbrBitrate = a}; });
        for (int32_t b = 0; b < bitrates(OggBitrateTable); ++b) {
          add([&](FormatSettings& f) { f.ogg = {.useBbr = 1, .bbrNominal = a, .bbrMax = b}; });
        }
      }
      break;
    case Mp3:
      for (int32_t a = 0; a < bitrates(Mp3BitrateTable); ++a) {
        add([&](FormatSettings& f) { f.mp3 = {.bitrate = a, .vbrEnabled = 0}; });
        for (int32_t b = 0; b < bitrates(Mp3BitrateTable); ++b) {
          for (int32_t q = 0; q <= 9; ++q) {
            add([&](FormatSettings& f) {
              f.mp3 = {.bitrate = a, .vbrEnabled = 1, .vbrQuality = q, .vbrMaxBitrate = b};
            });
          }
        }
      }
      break;
    case Flac:
      for (int32_t level = 0; level <= 8; ++level)
        add([&](FormatSettings& f) { f.flac.level = level; });
      break;
    case Opus:
      for (int32_t kbps = 0; kbps <= kOpusMaxKbps - kOpusMinKbps; ++kbps) {
        for (int32_t mode = kOpusVbr; mode <= kOpusCbr; ++mode)
          add([&](FormatSettings& f) { f.opus = {.bitrate = kbps, .mode = mode}; });
      }
      break;
    default:
      break;
  }
  std::vector<std::string> texts;
  for (const FormatSettings& settings : choices) {
    TrackRecord record;
    record.format = static_cast<uint32_t>(format);
    record.formatSettings = FormatSettingsWords(settings, format);
    texts.push_back(TrackFormatText(record));
  }
  return texts;
}

std::string TrackVerificationText(const TrackRecord& track) {
  if (track.ctdb.empty()) return track.accurateRip;
  return track.accurateRip + (track.accurateRip.empty() ? "CTDB: " : "; CTDB: ") + track.ctdb;
}
