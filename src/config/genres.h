// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The program's table of genre names: the ID3v1 genre numbers, which the tag editor offers,
// the settings record keeps (DiscInfo::discGenre), file names spell out ($g) and the tags and
// comments of every format carry.
#include <array>
#include <cstdint>

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
