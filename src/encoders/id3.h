// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// ID3 tags for MP3 files: Obrin's own version 1.1 tag at the end, and a version 2.4 tag at the
// front (through TagLib) for the players that read only that.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "config/settings.h"

using Id3v1Tag = std::array<uint8_t, 128>;

// The tag of `track`: "TAG", title (or "Track %02d"), artist, album, year (or "Unknown
// artist", "Unknown album", "2000" when empty), each cut to its field and zero padded, a zero
// comment, track number (index + 1) % 256 at byte 126 and the genre number at byte 127.
Id3v1Tag BuildId3v1Tag(const TrackRecord& track, const DiscInfo& disc);

// Writes the tag at `file`'s current position in one write. True when all 128 bytes went out;
// callers that append a tag after the audio are free to ignore it.
bool WriteId3v1Tag(FILE* file, const TrackRecord& track, const DiscInfo& disc);

// Puts an ID3v2.4 tag at the front of the MP3 file at `path`: TIT2, TPE1, TALB, TDRC, TCON (the
// genre's name) and TRCK ("n/N", N the disc's audio tracks), in UTF-8; a release's frames
// (PutReleaseFrames) and the rip's cover (APIC) where there are those. The file's ID3v1 tag
// and everything after the front stay as they are. False when the file could not be read or
// written.
bool WriteId3v2Tag(const std::string& path, const TrackRecord& track, const RipSettings& settings);
