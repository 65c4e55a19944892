// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "encoders/gain_tags.h"

#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tstring.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "config/settings.h"

namespace {

using Fields = std::vector<std::pair<const char*, std::string>>;

Fields ReplayGainFields(const LoudnessValues& track, const LoudnessValues* album) {
  Fields fields{{"REPLAYGAIN_TRACK_GAIN", ReplayGainText(track)},
                {"REPLAYGAIN_TRACK_PEAK", PeakText(track)}};
  if (album) {
    fields.emplace_back("REPLAYGAIN_ALBUM_GAIN", ReplayGainText(*album));
    fields.emplace_back("REPLAYGAIN_ALBUM_PEAK", PeakText(*album));
  }
  return fields;
}

bool AddComments(TagLib::File& file, TagLib::Ogg::XiphComment* comment, const Fields& fields) {
  if (!file.isValid() || !comment) return false;
  for (const auto& [name, value] : fields) comment->addField(name, value, /*replace=*/true);
  return file.save();
}

bool AddTxxxFrames(const std::string& path, const Fields& fields) {
  TagLib::MPEG::File file(path.c_str(), /*readProperties=*/false);
  if (!file.isValid()) return false;
  TagLib::ID3v2::Tag* tag = file.ID3v2Tag(/*create=*/true);
  for (const auto& [name, value] : fields) {
    while (auto* old = TagLib::ID3v2::UserTextIdentificationFrame::find(tag, name)) {
      tag->removeFrame(old);
    }
    auto* frame = new TagLib::ID3v2::UserTextIdentificationFrame(TagLib::String::Latin1);
    frame->setDescription(name);
    frame->setText(value);
    tag->addFrame(frame);
  }
  // The ID3v1 tag at the end stays as the encoder wrote it.
  return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                   TagLib::File::DoNotDuplicate);
}

}  // namespace

std::string ReplayGainText(const LoudnessValues& values) {
  const double gain = values.silent ? 0 : kReplayGainReference - values.lufs;
  char text[32];
  std::snprintf(text, sizeof text, "%.2f dB", gain);
  // A gain that rounds to nothing from below is no cut.
  return std::string(text) == "-0.00 dB" ? "0.00 dB" : text;
}

std::string PeakText(const LoudnessValues& values) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", values.silent ? 0.0 : values.peak);
  return text;
}

int R128Gain(const LoudnessValues& values) {
  if (values.silent) return 0;
  const double q78 = std::round(256 * (kR128Reference - values.lufs));
  return static_cast<int>(std::clamp(q78, -32768.0, 32767.0));
}

bool WriteGainTags(const std::string& path, uint32_t format, const LoudnessValues& track,
                   const LoudnessValues* album) {
  switch (format) {
    case Flac: {
      TagLib::FLAC::File file(path.c_str(), /*readProperties=*/false);
      return AddComments(file, file.isValid() ? file.xiphComment(true) : nullptr,
                         ReplayGainFields(track, album));
    }
    case Ogg: {
      TagLib::Ogg::Vorbis::File file(path.c_str(), /*readProperties=*/false);
      return AddComments(file, file.isValid() ? file.tag() : nullptr,
                         ReplayGainFields(track, album));
    }
    case Opus: {
      Fields fields{{"R128_TRACK_GAIN", std::to_string(R128Gain(track))}};
      if (album) fields.emplace_back("R128_ALBUM_GAIN", std::to_string(R128Gain(*album)));
      TagLib::Ogg::Opus::File file(path.c_str(), /*readProperties=*/false);
      return AddComments(file, file.isValid() ? file.tag() : nullptr, fields);
    }
    case Mp3:
      return AddTxxxFrames(path, ReplayGainFields(track, album));
    default:
      return true;
  }
}
