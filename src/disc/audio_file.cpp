// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/audio_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <FLAC/metadata.h>
#include <FLAC/stream_decoder.h>

namespace {

// RIFF headers with a few metadata chunks fit in far less; a data chunk beyond this is not
// looked for.
constexpr size_t kHeadBytes = 1 << 16;

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

std::string DescribeFormat(unsigned bits, unsigned rate, unsigned channels) {
  std::string text = std::to_string(bits) + "-bit " + std::to_string(rate) + " Hz ";
  text += channels == 1 ? "mono" : channels == 2 ? "stereo" : std::to_string(channels) + "-channel";
  return "holds " + text + " audio; only 16-bit 44100 Hz stereo PCM can be read";
}

// Recognises what a file that is neither WAVE nor FLAC holds, for the message.
std::string OtherContent(const uint8_t* head, size_t size) {
  auto starts = [&](const char* magic) {
    const size_t n = std::strlen(magic);
    return size >= n && std::memcmp(head, magic, n) == 0;
  };
  if (starts("ID3") || (size >= 2 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0)) {
    return "holds MP3 audio, not WAVE or FLAC";
  }
  if (starts("OggS")) return "holds Ogg audio, not WAVE or FLAC";
  if (starts("FORM")) return "holds AIFF audio, not WAVE or FLAC";
  if (starts("RF64")) return "is an RF64 file, not WAVE or FLAC";
  if (starts("RIFF")) return "is a RIFF file but not WAVE audio";
  return "is neither a WAVE nor a FLAC file";
}

// An ID3v2 tag some taggers put before a FLAC stream: its length, 0 when there is none.
size_t Id3v2Length(const uint8_t* head, size_t size) {
  if (size < 10 || std::memcmp(head, "ID3", 3) != 0) return 0;
  size_t length = 10;
  for (int i = 6; i < 10; ++i) length = length << 7 | (head[i] & 0x7F);
  return (head[5] & 0x10) ? length + 10 : length;
}

bool ProbeFlac(const std::string& path, AudioFileFacts& facts, std::string& why) {
  FLAC__StreamMetadata info;
  if (!FLAC__metadata_get_streaminfo(path.c_str(), &info)) {
    why = "is not a FLAC file that can be read";
    return false;
  }
  const auto& s = info.data.stream_info;
  if (s.bits_per_sample != 16 || s.sample_rate != 44100 || s.channels != 2) {
    why = DescribeFormat(s.bits_per_sample, s.sample_rate, s.channels);
    return false;
  }
  if (s.total_samples == 0) {
    why = "is a FLAC file that does not say how long it is";
    return false;
  }
  facts = {AudioFileKind::kFlac, 0, s.total_samples * 4};
  return true;
}

}  // namespace

bool ParseWaveHeader(const uint8_t* head, size_t size, uint64_t fileSize, AudioFileFacts& facts,
                     std::string& why) {
  if (size < 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) {
    why = OtherContent(head, size);
    return false;
  }
  bool haveFormat = false;
  for (uint64_t at = 12; at + 8 <= size;) {
    const uint8_t* chunk = head + at;
    const uint32_t length = Le32(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (length < 16 || at + 8 + 16 > size) {
        why = "has a WAVE format chunk that is cut short";
        return false;
      }
      const uint8_t* f = chunk + 8;
      uint16_t tag = Le16(f);
      // WAVE_FORMAT_EXTENSIBLE names the real format in its sub-format GUID's first word.
      if (tag == 0xFFFE && length >= 40 && at + 8 + 26 <= size) tag = Le16(f + 24);
      const unsigned channels = Le16(f + 2), rate = Le32(f + 4), bits = Le16(f + 14);
      if (tag != 1) {
        why = "holds WAVE audio that is not PCM (format " + std::to_string(tag) +
              "); only 16-bit 44100 Hz stereo PCM can be read";
        return false;
      }
      if (bits != 16 || rate != 44100 || channels != 2 || Le16(f + 12) != 4) {
        why = DescribeFormat(bits, rate, channels);
        return false;
      }
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) {
        why = "is a WAVE file whose data chunk comes before its format chunk";
        return false;
      }
      const uint64_t start = at + 8;
      // Writers that cannot seek back leave the length unset: the data runs to the end.
      uint64_t bytes = length;
      if ((length == 0 || length == 0xFFFFFFFF) && fileSize > start) bytes = fileSize - start;
      facts = {AudioFileKind::kWave, start, bytes & ~uint64_t{3}};
      return true;
    }
    at += 8 + uint64_t{length} + (length & 1);  // chunks are padded to an even length
  }
  why =
      haveFormat ? "is a WAVE file without a data chunk" : "is a WAVE file without a format chunk";
  return false;
}

