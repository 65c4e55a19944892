// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The Cover Art Archive: a release's front cover, looked up by its MusicBrainz id only when
// the user asks for cover art. GET SERVER/release/MBID/front (redirects followed), the release
// group's front when the release has none, and the front-250/500/1200 thumbnail for the copy
// the files embed. Each reply is at most 16 MiB and 15 s, kept a week in
// ${XDG_CACHE_HOME}/obrin/coverart/; a picture must pass CheckCoverPicture to be taken.
#include <functional>
#include <string>

#include "config/release_tags.h"

inline constexpr size_t kCoverMaxBytes = size_t{16} << 20;

struct CoverArtFetch {
  enum Kind { kFound, kNone, kFailed, kCancelled };
  Kind kind = kNone;
  CoverArt art;        // kFound
  std::string reason;  // kFailed: "HTTP status 503", "not a JPEG or PNG picture", ...
};

// The archive's thumbnail for an embedded copy at most `embedSize` pixels wide: the largest
// of 250, 500 and 1200 within it (250 below that); 0 for the original (`embedSize` 0).
int CoverThumbnailSize(int embedSize);

// One release's front; `releaseGroupId` may be empty. `cancelled` is polled throughout.
CoverArtFetch FetchCoverArt(const std::string& server, const std::string& releaseId,
                            const std::string& releaseGroupId, int embedSize,
                            const std::function<bool()>& cancelled = {});

// The user's own picture file, as the archive's would be taken (embedded as it is).
CoverArtFetch ReadCoverFile(const std::string& path);

// The log's text: "none", "image/png 1200 x 1200 (embedded image/jpeg 500 x 500)",
// "not fetched: REASON".
std::string CoverArtText(const CoverArtFetch& fetch);
