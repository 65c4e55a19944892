// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "encoders/opus_encoder.h"

#include <opus/opusenc.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "capture/checksums.h"
#include "config/settings.h"
#include "encoders/tag_fields.h"

namespace {

int WriteOut(void* file, const unsigned char* data, opus_int32 size) {
  const auto bytes = static_cast<size_t>(size);
  return std::fwrite(data, 1, bytes, static_cast<FILE*>(file)) == bytes ? 0 : 1;
}

// The FILE is the caller's to close.
int CloseNothing(void*) {
  return 0;
}

// One Opus file being written into an open FILE: the encoder set up with the track's
// settings and comments, taking PCM bytes as the read loop hands them over.
class OpusFileSink : public PcmSink {
 public:
  OpusFileSink(FILE* file, const TrackRecord& track) {
    comments_ = ope_comments_create();
    if (!comments_) return;
    for (const auto& [name, value] : VorbisCommentsOf(track, ripSettings, true)) {
      if (ope_comments_add(comments_, name.c_str(), value.c_str()) != OPE_OK) return;
    }
    const OpusEncCallbacks callbacks{WriteOut, CloseNothing};
    int error = OPE_OK;
    // Family 0: one stereo stream, as any player expects of a CD's audio.
    encoder_ = ope_encoder_create_callbacks(&callbacks, file, comments_, 44100, 2, 0, &error);
    if (!encoder_ || error != OPE_OK) return;
    const auto opus = SettingsBlockOf<OpusSettings>(track);
    const int kbps = std::clamp(kOpusMinKbps + opus.bitrate, kOpusMinKbps, kOpusMaxKbps);
    const bool ok =
        ope_encoder_ctl(encoder_, OPUS_SET_BITRATE(kbps * 1000)) == OPE_OK &&
        ope_encoder_ctl(encoder_, OPUS_SET_VBR(opus.mode == kOpusCbr ? 0 : 1)) == OPE_OK &&
        ope_encoder_ctl(encoder_, OPUS_SET_VBR_CONSTRAINT(
                                      opus.mode == kOpusConstrainedVbr ? 1 : 0)) == OPE_OK &&
        ope_encoder_ctl(encoder_, OPUS_SET_COMPLEXITY(std::clamp(opus.complexity, 0, 10))) ==
            OPE_OK &&
        ope_encoder_ctl(encoder_, OPUS_SET_LSB_DEPTH(16)) == OPE_OK;
    ready_ = ok;
  }
  ~OpusFileSink() override {
    if (encoder_) ope_encoder_destroy(encoder_);
    if (comments_) ope_comments_destroy(comments_);
  }
  OpusFileSink(const OpusFileSink&) = delete;
  OpusFileSink& operator=(const OpusFileSink&) = delete;

  bool ready() const { return ready_; }

  bool Write(const uint8_t* data, size_t size) override {
    if (!ready_) return false;
    bool ok = true;
    samples_.Add(data, size, [&](const uint8_t* pcm, size_t count) {
      // Little-endian 16-bit PCM is the machine's own int16; the copy aligns it.
      interleaved_.resize(2 * count);
      std::memcpy(interleaved_.data(), pcm, 4 * count);
      ok =
          ok && ope_encoder_write(encoder_, interleaved_.data(), static_cast<int>(count)) == OPE_OK;
    });
    return ok;
  }

  // Ends the stream (the last page's granule position trims the padding of the last frame).
  // Also after a stop: the file then holds what was read.
  bool Finish() {
    if (!ready_) return false;
    ready_ = false;
    return ope_encoder_drain(encoder_) == OPE_OK;
  }

 private:
  OggOpusComments* comments_ = nullptr;
  OggOpusEnc* encoder_ = nullptr;
  std::vector<opus_int16> interleaved_;
  SampleAssembler samples_;
  bool ready_ = false;
};

// The Opus file of job.track at job.targetPath, of the audio `feed(sink)` hands to the sink
// (a null sink when the encoder could not start); `feed` returns what became of the audio.
template <typename Feed>
void WriteOpusFile(RipHost& mainWindow, CaptureJob& job, Feed feed) {
  TrackRecord& track = *job.track;
  OutputFileLock lock;
  FILE* file = CreateCaptureTarget(mainWindow, job, &lock);
  if (!file) return;
  bool writeFailed = false;
  ReadLoopResult result;
  {
    OpusFileSink sink(file, track);
    writeFailed = !sink.ready();
    result = feed(writeFailed ? nullptr : &sink);
    if (!writeFailed && !sink.Finish()) writeFailed = true;
  }
  if (std::fflush(file) != 0) writeFailed = true;
  const bool removed = OutputFileRemoved(file);
  const bool closed = std::fclose(file) == 0;
  writeFailed = writeFailed || !closed || removed;
  if (writeFailed && !result.writeFailed) mainWindow.ShowErrorBox("Cannot write output file");
  if (writeFailed || result.writeFailed || result.readFailed) {
    if (track.status != kStatusStopped || writeFailed) track.status = kStatusError;
  } else if (track.status != kStatusStopped) {
    track.status = kStatusCompleted;
  }
}

}  // namespace

void RipTrackToOpus(RipHost& mainWindow, CaptureJob& job) {
  WriteOpusFile(mainWindow, job, [&](PcmSink* sink) {
    if (!sink) return ReadLoopResult{};
    const CdHandle handle = OpenDriveForCapture();
    const ReadLoopResult result = RunReadLoop(mainWindow, job, handle, *sink, 100);
    CloseCDHandle(handle);
    return result;
  });
  mainWindow.PostProgress(*job.track);
}

void EncodePcmToOpus(RipHost& mainWindow, OpusJob& job) {
  TrackRecord& track = *job.track;
  FILE* pcm = OpenRegularFile(job.pcmPath, "rb");
  if (!pcm) {
    mainWindow.ShowErrorBox("Cannot open PCM data file");
    track.status = kStatusError;
  } else {
    CaptureJob opus{&track, nullptr, job.outputPath};
    WriteOpusFile(mainWindow, opus, [&](PcmSink* sink) {
      return FeedPcmFile(mainWindow, track, pcm, sink, job.captureFailed);
    });
    std::fclose(pcm);
  }
  std::remove(job.pcmPath.c_str());
  mainWindow.PostProgress(track);
}
