#include "encoders/id3.h"

#include <algorithm>
#include <cstring>
#include <string>

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
