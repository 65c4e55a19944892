// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The album's cover for a rip, once before its first track: the user's own picture
// (ripSettings.coverFile), else, when asked ([CoverArt] Fetch) for a disc a MusicBrainz release
// named, the Cover Art Archive's. The original is saved in the album folder as cover.jpg or
// cover.png unless a file of that name is there; the encoders embed ripSettings.coverArt. A
// cover that cannot be had is said (an error box) and the rip goes on without one; the log
// tells what became of it (ripSettings.coverNote). Worker thread; a stop ends the fetch.
#include "capture/rip_host.h"

void PrepareCoverArt(RipHost& mainWindow);
