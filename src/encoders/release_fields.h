// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The MusicBrainz identifiers and album fields of a disc named by a release, under the names
// music libraries (and Picard) read: Vorbis comments for FLAC and Ogg, frames of the ID3v2.4
// tag for MP3. Nothing at all without a release, and no field left empty.
#include "config/settings.h"
#include "encoders/tag_fields.h"

namespace TagLib::ID3v2 {
class Tag;
}

// The owner of the UFID frame that holds a recording's MusicBrainz id: an identifier music
// libraries match, never contacted.
inline constexpr char kMusicBrainzUfidOwner[] = "http://musicbrainz.org";

// The release date as given (not just its year), unless the user typed a year.
std::string ReleaseDateOf(const RipSettings& settings);

// MUSICBRAINZ_ALBUMID, _RELEASEGROUPID, _TRACKID (the recording), _RELEASETRACKID,
// _ARTISTID (one each), _ALBUMARTISTID (one each), ALBUMARTIST, DISCNUMBER, DISCTOTAL,
// ORIGINALDATE, RELEASECOUNTRY, BARCODE (when the disc gives none of its own), LABEL,
// CATALOGNUMBER, MEDIA.
void AppendReleaseComments(TagFields& fields, const TrackRecord& track,
                           const RipSettings& settings);

// TXXX "MusicBrainz Album Id", "... Release Group Id", "... Release Track Id", "... Artist Id",
// "... Album Artist Id", "CATALOGNUMBER" and "BARCODE" (when the disc gives none), UFID
// kMusicBrainzUfidOwner (the recording), TPE2, TPOS ("1/2"), TDOR, TPUB, TMED; TDRC is the
// caller's, from ReleaseDateOf. Earlier frames of these names are replaced.
void PutReleaseFrames(TagLib::ID3v2::Tag& tag, const TrackRecord& track,
                      const RipSettings& settings);
