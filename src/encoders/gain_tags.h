// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Loudness tags written into finished files (through TagLib): ReplayGain 2.0 as
// REPLAYGAIN_TRACK_GAIN / _PEAK and REPLAYGAIN_ALBUM_GAIN / _PEAK in FLAC and Ogg Vorbis
// comments and as ID3v2.4 TXXX frames of those descriptions; in Opus, as RFC 7845 asks,
// R128_TRACK_GAIN / R128_ALBUM_GAIN alone.
#include <cstdint>
#include <string>

#include "capture/loudness.h"

// ReplayGain 2.0 aims at -18 LUFS, Opus's R128 gains at -23 LUFS.
inline constexpr double kReplayGainReference = -18.0;
inline constexpr double kR128Reference = -23.0;

// "1.99 dB", "-3.40 dB": the gain to the reference, two decimals, no "+"; "0.00 dB" when
// silent.
std::string ReplayGainText(const LoudnessValues& values);
// "0.100006": the linear peak, six decimals.
std::string PeakText(const LoudnessValues& values);
// The gain to -23 LUFS in 1/256 dB (Q7.8), within the int16 range; 0 when silent.
int R128Gain(const LoudnessValues& values);

// Adds the track's (and, when `album` is given, the album's) tags to the file of `format` at
// `path`, replacing any earlier ones of those names. WAV files carry none (true). False when
// the file could not be read or written.
bool WriteGainTags(const std::string& path, uint32_t format, const LoudnessValues& track,
                   const LoudnessValues* album);
