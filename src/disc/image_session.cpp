// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// CdSession over an ImageLayout: reads the files of an image Obrin parsed itself.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <thread>

#include "disc/audio_file.h"
#include "disc/image_layout.h"

namespace {

struct LockedFlacReader {
  LockedFlacReader(const std::string& path, uint64_t samples) : reader(path, samples) {}
  std::mutex mutex;
  FlacPcmReader reader;
};

// A rip opens the image once per track, one after another. The FLAC decoders outlive those
// sessions, so that a disc read in order is one decode of each file from start to end (no
// seek at each track, and the files' MD5s checked). A file rewritten since is a new one.
std::shared_ptr<LockedFlacReader> SharedFlacReader(const std::string& path, uint64_t samples) {
  struct Entry {
    std::string key;
    std::shared_ptr<LockedFlacReader> reader;
  };
  static std::mutex mutex;
  static std::list<Entry> recent;  // the most recently used first
  constexpr size_t kKept = 4;
  struct stat st {};
  stat(path.c_str(), &st);
  const std::string key = path + '\n' + std::to_string(samples) + '\n' + std::to_string(st.st_ino) +
                          '\n' + std::to_string(st.st_size) + '\n' +
                          std::to_string(st.st_mtim.tv_sec) + '.' +
                          std::to_string(st.st_mtim.tv_nsec);
  std::lock_guard lock(mutex);
  auto it =
      std::find_if(recent.begin(), recent.end(), [&](const Entry& e) { return e.key == key; });
  if (it != recent.end()) {
    recent.splice(recent.begin(), recent, it);
  } else {
    recent.push_front({key, std::make_shared<LockedFlacReader>(path, samples)});
    if (recent.size() > kKept) recent.pop_back();
  }
  return recent.front().reader;
}

class ImageSession : public CdSession {
 public:
  ImageSession(ImageLayout layout, const TocBuffer& toc) : layout_(std::move(layout)), toc_(toc) {
    uint32_t start = 0;
    for (const ImageSpan& span : layout_.spans) {
      spanStarts_.push_back(start);
      start += span.sectors;
    }
  }
  ~ImageSession() override {
    for (const auto& [path, fd] : files_) {
      if (fd >= 0) close(fd);
    }
  }

  bool ReadToc(TocBuffer& toc) override {
    toc = toc_;
    return true;
  }

  bool ReadPregaps(std::vector<uint32_t>& sectors) override {
    sectors.clear();
    for (const ImageTrack& track : layout_.tracks) sectors.push_back(track.pregap);
    return true;
  }

  bool ReadIndexes(std::vector<std::vector<TrackIndexMark>>& marks) override {
    marks.clear();
    for (const ImageTrack& track : layout_.tracks) marks.push_back(track.indexes);
    return true;
  }

  bool ReadCdText(DiscCdText& text) override {
    const auto empty = [](const CdTextFields& f) {
      return f.title.empty() && f.performer.empty() && f.songwriter.empty() && f.code.empty();
    };
    text.disc = layout_.discText;
    text.tracks.clear();
    bool any = !empty(text.disc);
    for (const ImageTrack& track : layout_.tracks) {
      text.tracks.push_back(track.text);
      any = any || !empty(track.text);
    }
    return any;
  }

  bool ReadAudio(TrackBuffer& buffer, uint32_t& libError, uint32_t& aspiStatus) override {
    const uint32_t count = buffer.sectorCount;
    if (uint64_t{buffer.startSector} + count > layout_.leadOut) {
      libError = kCdErrPastEnd;
      aspiStatus = kAspiError;
      return false;
    }
    uint8_t* out = TrackBufferData(&buffer);
    for (uint32_t done = 0; done < count;) {
      const uint32_t sector = buffer.startSector + done;
      const size_t s =
          static_cast<size_t>(std::upper_bound(spanStarts_.begin(), spanStarts_.end(), sector) -
                              spanStarts_.begin() - 1);
      const ImageSpan& span = layout_.spans[s];
      const uint32_t within = sector - spanStarts_[s];
      const uint32_t run = std::min(count - done, span.sectors - within);
      if (!ReadSpan(span, within, run, out + size_t{done} * kSectorBytes, libError)) {
        aspiStatus = kAspiError;
        return false;
      }
      done += run;
    }
    buffer.deliveredLength = count * kSectorBytes;
    buffer.offset = 0;
    pacer_.Delivered(count);
    return true;
  }

  std::vector<std::string> OpenNotes() const override { return layout_.notes; }

