// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "encoders/ogg_encoder.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "capture/output_files.h"
#include "config/genres.h"
#include "config/settings.h"
#include "encoders/cover_embed.h"
#include "encoders/pcm_convert.h"
#include "encoders/tag_fields.h"

namespace {

constexpr std::size_t kStepFrames = 1024;
constexpr std::size_t kStepBytes = kStepFrames * kCdFrameBytes;
constexpr uint32_t kProgressEverySteps = 10;
constexpr char kEncoderName[] = "DUZO Zaruvi";

// The codec state of one encode. It belongs to this stage alone and is cleared before the
// stage returns.
struct OggCodecState {
  ogg_stream_state os{};
  ogg_page og{};
  ogg_packet op{};
  vorbis_info vi{};
  vorbis_comment vc{};
  vorbis_dsp_state vd{};
  vorbis_block vb{};
};

// Bits per second of an OggBitrateTable row; -1 ("not set" to libvorbis) for a row that
// does not exist, which the set-up then refuses.
long TableBitrate(int32_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= OggBitrateTable.size()) return -1;
  return OggBitrateTable[static_cast<std::size_t>(index)] * 1000L;
}

// Sets `vi` up for the track's mode: quality when VBR is chosen, else managed bitrates
// (burstable, or constant with all three equal). useCbr is not consulted: constant bitrate
// is simply what remains. 0 when libvorbis accepts the settings.
int InitEncoderMode(vorbis_info& vi, const OggSettings& settings, const PcmFormat& format) {
  const long channels = format.channels;
  const long rate = static_cast<long>(format.sampleRate);
  if (settings.useVbr) {
    const float quality = static_cast<float>(OggQualityValue(settings.vbrQuality));
    return vorbis_encode_init_vbr(&vi, channels, rate, quality);
  }
  if (settings.useBbr) {
    return vorbis_encode_init(&vi, channels, rate, TableBitrate(settings.bbrMax),
                              TableBitrate(settings.bbrNominal), TableBitrate(settings.bbrMin));
  }
  const long bitrate = TableBitrate(settings.cbrBitrate);
  return vorbis_encode_init(&vi, channels, rate, bitrate, bitrate, bitrate);
}

void AddComments(vorbis_comment& vc, const TrackRecord& track, const RipSettings& settings) {
  vorbis_comment_add_tag(&vc, "ENCODER", kEncoderName);
  for (const auto& [name, value] : VorbisCommentsOf(track, settings, false)) {
    vorbis_comment_add_tag(&vc, name.c_str(), value.c_str());
  }
  if (const CoverArtPtr cover = settings.coverArt) {
    vorbis_comment_add_tag(&vc, "METADATA_BLOCK_PICTURE",
                           Base64(FlacPictureStructure(cover->embedded)).c_str());
  }
}

bool WritePage(FILE* file, const ogg_page& page) {
  const auto headerLength = static_cast<std::size_t>(page.header_len);
  const auto bodyLength = static_cast<std::size_t>(page.body_len);
  return std::fwrite(page.header, 1, headerLength, file) == headerLength &&
         (bodyLength == 0 || std::fwrite(page.body, 1, bodyLength, file) == bodyLength);
}

// Puts resampled audio straight into libvorbis's analysis buffer.
class AnalysisTarget : public ResampleTarget {
 public:
  explicit AnalysisTarget(vorbis_dsp_state& vd) : vd_(vd) {}
  float* const* Reserve(std::size_t frames) override {
    return vorbis_analysis_buffer(&vd_, static_cast<int>(frames));
  }
  void Commit(std::size_t frames) override {
    vorbis_analysis_wrote(&vd_, static_cast<int>(frames));
  }

 private:
  vorbis_dsp_state& vd_;
};

