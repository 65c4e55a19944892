// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "encoders/mp3_encoder.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "capture/output_files.h"
#include "config/settings.h"
#include "encoders/encoder_binding.h"
#include "encoders/id3.h"

namespace {

template <typename Table>
uint32_t KbpsAt(const Table& table, int32_t index) {
  return index >= 0 && static_cast<size_t>(index) < table.size()
             ? static_cast<uint32_t>(table[static_cast<size_t>(index)])
             : 0;
}

int32_t ModeOf(int32_t channels) {
  switch (channels) {
    case 0:
      return BE_MP3_MODE_MONO;
    case 2:
      return BE_MP3_MODE_JSTEREO;
    default:
      return BE_MP3_MODE_STEREO;
  }
}

}  // namespace

BE_CONFIG Mp3ConfigFor(const Mp3Settings& mp3) {
  BE_CONFIG config;
  std::memset(&config, 0, sizeof config);
  config.dwConfig = BE_CONFIG_LAME;
  auto& lhv = config.format.LHV1;
  lhv.dwStructVersion = 1;
  lhv.dwStructSize = sizeof(BE_CONFIG);
  // The capture is always 44100 Hz; another chosen rate is the library's output rate.
  lhv.dwSampleRate = 44100;
  const int chosenRate = SampleRateHz(mp3.sampleRate);
  lhv.dwReSampleRate = chosenRate == 32000 || chosenRate == 48000 ? chosenRate : 0;
  lhv.nMode = ModeOf(mp3.channels);
  lhv.dwBitrate = KbpsAt(Mp3BitrateTable, mp3.bitrate);
  lhv.dwMaxBitrate = KbpsAt(Mp3BitrateTable, mp3.vbrMaxBitrate);
  // Rows "Phone" (13) to "Studio" (22) are the library's presets 1000 to 10000.
  lhv.nPreset = mp3.preset <= 12 ? mp3.preset : (5 * mp3.preset - 60) * 200;
  lhv.dwMpegVersion = 1;
  lhv.bOriginal = 1;
  lhv.bEnableVBR = mp3.vbrEnabled;
  lhv.nVBRQuality = mp3.vbrQuality;
  lhv.bNoRes = 1;
  return config;
}

bool Mp3EncoderAccepts(const Mp3Settings& mp3) {
  BE_CONFIG config = Mp3ConfigFor(mp3);
  uint32_t samplesPerChunk = 0, outputBufferSize = 0;
  HBE_STREAM stream = nullptr;
  if (lameApi.beInitStream(&config, &samplesPerChunk, &outputBufferSize, &stream) !=
      BE_ERR_SUCCESSFUL) {
    return false;
  }
  lameApi.beCloseStream(stream);
  return true;
}

