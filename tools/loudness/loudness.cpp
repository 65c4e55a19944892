// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// loudness: libebur128 alone over raw CD audio (44.1 kHz 16-bit little-endian stereo), the
// benchmark's measure of what the measurement itself costs: integrated loudness and the
// largest peak, in the modes a rip with ReplayGain uses.
#include <ebur128.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  bool truePeak = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--true-peak") == 0) {
      truePeak = true;
    } else {
      path = argv[i];
    }
  }
  if (!path) {
    std::fprintf(stderr, "Usage: loudness [--true-peak] FILE.bin\n");
    return 2;
  }
  FILE* in = std::fopen(path, "rb");
  if (!in) {
    std::perror(path);
    return 1;
  }
  ebur128_state* state = ebur128_init(
      2, 44100, EBUR128_MODE_I | (truePeak ? EBUR128_MODE_TRUE_PEAK : EBUR128_MODE_SAMPLE_PEAK));
  if (!state) return 1;
  std::vector<short> frames(2 * 588 * 26);  // the pieces a rip hands over
  for (size_t got; (got = std::fread(frames.data(), 4, frames.size() / 2, in)) > 0;) {
    ebur128_add_frames_short(state, frames.data(), got);
  }
  std::fclose(in);
  double lufs = 0, peak = 0;
  ebur128_loudness_global(state, &lufs);
  for (unsigned channel = 0; channel < 2; ++channel) {
    double value = 0;
    if (truePeak) {
      ebur128_true_peak(state, channel, &value);
    } else {
      ebur128_sample_peak(state, channel, &value);
    }
    peak = std::max(peak, value);
  }
  ebur128_destroy(&state);
  std::printf("%.2f LUFS, peak %.6f\n", lufs, peak);
  return 0;
}
