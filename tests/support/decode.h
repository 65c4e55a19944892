// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Decoding what the encoders write: MP3 with libmpg123 (gapless, so a file with an info frame
// decodes to exactly the samples that were encoded), Ogg Vorbis with libvorbisfile, FLAC with
// the reference `flac` tool.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct Decoded {
  bool ok = false;
  long rate = 0;
  int channels = 0;
  std::vector<int16_t> samples;  // interleaved
  size_t frames() const { return channels ? samples.size() / channels : 0; }
};

// The whole file as 16-bit samples; ok is false when libmpg123 did not reach its end.
Decoded Decode(const std::string& path);

struct OggDecoded {
  long rate = 0, nominalBitrate = 0;
  std::vector<std::string> comments;
  std::vector<std::vector<float>> audio;  // per channel, up to the first hole or error
  size_t frames() const { return audio.empty() ? 0 : audio[0].size(); }
};

OggDecoded DecodeOgg(const std::string& path);

// The FLAC file's audio as 16-bit little-endian PCM, decoded by `flac -d`; nullopt when flac
// reports an error (a damaged or unfinished stream).
std::optional<std::string> DecodeFlac(const std::string& path);
