// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "encoders/wav_writer.h"

#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "capture/capture.h"
#include "config/settings.h"
#include "encoders/pcm_convert.h"
#include "encoders/streamed_file.h"

namespace {

void PutU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
void PutU16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

// Appends the audio to the file behind the header, converted to the track's WAV settings
// when it asks for something other than the disc's own format (no converter: a straight
// copy, bit for bit). Counts the bytes that reach the file.
class WavFileSink : public PcmSink {
 public:
  WavFileSink(FILE* file, PcmConverter* converter) : file_(file), converter_(converter) {}
  bool Write(const uint8_t* data, size_t size) override {
    if (!converter_) return Append(data, size);
    converted_.clear();
    return converter_->Convert(data, size, converted_) &&
           Append(converted_.data(), converted_.size());
  }
  // The end of the audio: writes what the converter still holds.
  bool Finish() {
    if (!converter_) return true;
    converted_.clear();
    return converter_->Finish(converted_) && Append(converted_.data(), converted_.size());
  }
  uint32_t dataSize() const {
    // A RIFF file cannot describe more; a CD track never comes near it.
    return dataSize_ > 0xFFFFFFFFu - 36 ? 0xFFFFFFFFu - 36 : static_cast<uint32_t>(dataSize_);
  }

 private:
  bool Append(const uint8_t* data, size_t size) {
    if (size == 0) return true;  // a converter may have nothing to give (and no buffer)
    const size_t written = std::fwrite(data, 1, size, file_);
    dataSize_ += written;
    return written == size;
  }

  FILE* file_;
  PcmConverter* converter_;
  std::vector<uint8_t> converted_;
  uint64_t dataSize_ = 0;
};

// After a failed write (a full disk, a file size limit) stdio may still hold bytes it counted
// as written but could not put in the file. Drops them and cuts the file to the whole frames
// it really holds, so that the header can tell the truth and the file stays a valid WAV of
// the audio before the failure. Returns that data size.
uint32_t KeepWholeFramesOnDisk(FILE* file, uint32_t counted, const WavFormat& format) {
  __fpurge(file);
  struct stat st;
  if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return counted;
  const uint64_t held = st.st_size > 44 ? static_cast<uint64_t>(st.st_size) - 44 : 0;
  const uint64_t frameBytes = uint64_t{format.channels} * (format.bitsPerSample / 8);
  uint64_t data = std::min<uint64_t>(held, counted);
  if (frameBytes > 0) data -= data % frameBytes;
  // Shrinking needs no room on the disk; should it fail all the same, the header still
  // describes only audio the file holds.
  if (held > data) {
    [[maybe_unused]] const int ignored = ftruncate(fileno(file), static_cast<off_t>(44 + data));
  }
  return static_cast<uint32_t>(data);
}

}  // namespace

bool WriteWavHeader(FILE* file, uint32_t dataSize, const WavFormat& format) {
  if (!file) return false;
  const uint16_t blockAlign = static_cast<uint16_t>(format.channels * (format.bitsPerSample / 8));
  std::array<uint8_t, 44> header{};
  std::memcpy(&header[0], "RIFF", 4);
  PutU32(&header[4], dataSize + 36);
  std::memcpy(&header[8], "WAVE", 4);
  std::memcpy(&header[12], "fmt ", 4);
  PutU32(&header[16], 16);
  PutU16(&header[20], 1);
  PutU16(&header[22], format.channels);
  PutU32(&header[24], format.sampleRate);
  PutU32(&header[28], format.sampleRate * blockAlign);
  PutU16(&header[32], blockAlign);
  PutU16(&header[34], format.bitsPerSample);
  std::memcpy(&header[36], "data", 4);
  PutU32(&header[40], dataSize);
  if (std::fseek(file, 0, SEEK_SET) != 0) return false;
  return std::fwrite(header.data(), 1, header.size(), file) == header.size();
}

namespace {

// The WAV file of job.track at job.targetPath: the header, the audio that `feed(sink)` hands
// to the sink (converted to the track's WAV settings), the header again with the real size.
// `feed` gets a null sink when the header or the converter failed, and returns what became
// of the audio; `release` runs once the status is known, before the header is finalised.
template <typename Feed, typename Release>
void WriteWavFile(RipHost& mainWindow, CaptureJob& job, Feed feed, Release release) {
  TrackRecord& track = *job.track;
  OutputFileLock lock;
  FILE* file = CreateCaptureTarget(mainWindow, job, &lock);
  if (!file) return;
  const PcmFormat target = WavOutputFormat(SettingsBlockOf<WavSettings>(track));
  const WavFormat format{target.sampleRate, target.channels, target.bitsPerSample};
  PcmConverter converter;
  const bool convert = target != kCdPcmFormat;
  bool writeFailed = !WriteWavHeader(file, 0, format) || (convert && !converter.Init(target));

  WavFileSink sink(file, convert ? &converter : nullptr);
  ReadLoopResult result = feed(writeFailed ? nullptr : &sink);
  // Also after a stop or a read error: the resampler's tail belongs to the audio read.
  if (!writeFailed && !result.writeFailed && !sink.Finish()) writeFailed = true;
  writeFailed = writeFailed || result.writeFailed;
  // The tail of the audio must be in the file before the header describes it; a full disk
  // often shows up only here.
  if (!writeFailed && std::fflush(file) != 0) writeFailed = true;
  if (track.status != kStatusStopped) {
    track.status = result.readFailed || writeFailed ? kStatusError : kStatusCompleted;
  }
  release();

  const uint32_t dataSize =
      writeFailed ? KeepWholeFramesOnDisk(file, sink.dataSize(), format) : sink.dataSize();
  const bool headerWritten = WriteWavHeader(file, dataSize, format);
  // A file deleted while it was written (its folder removed, say) took the audio with it.
  const bool removed = OutputFileRemoved(file);
  const bool closed = std::fclose(file) == 0;
  if (!writeFailed && !(headerWritten && closed && !removed)) {
    // The loop already reported its own write failure; report the late ones once.
    mainWindow.ShowErrorBox("Cannot write output file");
    track.status = kStatusError;
  } else if (writeFailed && !result.writeFailed) {
    mainWindow.ShowErrorBox("Cannot write output file");
  }
}

}  // namespace

bool WavNeedsConversion(const TrackRecord& track) {
  return WavOutputFormat(SettingsBlockOf<WavSettings>(track)) != kCdPcmFormat;
}

void RipTrackToWav(RipHost& mainWindow, CaptureJob& job) {
  CdHandle handle{};
  WriteWavFile(
      mainWindow, job,
      [&](PcmSink* sink) {
        handle = OpenDriveForCapture();
        return sink ? RunReadLoop(mainWindow, job, handle, *sink, 100) : ReadLoopResult{};
      },
      [&] { CloseCDHandle(handle); });
  mainWindow.PostProgress(*job.track);
}

void ConvertPcmToWav(RipHost& mainWindow, WavJob& job) {
  streamed_file::FromPcmFile(mainWindow, job, [&](CaptureJob& wav, FILE* pcm) {
    WriteWavFile(
        mainWindow, wav,
        [&](PcmSink* sink) {
          return FeedPcmFile(mainWindow, *job.track, pcm, sink, job.captureFailed);
        },
        [] {});
  });
}
