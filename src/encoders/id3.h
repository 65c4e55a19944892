#pragma once
// ID3 version 1.1 tags for MP3 files.
#include <array>
#include <cstdint>
#include <cstdio>

#include "config/disc_model.h"

using Id3v1Tag = std::array<uint8_t, 128>;

// The tag of `track`: "TAG", title (or "Track %02d"), artist, album, year (or "Unknown
// artist", "Unknown album", "2000" when empty), each cut to its field and zero padded, a zero
// comment, track number (index + 1) % 256 at byte 126 and the genre number at byte 127.
Id3v1Tag BuildId3v1Tag(const TrackRecord& track, const DiscInfo& disc);

// Writes the tag at `file`'s current position in one write. True when all 128 bytes went out;
// callers that append a tag after the audio are free to ignore it.
bool WriteId3v1Tag(FILE* file, const TrackRecord& track, const DiscInfo& disc);