bool ProbeAudioFile(const std::string& path, bool rawAllowed, AudioFileFacts& facts,
                    std::string& why) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why = std::string("cannot be opened (") + std::strerror(errno) + ")";
    return false;
  }
  struct stat st {};
  std::vector<uint8_t> head(kHeadBytes);
  ssize_t got = fstat(fd, &st) == 0 ? pread(fd, head.data(), head.size(), 0) : -1;
  close(fd);
  if (got < 0) {
    why = std::string("cannot be read (") + std::strerror(errno) + ")";
    return false;
  }
  const auto size = static_cast<size_t>(got);
  const auto fileSize = static_cast<uint64_t>(st.st_size);
  const size_t id3 = Id3v2Length(head.data(), size);
  if (size >= 4 && std::memcmp(head.data(), "fLaC", 4) == 0) return ProbeFlac(path, facts, why);
  if (id3 > 0 && id3 + 4 <= size && std::memcmp(head.data() + id3, "fLaC", 4) == 0) {
    return ProbeFlac(path, facts, why);
  }
  if (size >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0 &&
      std::memcmp(head.data() + 8, "WAVE", 4) == 0) {
    return ParseWaveHeader(head.data(), size, fileSize, facts, why);
  }
  if (rawAllowed) {
    facts = {AudioFileKind::kRaw, 0, fileSize};
    return true;
  }
  why = OtherContent(head.data(), size);
  return false;
}

// --- FLAC decoding ---

struct FlacPcmReader::State {
  std::string path;
  FLAC__StreamDecoder* decoder = nullptr;
  bool open = false;    // initialised on the file
  bool seeked = false;  // since the last initialisation: the MD5 cannot be checked
  bool ended = false;   // reached the end of the stream
  bool error = false;   // libFLAC reported a damaged stream during the current read
  bool md5Failed = false;
  uint64_t totalSamples = 0;  // as the header says
  // The last decoded frame: samples [windowStart, windowStart + window.size() / 4).
  std::vector<uint8_t> window;
  uint64_t windowStart = 0;
  uint64_t nextSample = 0;  // the first sample of the next frame libFLAC hands over

  uint64_t WindowEnd() const { return windowStart + window.size() / 4; }

  static FLAC__StreamDecoderWriteStatus Write(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                              const FLAC__int32* const buffer[], void* data) {
    auto* self = static_cast<State*>(data);
    const uint32_t n = frame->header.blocksize;
    self->window.resize(size_t{n} * 4);
    uint8_t* out = self->window.data();
    const bool stereo = frame->header.channels >= 2;
    for (uint32_t i = 0; i < n; ++i) {
      const auto l = static_cast<uint16_t>(buffer[0][i]);
      const auto r = static_cast<uint16_t>(stereo ? buffer[1][i] : buffer[0][i]);
      out[4 * i] = static_cast<uint8_t>(l);
      out[4 * i + 1] = static_cast<uint8_t>(l >> 8);
      out[4 * i + 2] = static_cast<uint8_t>(r);
      out[4 * i + 3] = static_cast<uint8_t>(r >> 8);
    }
    self->windowStart = self->nextSample;
    self->nextSample += n;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  static void Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data) {
    static_cast<State*>(data)->error = true;
  }

