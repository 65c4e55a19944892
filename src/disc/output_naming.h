#pragma once
// Output file names: the file-name template expanded for one track, and the full path of the
// track's file inside the album subfolder of the output folder.
//
// Threads: called by the rip worker. It reads the settings record and the track without
// locks; the commands that change them are refused while a rip runs.
#include <string>

#include "config/settings.h"
#include "disc/disc_model.h"
#include "disc/format_facts.h"

// `settings.fileNameTemplate` with $A $L $T $N $Y $G (either case) replaced by the disc
// artist, album, the track's title, its number ("%02d" of index + 1), the year and the genre
// name, and $$ by "$". Any other "$x" pair and a lone "$" at the end are dropped. Values go in
// exactly as stored (no character is replaced), and the result is never cut to a length.
std::string ExpandFileNameTemplate(const TrackRecord& track, const RipSettings& settings);

// The subfolder a track's file goes into: `discAlbum`, or "Album-%XL" with the selected
// drive's disc id (0 when `driveIndex` names no drive) when the album is empty.
std::string AlbumFolderName(const RipSettings& settings);

// outputFolder + album subfolder + "/" + expanded name + extension. Creates the subfolder (one
// level; the folder is expected to end with "/", nothing is put between the two) and ignores
// the outcome: an existing folder is reused, a failure shows when the file cannot be created.
// Empty, and no folder made, when the track's format has no extension.
std::string ComposeOutputPath(const TrackRecord& track, const RipSettings& settings,
                              const std::string& outputFolder);

// As above, with the output folder read afresh from the settings file ([Output] Path).
std::string ComposeOutputPath(const TrackRecord& track, const RipSettings& settings);
