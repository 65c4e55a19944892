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
#include "encoders/cover_embed.h"
#include "encoders/streamed_file.h"
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
    if (const CoverArtPtr cover = ripSettings.coverArt) {
      const std::string block = Base64(FlacPictureStructure(cover->embedded));
      if (ope_comments_add(comments_, "METADATA_BLOCK_PICTURE", block.c_str()) != OPE_OK) return;
    }
    if (const CoverArtPtr cover = ripSettings.coverArt) {
      const std::string block = Base64(FlacPictureStructure(cover->embedded));
      if (ope_comments_add(comments_, "METADATA_BLOCK_PICTURE", block.c_str()) != OPE_OK) return;
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

}  // namespace

void RipTrackToOpus(RipHost& mainWindow, CaptureJob& job) {
  streamed_file::RipTrack<OpusFileSink>(mainWindow, job);
}

void EncodePcmToOpus(RipHost& mainWindow, OpusJob& job) {
  streamed_file::EncodePcm<OpusFileSink>(mainWindow, job);
}