  bool SetOption(int which, uint32_t value) override {
    if (which == kCdParmReadRetries) return value <= 10;
    return which == kCdParmParanoia && value <= 1;  // an exact copy: nothing to correct
  }

 private:
  bool ReadSpan(const ImageSpan& span, uint32_t within, uint32_t sectors, uint8_t* out,
                uint32_t& libError) {
    const size_t bytes = size_t{sectors} * kSectorBytes;
    // Silence, and data-mode sectors (not audio: what a read offset may run into), are zeros.
    if (span.silent || span.sectorBytes != kSectorBytes) {
      std::memset(out, 0, bytes);
      return true;
    }
    const int fd = span.coding == SpanCoding::kFlac ? 0 : FileOf(span.path);
    if (fd < 0) {
      libError = kCdErrRead;
      return false;
    }
    const uint64_t first = span.byteOffset + uint64_t{within} * span.strideBytes;
    if (span.strideBytes == kSectorBytes) {
      // Past the audio's end, within the file's last sector, is padding: zeros.
      const size_t audio =
          span.audioEnd > first
              ? static_cast<size_t>(std::min<uint64_t>(bytes, span.audioEnd - first))
              : 0;
      std::memset(out + audio, 0, bytes - audio);
      if (span.coding == SpanCoding::kFlac) return ReadFlac(span, first, audio, out, libError);
      if (!ReadAt(fd, out, audio, first, libError)) return false;
      if (span.coding == SpanCoding::kSwapped) {
        for (size_t i = 0; i + 1 < audio; i += 2) std::swap(out[i], out[i + 1]);
      }
      return true;
    }
    for (uint32_t i = 0; i < sectors; ++i) {
      if (!ReadAt(fd, out + size_t{i} * kSectorBytes, kSectorBytes,
                  first + uint64_t{i} * span.strideBytes, libError)) {
        return false;
      }
    }
    return true;
  }

  // A file that ends before the bytes asked for is an image cut short.
  static bool ReadAt(int fd, uint8_t* out, size_t bytes, uint64_t at, uint32_t& libError) {
    for (size_t got = 0; got < bytes;) {
      const ssize_t n = pread(fd, out + got, bytes - got, static_cast<off_t>(at + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        libError = n == 0 ? kCdErrPastEnd : kCdErrRead;
        return false;
      }
      got += static_cast<size_t>(n);
    }
    return true;
  }

  bool ReadFlac(const ImageSpan& span, uint64_t at, size_t bytes, uint8_t* out,
                uint32_t& libError) {
    auto& reader = flacReaders_[span.path];
    if (!reader) reader = SharedFlacReader(span.path, span.audioEnd / 4);
    bool pastEnd = false;
    std::lock_guard lock(reader->mutex);
    if (reader->reader.Read(at, bytes, out, pastEnd)) return true;
    libError = pastEnd ? kCdErrPastEnd : kCdErrRead;
    return false;
  }

  int FileOf(const std::string& path) {
    const auto it = files_.find(path);
    if (it != files_.end()) return it->second;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    files_[path] = fd;
    return fd;
  }

  ImageLayout layout_;
  TocBuffer toc_;
  std::vector<uint32_t> spanStarts_;
  std::map<std::string, int> files_;
  std::map<std::string, std::shared_ptr<LockedFlacReader>> flacReaders_;
  ImagePacer pacer_;
};

}  // namespace

std::unique_ptr<CdSession> OpenImageLayout(ImageLayout layout, std::string& why) {
  std::vector<CdTocTrack> tracks;
  for (const ImageTrack& track : layout.tracks) tracks.push_back({track.start, track.control});
  TocBuffer toc{};
  if (layout.spans.empty() || !FillTocBuffer(1, tracks, layout.leadOut, toc)) {
    why = tracks.empty() ? "it holds no track" : "it holds more than 99 tracks";
    return nullptr;
  }
  return std::make_unique<ImageSession>(std::move(layout), toc);
}

ImagePacer::ImagePacer() {
  const char* text = std::getenv("OBRIN_IMAGE_SPEED");
  if (!text || !*text) return;
  char* end = nullptr;
  const double speed = std::strtod(text, &end);
  if (*end == '\0' && speed > 0 && speed < 1e6) speed_ = speed;
}

void ImagePacer::Delivered(uint32_t sectors) {
  if (speed_ <= 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (sectors_ == 0) start_ = now;
  sectors_ += sectors;
  const std::chrono::duration<double> due(double(sectors_) / (75.0 * speed_));
  std::this_thread::sleep_until(start_ + std::chrono::duration_cast<std::chrono::nanoseconds>(due));
}
