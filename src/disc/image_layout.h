// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// A disc image read by Obrin itself: where each stretch of the disc's sectors lies (in which
// file, at which byte, or nowhere: silence), the tracks over them and the disc's texts. Image
// formats whose libcdio readers misplace tracks are parsed into this and read through
// OpenImageLayout.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/disc_model.h"
#include "disc/cd_device.h"

// How a file holds its sectors' bytes.
enum class SpanCoding : uint8_t {
  kRaw,      // as they are (a bin, a WAV's data chunk)
  kSwapped,  // 16-bit words big-endian (a cue sheet's MOTOROLA file)
  kFlac,     // FLAC-compressed: offsets count bytes of the decoded PCM
};

// A run of consecutive sectors of the disc.
struct ImageSpan {
  uint32_t sectors = 0;
  bool silent = true;           // read as zeros: no file holds it
  std::string path;             // the file that holds it, when not silent
  uint64_t byteOffset = 0;      // where its first sector begins in that file
  uint32_t sectorBytes = 2352;  // a sector's bytes in the file (a data mode's may be fewer)
  uint32_t strideBytes = 2352;  // from one sector to the next (more with subchannel data)
  SpanCoding coding = SpanCoding::kRaw;
  // Where the file's audio ends, as its header or size says: a last partial sector reads as
  // zeros beyond it. Bytes the file lacks before it are an image cut short.
  uint64_t audioEnd = UINT64_MAX;
};

struct ImageTrack {
  uint32_t start = 0;                   // index 1, in sectors from the disc's start
  uint32_t pregap = 0;                  // sectors of index 0 before it
  std::vector<TrackIndexMark> indexes;  // indexes 02.., on the disc
  uint8_t control = 0;                  // as CdTocTrack's
  CdTextFields text;                    // code: the track's ISRC
};

struct ImageLayout {
  std::vector<ImageSpan> spans;  // from sector 0 on, without holes
  std::vector<ImageTrack> tracks;
  uint32_t leadOut = 0;            // the end of the last span
  CdTextFields discText;           // code: the disc's catalogue number (UPC/EAN)
  std::vector<std::string> notes;  // what the user should know about how it was read
};

// A session reading the layout's files (opened on first use). A read beyond the end of a
// file fails as a read past the disc's end does, which is what a truncated image is. Null,
// with why, when the layout holds no track or more than 99.
std::unique_ptr<CdSession> OpenImageLayout(ImageLayout layout, std::string& why);

// For tests and benchmarks only, never for users: OBRIN_IMAGE_SPEED=N makes an image deliver
// its audio no faster than an N-speed drive (N x 75 sectors a second), so that how a rip
// overlaps reading and encoding can be measured without a drive. Unset, empty or not a
// positive number: full speed. Paces the image sessions' reads.
class ImagePacer {
 public:
  ImagePacer();
  void Delivered(uint32_t sectors);  // returns once the reads so far would have taken that long

 private:
  double speed_ = 0;
  uint64_t sectors_ = 0;
  std::chrono::steady_clock::time_point start_;
};