void PostStepProgress(RipHost& mainWindow, TrackRecord& track, uint64_t bytesDone, uint64_t total) {
  // 64-bit: 70 × a long track's byte count does not fit in 32 bits. The cap only matters
  // for a PCM file longer than its track claims, which must not read as 101 or 102.
  const uint64_t percent = total == 0 ? 70 : std::min<uint64_t>(70 * bytesDone / total, 70);
  track.status = static_cast<int32_t>(30 + percent);
  mainWindow.PostProgress(track);
}

}  // namespace

std::size_t OggReadBufferSize(const TrackRecord& track) {
  // The PCM file is always two channels, whatever the encoder is set up with: the buffer
  // holds 1024 frames of the file, and mixing or resampling happens after reading.
  (void)track;
  return kStepBytes;
}

bool OggEncoderAccepts(const OggSettings& settings) {
  const PcmFormat format = OggOutputFormat(settings);
  vorbis_info vi;
  vorbis_info_init(&vi);
  bool accepted = InitEncoderMode(vi, settings, format) == 0;
  vorbis_info_clear(&vi);
  if (accepted && format.sampleRate != kCdPcmFormat.sampleRate) {
    Resampler resampler;
    accepted = resampler.Init(kCdPcmFormat.sampleRate, format.sampleRate, format.channels);
  }
  return accepted;
}

