// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "encoders/id3.h"

#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tstring.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "config/genres.h"
#include "encoders/cover_embed.h"
#include "encoders/release_fields.h"

namespace {

constexpr std::size_t kTitleOffset = 3;
constexpr std::size_t kArtistOffset = 33;
constexpr std::size_t kAlbumOffset = 63;
constexpr std::size_t kYearOffset = 93;
constexpr std::size_t kTextFieldLength = 30;
constexpr std::size_t kYearLength = 4;
constexpr std::size_t kTrackOffset = 126;
constexpr std::size_t kGenreOffset = 127;

// Bytes of `text` as they are, at most `length`; the tag is zeroed beforehand, so shorter text
// is padded and text that fills the field gets no terminator.
void PutField(Id3v1Tag& tag, std::size_t offset, std::size_t length, const std::string& text) {
  std::memcpy(tag.data() + offset, text.data(), std::min(length, text.size()));
}

const std::string& OrDefault(const std::string& text, const std::string& fallback) {
  return text.empty() ? fallback : text;
}

}  // namespace

Id3v1Tag BuildId3v1Tag(const TrackRecord& track, const DiscInfo& disc) {
  static const std::string kUnknownArtist = "Unknown artist";
  static const std::string kUnknownAlbum = "Unknown album";
  static const std::string kDefaultYear = "2000";

  // Unsigned arithmetic: the byte wraps at 256 without overflow for any index.
  const uint8_t trackNumber = static_cast<uint8_t>(static_cast<uint32_t>(track.index) + 1u);
  // The number as the tag holds it: a position past 255 wraps there too.
  const std::string title =
      track.title.empty() ? DefaultTrackTitle(int32_t{trackNumber} - 1) : track.title;

  Id3v1Tag tag{};
  std::memcpy(tag.data(), "TAG", 3);
  PutField(tag, kTitleOffset, kTextFieldLength, title);
  PutField(tag, kArtistOffset, kTextFieldLength, OrDefault(disc.ArtistOf(track), kUnknownArtist));
  PutField(tag, kAlbumOffset, kTextFieldLength, OrDefault(disc.Album(), kUnknownAlbum));
  PutField(tag, kYearOffset, kYearLength, OrDefault(disc.Year(), kDefaultYear));
  // Bytes 97..125 stay zero: an empty comment, and the zero at 125 that marks version 1.1.
  tag[kTrackOffset] = trackNumber;
  tag[kGenreOffset] = static_cast<uint8_t>(disc.discGenre);
  return tag;
}

bool WriteId3v1Tag(FILE* file, const TrackRecord& track, const DiscInfo& disc) {
  if (!file) return false;
  const Id3v1Tag tag = BuildId3v1Tag(track, disc);
  return std::fwrite(tag.data(), 1, tag.size(), file) == tag.size();
}

bool WriteId3v2Tag(const std::string& path, const TrackRecord& track, const RipSettings& settings) {
  TagLib::MPEG::File file(path.c_str(), /*readProperties=*/false);
  if (!file.isValid() || file.readOnly()) return false;
  TagLib::ID3v2::Tag* tag = file.ID3v2Tag(/*create=*/true);
  if (!tag) return false;
  // Frames made here, not through the Tag setters: those take Latin-1 strings and write only
  // "n" for the track.
  const auto put = [tag](const char* id, const std::string& value) {
    tag->removeFrames(id);
    if (value.empty()) return;
    auto* frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::UTF8);
    frame->setText(TagLib::String(value, TagLib::String::UTF8));
    tag->addFrame(frame);
  };
  put("TIT2", track.title);
  put("TPE1", settings.ArtistOf(track));
  put("TALB", settings.Album());
  put("TDRC", ReleaseDateOf(settings));
  put("TCON", GenreName(settings.discGenre));
  put("TRCK",
      std::to_string(track.index + 1) + "/" + std::to_string(AudioTrackCount(settings.tracks)));
  put("TSRC", track.isrc);
  // The disc's catalogue number (its MCN, a UPC/EAN) as music libraries look for it.
  if (auto* old = TagLib::ID3v2::UserTextIdentificationFrame::find(tag, "BARCODE")) {
    tag->removeFrame(old);
  }
  if (!settings.knownCatalog.empty()) {
    auto* frame = new TagLib::ID3v2::UserTextIdentificationFrame(TagLib::String::UTF8);
    frame->setDescription("BARCODE");
    frame->setText(TagLib::String(settings.knownCatalog, TagLib::String::UTF8));
    tag->addFrame(frame);
  }
  PutReleaseFrames(*tag, track, settings);
  if (const CoverArtPtr cover = settings.coverArt) PutCoverFrame(*tag, cover->embedded);
  // The ID3v2 tag alone, nothing stripped, nothing copied into the ID3v1 tag, which is
  // Obrin's own.
  return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                   TagLib::File::DoNotDuplicate);
}
