// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Output file names: the file-name template expanded for one track, and the full path of the
// track's file inside the album subfolder of the output folder.
//
// Disc texts (artist, album, title, year, genre) are the only part of a name that does not
// come from the user's own folder and template, so they never add a folder level: every text
// goes through FileNameText before it stands in a name. Every component below the output
// folder is then made creatable and kept inside it (see OutputPathOf).
//
// Threads: called by the rip worker. It reads the settings record and the track without
// locks; the commands that change them are refused while a rip runs.
#include <string>
#include <string_view>

#include "config/disc_model.h"
#include "config/settings.h"
#include "disc/format_facts.h"

// A disc text as it stands in a file or folder name: "/" becomes "-" and a control character
// (below 0x20) "_"; every other byte stays as it is.
std::string FileNameText(std::string_view text);

// `folder` + "/" + `name`, the "/" left out when the folder already ends with one; `name`
// alone when the folder is empty (the current folder).
std::string JoinFolder(const std::string& folder, const std::string& name);

// `settings.fileNameTemplate` with $A $L $T $N $Y $G (either case) replaced by the disc
// artist, album, the track's title, its number ("%02d" of index + 1), the year and the genre
// name, each through FileNameText, and $$ by "$". Any other "$x" pair and a lone "$" at the
// end are dropped. The template's own text, its "/" included, is kept; nothing is cut.
std::string ExpandFileNameTemplate(const TrackRecord& track, const RipSettings& settings);

// The subfolder a track's file goes into: the album (typed, else CD-Text) through
// FileNameText, or "Album-%XL"
// with the selected drive's disc id (0 when `driveIndex` names no drive) when the album is
// empty. Made a safe component as OutputPathOf does.
std::string AlbumFolderName(const RipSettings& settings);

// outputFolder joined with the album subfolder, then "/" + expanded name + extension; empty
// when the track's format has no extension. Creates nothing. Each component below the output
// folder is made safe: a NUL becomes "_", one longer than 255 bytes is cut to 255 without
// splitting a UTF-8 sequence (the extension kept), and "." or ".." gets a "_" in front, so
// the path never leads out of the output folder.
std::string OutputPathOf(const TrackRecord& track, const RipSettings& settings,
                         const std::string& outputFolder);

// OutputPathOf, after creating the folders it needs: the output folder with any missing
// parents, the album subfolder, and the template's own folders. Failures are not looked at:
// an existing folder is reused, and any other failure shows when the file cannot be created.
std::string ComposeOutputPath(const TrackRecord& track, const RipSettings& settings,
                              const std::string& outputFolder);

// As above, with the output folder read afresh from the settings file ([Output] Path).
std::string ComposeOutputPath(const TrackRecord& track, const RipSettings& settings);
