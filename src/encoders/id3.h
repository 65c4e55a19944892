#pragma once
// ID3 version 1.1 tags for MP3 files, and the program's table of genre names.
#include <array>
#include <cstdint>
#include <cstdio>

#include "disc/disc_model.h"

// The ID3v1 genres by number. Four names (40, 46, 47, 51) are shorter here than in the tag
// editor's list; file names and Ogg comments use these.
inline constexpr std::array<const char*, 80> GenreNames = {
    "Blues",       "Classic Rock",  "Country",       "Dance",        "Disco",
    "Funk",        "Grunge",        "Hip-Hop",       "Jazz",         "Metal",
    "New Age",     "Oldies",        "Other",         "Pop",          "R&B",
    "Rap",         "Reggae",        "Rock",          "Techno",       "Industrial",
    "Alternative", "Ska",           "Death Metal",   "Pranks",       "Soundtrack",
    "Euro-Techno", "Ambient",       "Trip-Hop",      "Vocal",        "Jazz+Funk",
    "Fusion",      "Trance",        "Classical",     "Instrumental", "Acid",
    "House",       "Game",          "Sound Clip",    "Gospel",       "Noise",
    "Altern Rock", "Bass",          "Soul",          "Punk",         "Space",
    "Meditative",  "Inst. Pop",     "Instrum. Rock", "Ethnic",       "Gothic",
    "Darkwave",    "Techno-Indus",  "Electronic",    "Pop-Folk",     "Eurodance",
    "Dream",       "Southern Rock", "Comedy",        "Cult",         "Gangsta",
    "Top 40",      "Christian Rap", "Pop/Funk",      "Jungle",       "Native American",
    "Cabaret",     "New Wave",      "Psychadelic",   "Rave",         "Showtunes",
    "Trailer",     "Lo-Fi",         "Tribal",        "Acid Punk",    "Acid Jazz",
    "Polka",       "Retro",         "Musical",       "Rock & Roll",  "Hard Rock"};

// The name of genre number `genre`; "" outside 0..79.
const char* GenreName(int32_t genre);

using Id3v1Tag = std::array<uint8_t, 128>;

// The tag of `track`: "TAG", title (or "Track %02d"), artist, album, year (or "Unknown
// artist", "Unknown album", "2000" when empty), each cut to its field and zero padded, a zero
// comment, track number (index + 1) % 256 at byte 126 and the genre number at byte 127.
Id3v1Tag BuildId3v1Tag(const TrackRecord& track, const DiscInfo& disc);

// Writes the tag at `file`'s current position in one write. True when all 128 bytes went out;
// callers that append a tag after the audio are free to ignore it.
bool WriteId3v1Tag(FILE* file, const TrackRecord& track, const DiscInfo& disc);