void EncodePcmToOgg(RipHost& mainWindow, OggJob& job) {
  TrackRecord& track = *job.track;
  const OggSettings settings = SettingsBlockOf<OggSettings>(track);
  const PcmFormat format = OggOutputFormat(settings);
  const bool resample = format.sampleRate != kCdPcmFormat.sampleRate;

  // The early ends: the PCM file goes whether or not it could be opened.
  auto endEarly = [&](FILE* pcm) {
    if (pcm) std::fclose(pcm);
    std::remove(job.pcmPath.c_str());
    mainWindow.PostProgress(track);
  };

  FILE* pcm = OpenRegularFile(job.pcmPath, "rb");
  if (!pcm) {
    mainWindow.ShowErrorBox("Cannot open PCM data file");
    track.status = kStatusError;
    endEarly(nullptr);
    return;
  }

  // The encoder must accept the settings before anything is created: a refused set-up
  // leaves no half-made codec state in use and no empty output file behind.
  OggCodecState state;
  vorbis_info_init(&state.vi);
  Resampler resampler;
  const bool accepted =
      InitEncoderMode(state.vi, settings, format) == 0 &&
      (!resample || resampler.Init(kCdPcmFormat.sampleRate, format.sampleRate, format.channels));
  if (!accepted) {
    vorbis_info_clear(&state.vi);
    mainWindow.ShowErrorBox(kOggSettingsRefused);
    track.status = kStatusError;
    endEarly(pcm);
    return;
  }

  OutputFileLock outputLock;
  FILE* out = OpenRegularFile(job.outputPath, "wb", &outputLock);
  if (!out) {
    vorbis_info_clear(&state.vi);
    mainWindow.ShowErrorBox("Cannot create output file");
    track.status = kStatusError;
    endEarly(pcm);
    return;
  }

  vorbis_comment_init(&state.vc);
  AddComments(state.vc, track, ripSettings);
  vorbis_analysis_init(&state.vd, &state.vi);
  vorbis_block_init(&state.vd, &state.vb);
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  ogg_stream_init(&state.os, std::rand());

  bool writeFailed = false;
  {
    ogg_packet identification, comments, codebooks;
    vorbis_analysis_headerout(&state.vd, &state.vc, &identification, &comments, &codebooks);
    ogg_stream_packetin(&state.os, &identification);
    ogg_stream_packetin(&state.os, &comments);
    ogg_stream_packetin(&state.os, &codebooks);
    // Flushed to the end so that the audio starts on a page of its own.
    while (ogg_stream_flush(&state.os, &state.og) != 0) {
      if (!writeFailed && !WritePage(out, state.og)) writeFailed = true;
    }
  }

  const uint64_t total = uint64_t{track.lengthSectors} * kSectorBytes;
  const std::size_t readBytes =
      std::min(job.readBufferSize, kStepBytes) / kCdFrameBytes * kCdFrameBytes;
  // Planar input of one step when it goes through the resampler rather than straight into
  // the analysis buffer.
  std::vector<float> scratch[2];
  float* scratchChannels[2] = {};
  if (resample) {
    for (unsigned c = 0; c < format.channels; ++c) {
      scratch[c].resize(kStepFrames);
      scratchChannels[c] = scratch[c].data();
    }
  }
  AnalysisTarget analysisTarget(state.vd);
  uint64_t bytesDone = 0;
  uint32_t stepNumber = 0;
  bool endOfStream = writeFailed;
  bool inputEnded = false;
  bool readFailed = false;

  while (!endOfStream) {
    float** analysis = resample ? nullptr : vorbis_analysis_buffer(&state.vd, kStepFrames);
    const std::size_t bytesRead = std::fread(job.readBuffer, 1, readBytes, pcm);
    if (bytesRead < readBytes && std::ferror(pcm)) {
      // Not the end of the audio: the rest of the file could not be read.
      readFailed = true;
      break;
    }
    bytesDone += bytesRead;
    const std::size_t frames = bytesRead / kCdFrameBytes;
    DeinterleaveCdPcm(job.readBuffer, frames, format.channels,
                      resample ? scratchChannels : analysis);

    if (ripSettings.ripping == 0) {
      track.status = kStatusStopped;
      break;
    }
    if (bytesRead == 0) {
      // libvorbis always answers the end of input with an end-of-stream packet; should it
      // ever not, there is nothing more to wait for.
      if (inputEnded) break;
      inputEnded = true;
      if (resample) resampler.Finish(analysisTarget);
      vorbis_analysis_wrote(&state.vd, 0);
    } else {
      if (stepNumber % kProgressEverySteps == 0) {
        PostStepProgress(mainWindow, track, bytesDone, total);
      }
      ++stepNumber;
      // A frame count of 0 would tell libvorbis the input has ended.
      if (resample) {
        resampler.Feed(scratchChannels, frames, analysisTarget);
      } else if (frames > 0) {
        vorbis_analysis_wrote(&state.vd, static_cast<int>(frames));
      }
    }

    while (!writeFailed && vorbis_analysis_blockout(&state.vd, &state.vb) == 1) {
      vorbis_analysis(&state.vb, nullptr);
      vorbis_bitrate_addblock(&state.vb);
      while (vorbis_bitrate_flushpacket(&state.vd, &state.op) != 0) {
        ogg_stream_packetin(&state.os, &state.op);
        while (!endOfStream && !writeFailed && ogg_stream_pageout(&state.os, &state.og) != 0) {
          if (!WritePage(out, state.og)) writeFailed = true;
          if (ogg_page_eos(&state.og) != 0) endOfStream = true;
        }
      }
    }
    if (writeFailed) break;
  }

  if (writeFailed) {
    mainWindow.ShowErrorBox("Cannot write output file");
    track.status = kStatusError;
  } else if (readFailed) {
    mainWindow.ShowErrorBox("Cannot open PCM data file");
    track.status = kStatusError;
  }

  ogg_stream_clear(&state.os);
  vorbis_block_clear(&state.vb);
  vorbis_dsp_clear(&state.vd);
  vorbis_info_clear(&state.vi);
  vorbis_comment_clear(&state.vc);

  std::fclose(pcm);
  // Buffered pages reach the disk only here: a full disk may show up at this point. A file
  // deleted while it was written (its folder removed, say) took the audio with it.
  const bool removed = OutputFileRemoved(out);
  if ((std::fclose(out) != 0 || removed) && !writeFailed) {
    mainWindow.ShowErrorBox("Cannot write output file");
    track.status = kStatusError;
  }
  std::remove(job.pcmPath.c_str());
  if (track.status != kStatusStopped && track.status != kStatusError) {
    // Audio lost to a read error during the capture is missing from the file: the encode
    // went through, but the track is not complete.
    track.status = job.captureFailed ? kStatusError : kStatusCompleted;
  }
  mainWindow.PostProgress(track);
}
