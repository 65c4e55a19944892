// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "encoders/flac_encoder.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "capture/checksums.h"
#include "config/settings.h"
#include "encoders/cover_embed.h"
#include "encoders/streamed_file.h"
#include "encoders/tag_fields.h"

namespace {

constexpr unsigned kSeekPointSamples = 441000;  // a seek point every 10 seconds
constexpr unsigned kPaddingBytes = 4096;
constexpr size_t kSamplesPerBlock = kSectorsPerRead * kSectorBytes / 4;

FLAC__StreamEncoderWriteStatus WriteOut(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                        size_t bytes, uint32_t, uint32_t, void* file) {
  return std::fwrite(buffer, 1, bytes, static_cast<FILE*>(file)) == bytes
             ? FLAC__STREAM_ENCODER_WRITE_STATUS_OK
             : FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
}

FLAC__StreamEncoderSeekStatus SeekOut(const FLAC__StreamEncoder*, FLAC__uint64 at, void* file) {
  return fseeko(static_cast<FILE*>(file), static_cast<off_t>(at), SEEK_SET) == 0
             ? FLAC__STREAM_ENCODER_SEEK_STATUS_OK
             : FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
}

FLAC__StreamEncoderTellStatus TellOut(const FLAC__StreamEncoder*, FLAC__uint64* at, void* file) {
  const off_t position = ftello(static_cast<FILE*>(file));
  if (position < 0) return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
  *at = static_cast<FLAC__uint64>(position);
  return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

// One FLAC file being written into an open FILE (which the caller closes): the encoder set
// up with the track's level and metadata, taking PCM bytes as the read loop hands them over.
class FlacFileSink : public PcmSink {
 public:
  FlacFileSink(FILE* file, const TrackRecord& track) {
    encoder_ = FLAC__stream_encoder_new();
    if (!encoder_) return;
    const uint64_t samples = uint64_t{track.lengthSectors} * (kSectorBytes / 4);
    const auto level = SettingsBlockOf<FlacSettings>(track).level;
    bool ok = FLAC__stream_encoder_set_channels(encoder_, 2) &&
              FLAC__stream_encoder_set_bits_per_sample(encoder_, 16) &&
              FLAC__stream_encoder_set_sample_rate(encoder_, 44100) &&
              FLAC__stream_encoder_set_compression_level(
                  encoder_, static_cast<uint32_t>(std::clamp(level, 0, 8))) &&
              FLAC__stream_encoder_set_total_samples_estimate(encoder_, samples);
    ok = ok && BuildMetadata(track, samples) &&
         FLAC__stream_encoder_set_metadata(encoder_, metadata_.data(),
                                           static_cast<uint32_t>(metadata_.size()));
    ok = ok && FLAC__stream_encoder_init_stream(encoder_, WriteOut, SeekOut, TellOut, nullptr,
                                                file) == FLAC__STREAM_ENCODER_INIT_STATUS_OK;
    ready_ = ok;
  }
  ~FlacFileSink() override {
    if (encoder_) FLAC__stream_encoder_delete(encoder_);
    for (FLAC__StreamMetadata* block : metadata_) FLAC__metadata_object_delete(block);
  }
  FlacFileSink(const FlacFileSink&) = delete;
  FlacFileSink& operator=(const FlacFileSink&) = delete;

  bool ready() const { return ready_; }

  bool Write(const uint8_t* data, size_t size) override {
    if (!ready_) return false;
    bool ok = true;
    samples_.Add(data, size, [&](const uint8_t* pcm, size_t count) {
      for (size_t done = 0; ok && done < count;) {
        const size_t take = std::min(count - done, kSamplesPerBlock);
        interleaved_.resize(2 * take);
        for (size_t i = 0; i < 2 * take; ++i) {
          const uint8_t* at = pcm + 4 * done + 2 * i;
          interleaved_[i] = static_cast<int16_t>(static_cast<uint16_t>(at[0] | at[1] << 8));
        }
        ok = FLAC__stream_encoder_process_interleaved(encoder_, interleaved_.data(),
                                                      static_cast<uint32_t>(take));
        done += take;
      }
    });
    return ok;
  }

  // Ends the stream: the last frame, then STREAMINFO (length, MD5) and the seek table
  // rewritten at the front. Also after a stop: the file then holds what was read.
  bool Finish() {
    if (!ready_) return false;
    ready_ = false;
    return FLAC__stream_encoder_finish(encoder_);
  }

 private:
  bool BuildMetadata(const TrackRecord& track, uint64_t samples) {
    FLAC__StreamMetadata* comments = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    if (!comments) return false;
    metadata_.push_back(comments);
    for (const auto& [name, value] : VorbisCommentsOf(track, ripSettings, true)) {
      FLAC__StreamMetadata_VorbisComment_Entry entry;
      if (!FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name.c_str(),
                                                                          value.c_str()) ||
          !FLAC__metadata_object_vorbiscomment_append_comment(comments, entry, /*copy=*/false)) {
        return false;
      }
    }
    if (samples > 0) {
      FLAC__StreamMetadata* seekTable = FLAC__metadata_object_new(FLAC__METADATA_TYPE_SEEKTABLE);
      if (!seekTable) return false;
      metadata_.push_back(seekTable);
      if (!FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(
              seekTable, kSeekPointSamples, samples) ||
          !FLAC__metadata_object_seektable_template_sort(seekTable, /*compact=*/true)) {
        return false;
      }
    }
    if (const CoverArtPtr cover = ripSettings.coverArt) {
      FLAC__StreamMetadata* picture = NewFlacPictureBlock(cover->embedded);
      if (!picture) return false;
      metadata_.push_back(picture);
    }
    FLAC__StreamMetadata* padding = FLAC__metadata_object_new(FLAC__METADATA_TYPE_PADDING);
    if (!padding) return false;
    padding->length = kPaddingBytes;
    metadata_.push_back(padding);
    return true;
  }

  FLAC__StreamEncoder* encoder_ = nullptr;
  std::vector<FLAC__StreamMetadata*> metadata_;
  std::vector<FLAC__int32> interleaved_;
  SampleAssembler samples_;
  bool ready_ = false;
};

}  // namespace

void RipTrackToFlac(RipHost& mainWindow, CaptureJob& job) {
  streamed_file::RipTrack<FlacFileSink>(mainWindow, job);
}

void EncodePcmToFlac(RipHost& mainWindow, FlacJob& job) {
  streamed_file::EncodePcm<FlacFileSink>(mainWindow, job);
}