void EncodePcmToMp3(RipHost& mainWindow, Mp3Job& job) {
  TrackRecord& track = *job.track;
  const auto mp3 = SettingsBlockOf<Mp3Settings>(track);

  bool failed = job.captureFailed;  // ends "ERROR" unless stopped
  HBE_STREAM stream = nullptr;
  bool haveStream = false;
  FILE* output = nullptr;
  std::unique_ptr<uint8_t[]> outBuffer;
  std::unique_ptr<int16_t[]> inBuffer;

  OutputFileLock outputLock;  // held until the tag and the VBR header are in
  FILE* pcm = OpenRegularFile(job.pcmPath, "rb");
  if (!pcm) {
    mainWindow.ShowErrorBox("Cannot open PCM data file");
    track.status = kStatusError;
  } else if (!(output = OpenRegularFile(job.outputPath, "wb", &outputLock))) {
    mainWindow.ShowErrorBox("Cannot create output file");
    track.status = kStatusError;
  } else {
    BE_VERSION version;
    lameApi.beVersion(&version);
    BE_CONFIG config = Mp3ConfigFor(mp3);
    uint32_t samplesPerChunk = 0, outputBufferSize = 0;
    if (lameApi.beInitStream(&config, &samplesPerChunk, &outputBufferSize, &stream) !=
        BE_ERR_SUCCESSFUL) {
      failed = true;
    } else {
      haveStream = true;
      outBuffer.reset(new (std::nothrow) uint8_t[outputBufferSize]);
      inBuffer.reset(new (std::nothrow) int16_t[samplesPerChunk]);
    }
    if (haveStream && (!outBuffer || !inBuffer)) failed = true;
    if (haveStream && outBuffer && inBuffer) {
      std::fseek(pcm, 0, SEEK_END);
      const long end = std::ftell(pcm);
      const uint64_t total = end > 0 ? static_cast<uint64_t>(end) : 0;
      std::fseek(pcm, 0, SEEK_SET);

      uint32_t chunkNumber = 0;
      uint64_t bytesDone = 0;
      uint32_t produced = 0;
      auto readChunk = [&] {
        // Stereo input comes in whole frames; a stray odd sample at the end is dropped.
        return static_cast<uint32_t>(std::fread(inBuffer.get(), 2, samplesPerChunk, pcm)) & ~1u;
      };
      uint32_t samplesRead = readChunk();
      bool encodeFailed = false;
      while (samplesRead > 0) {
        if (lameApi.beEncodeChunk(stream, samplesRead, inBuffer.get(), outBuffer.get(),
                                  &produced) != BE_ERR_SUCCESSFUL) {
          encodeFailed = true;
          break;
        }
        if (std::fwrite(outBuffer.get(), 1, produced, output) != produced) {
          mainWindow.ShowErrorBox("Cannot write output file");
          encodeFailed = true;
          break;
        }
        bytesDone += 2ull * samplesRead;
        if (ripSettings.ripping == 0) {
          track.status = kStatusStopped;
          break;
        }
        if (chunkNumber % 10 == 0) {
          const uint64_t share = total ? 70 * bytesDone / total : 0;
          track.status = static_cast<int32_t>(30 + (share > 70 ? 70 : share));
          mainWindow.PostProgress(track);
        }
        ++chunkNumber;
        samplesRead = readChunk();
      }
      if (!encodeFailed && track.status != kStatusStopped && std::ferror(pcm)) {
        // Audio the file holds but would not give: the track is not complete, and
        // "Cannot open PCM data file" is this stage's word for an unreadable PCM file.
        mainWindow.ShowErrorBox("Cannot open PCM data file");
        track.status = kStatusError;
      }
      if (encodeFailed) {
        failed = true;
      } else {
        // The flush runs after a stop too, so the file ends cleanly at the last chunk.
        if (lameApi.beDeinitStream(stream, outBuffer.get(), &produced) == BE_ERR_SUCCESSFUL &&
            produced != 0 && std::fwrite(outBuffer.get(), 1, produced, output) != produced) {
          mainWindow.ShowErrorBox("Cannot write output file");
          failed = true;
        }
      }
    }
  }

  // End sequence, always in this order.
  if (haveStream) lameApi.beCloseStream(stream);
  if (pcm) std::fclose(pcm);
  if (output) {
    // A file deleted while it was written (its folder removed, say) took the audio with it.
    const bool removed = OutputFileRemoved(output);
    if ((std::fclose(output) != 0 || removed) && !failed) {
      mainWindow.ShowErrorBox("Cannot write output file");
      failed = true;
    }
    if (ripSettings.id3Enabled && !removed) {  // a tag alone would make a file anew
      if (FILE* tagFile = OpenRegularFile(job.outputPath, "ab")) {
        WriteId3v1Tag(tagFile, track, ripSettings);
        std::fclose(tagFile);
      }
    }
  }
  outBuffer.reset();
  inBuffer.reset();
  std::remove(job.pcmPath.c_str());
  lameApi.beWriteVBRHeader(job.outputPath.c_str());
  const int32_t status = track.status;
  if (status != kStatusStopped && status != kStatusError) {
    track.status = failed ? kStatusError : kStatusCompleted;
  }
  // After the LAME frame went in at the front: the tag goes before it. A file that would
  // claim a tag it lacks is an error.
  // A cover or a release's identifiers are written even without --id3: they live only there.
  const bool tagged =
      ripSettings.id3Enabled || ripSettings.coverArt || !ripSettings.release.releaseId.empty();
  if (output && tagged && track.status == kStatusCompleted &&
      !WriteId3v2Tag(job.outputPath, track, ripSettings)) {
    mainWindow.ShowErrorBox("Cannot write ID3v2 tag");
    track.status = kStatusError;
  }
  mainWindow.PostProgress(track);
}
