// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Private-profile (INI) reading and writing with the semantics Obrin's settings file has
// always had: section and key names match case-insensitively, values are trimmed (and read
// without one pair of double quotes around them, as in Path="/music/x y/"), the first
// of duplicate sections or keys wins, a missing section is appended at the end of the file,
// a new key at the end of its section, an existing key is replaced in place, and every other
// line (comments, lines without "=", unknown keys) is kept as it was.
//
// Writes replace the file atomically (temporary file in the same folder, fsync, rename), so
// a crash leaves the old file or the new one, never a mix. Nothing is cached between calls:
// every call reads the file afresh, so a reader on another thread sees one whole version.
#include <cstddef>
#include <string>
#include <vector>

// The value of `key` in `section` of `file`, cut to `bufferSize` - 1 characters (and at a NUL
// byte); `fallback`, cut the same way, when the section, the key or the file is missing or the
// file is not a readable regular file. A key with an empty value yields "".
std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& fallback, const std::string& file,
                             std::size_t bufferSize = 1024);

// Sets `key` in `section` to `value`, creating the file and its folder when missing. A
// symbolic link is followed, a dangling one too (its target is created); the file keeps its
// permission bits. False when the file could
// not be written (it is then unchanged), and for texts that would not read back as written:
// an empty key, a line break or NUL anywhere, "=" in the key or a key starting with ";", "#"
// or "[", "]" in the section.
bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file);

struct ProfileEntry {
  std::string section;
  std::string key;
  std::string value;
};

// Sets every entry, in order, as WriteProfileString would, in ONE atomic replacement of the
// file: after a crash the file holds all of them or none. False, with the file unchanged,
// when any entry is refused or the file could not be written.
bool WriteProfileStrings(const std::vector<ProfileEntry>& entries, const std::string& file);
