// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The AccurateRip databases the tests serve: sums of a ripped WAV as whipper's
// accuraterip-checksum works them out (not as Obrin does), and the dBAR entries that hold them.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/test_env.h"

// The sum (`version`: "--accuraterip-v1" or "--accuraterip-v2") of `wav`, track `track` of
// `tracks`.
inline uint32_t AccurateRipSum(const char* version, const std::string& wav, int track, int tracks) {
  const CommandResult r = RunCommand({"/usr/bin/accuraterip-checksum", version, wav,
                                      std::to_string(track), std::to_string(tracks)});
  return static_cast<uint32_t>(std::stoul(r.out, nullptr, 16));
}

// One dBAR entry: the track count, the disc's ids, then each track's confidence and sum, all
// words little-endian.
inline std::string DbarEntry(const std::vector<std::pair<uint8_t, uint32_t>>& tracks,
                             uint32_t id1 = 0, uint32_t id2 = 0, uint32_t freedb = 0) {
  std::string out(1, static_cast<char>(tracks.size()));
  const auto word = [&out](uint32_t w) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(w >> (8 * i));
  };
  word(id1);
  word(id2);
  word(freedb);
  for (const auto& [confidence, sum] : tracks) {
    out += static_cast<char>(confidence);
    word(sum);
    word(0);
  }
  return out;
}
