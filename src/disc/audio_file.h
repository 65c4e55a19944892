// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The audio files a cue sheet may name: raw sectors, RIFF WAVE and FLAC, told apart by what
// they hold (rippers call a FLAC file WAVE, and a WAV file is sometimes called BINARY), and a
// reader of FLAC files' PCM.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

enum class AudioFileKind { kRaw, kWave, kFlac };

struct AudioFileFacts {
  AudioFileKind kind = AudioFileKind::kRaw;
  uint64_t dataOffset = 0;  // where the PCM starts (a WAV's data chunk); 0 otherwise
  uint64_t audioBytes = 0;  // PCM bytes, as the header says (FLAC: decoded), else the size
};

// Looks at the file's first bytes. `rawAllowed`: a file that is neither WAVE nor FLAC is
// taken as raw sectors (a BINARY file) rather than refused. False, with why (a phrase such
// as "holds 24-bit audio; only 16-bit 44100 Hz stereo PCM can be read"), when it cannot be
// read as CD audio.
bool ProbeAudioFile(const std::string& path, bool rawAllowed, AudioFileFacts& facts,
                    std::string& why);

// The RIFF WAVE header in `head` (the file's first bytes; `fileSize` its whole size): where
// its data chunk lies. False, with why, when it is not 44.1 kHz 16-bit stereo PCM or has no
// data chunk within `head`.
bool ParseWaveHeader(const uint8_t* head, size_t size, uint64_t fileSize, AudioFileFacts& facts,
                     std::string& why);

// Decodes a FLAC file's PCM (16-bit little-endian stereo) on demand, seeking when a read does
// not follow the last one. A file decoded from its start to its end without a seek has its
// MD5 checked; a mismatch makes that read, and every later one that reaches the end, fail.
class FlacPcmReader {
 public:
  // `totalSamples`: the length the file's header gives (AudioFileFacts::audioBytes / 4).
  FlacPcmReader(std::string path, uint64_t totalSamples);
  ~FlacPcmReader();
  FlacPcmReader(const FlacPcmReader&) = delete;
  FlacPcmReader& operator=(const FlacPcmReader&) = delete;

  // Fills out[0..bytes) with the PCM from byte `at` (both multiples of 4). False when the
  // file cannot be decoded there; `pastEnd` is then set when the stream simply ended first.
  bool Read(uint64_t at, size_t bytes, uint8_t* out, bool& pastEnd);

 private:
  struct State;
  std::unique_ptr<State> state_;
};