  bool Open() {
    if (open) return true;
    if (!decoder) decoder = FLAC__stream_decoder_new();
    if (!decoder) return false;
    FLAC__stream_decoder_set_md5_checking(decoder, true);
    if (FLAC__stream_decoder_init_file(decoder, path.c_str(), Write, nullptr, Error, this) !=
        FLAC__STREAM_DECODER_INIT_STATUS_OK) {
      return false;
    }
    open = true;
    seeked = ended = false;
    window.clear();
    windowStart = nextSample = 0;
    return true;
  }

  void Close() {
    if (!open) return;
    // Only a whole stream decoded in order can be checked against its MD5.
    const bool whole = !seeked && WindowEnd() == totalSamples && !error;
    const bool md5Ok = FLAC__stream_decoder_finish(decoder);
    if (whole && !md5Ok) md5Failed = true;
    open = false;
  }

  bool Seek(uint64_t sample) {
    if (!Open()) return false;
    seeked = true;
    ended = false;
    window.clear();
    nextSample = sample;
    if (FLAC__stream_decoder_seek_absolute(decoder, sample)) return true;
    // A failed seek leaves the decoder unusable until it starts again.
    Close();
    return false;
  }

  // Decodes the next frame into the window; false at the end of the stream or on an error.
  bool Next() {
    if (!Open() || ended) return false;
    window.clear();
    windowStart = nextSample;
    if (!FLAC__stream_decoder_process_single(decoder)) {
      error = true;
      Close();
      return false;
    }
    if (FLAC__stream_decoder_get_state(decoder) == FLAC__STREAM_DECODER_END_OF_STREAM) {
      ended = true;
      if (window.empty()) return false;
    }
    return !window.empty() || Next();
  }
};

FlacPcmReader::FlacPcmReader(std::string path, uint64_t totalSamples)
    : state_(std::make_unique<State>()) {
  state_->path = std::move(path);
  state_->totalSamples = totalSamples;
}

FlacPcmReader::~FlacPcmReader() {
  if (state_->decoder) {
    FLAC__stream_decoder_finish(state_->decoder);
    FLAC__stream_decoder_delete(state_->decoder);
  }
}

bool FlacPcmReader::Read(uint64_t at, size_t bytes, uint8_t* out, bool& pastEnd) {
  State& s = *state_;
  pastEnd = false;
  s.error = false;
  uint64_t sample = at / 4;
  size_t count = bytes / 4;
  // Reading on from where the last read stopped, or a little past it, is decoding; anything
  // else (back, or far ahead) is a seek.
  constexpr uint64_t kDecodeAhead = 44100;
  while (count > 0) {
    if (sample >= s.windowStart && sample < s.WindowEnd()) {
      const size_t n = std::min<uint64_t>(count, s.WindowEnd() - sample);
      std::memcpy(out, s.window.data() + (sample - s.windowStart) * 4, n * 4);
      out += n * 4;
      sample += n;
      count -= n;
      continue;
    }
    // A stream opened afresh decodes from its start, so that reading it whole checks its MD5.
    if (!s.open && !s.Open()) {
      s.error = true;
      return false;
    }
    const bool ahead = sample >= s.WindowEnd() && sample - s.WindowEnd() < kDecodeAhead;
    if (!ahead) {
      if (!s.Seek(sample)) {
        pastEnd = !s.error;
        return false;
      }
      if (!s.window.empty()) continue;  // the seek decoded the frame holding `sample`
    }
    if (!s.Next()) {
      pastEnd = !s.error;
      return false;
    }
    if (s.error) return false;
  }
  // The stream's last sample was just read: finishing now checks the MD5 of a stream read
  // whole and in order. The window stays, for a read that goes back a little.
  if (s.open && sample == s.totalSamples && s.WindowEnd() == sample && !s.seeked) s.Close();
  if (s.md5Failed && sample == s.totalSamples) return false;
  return !s.error;
}
