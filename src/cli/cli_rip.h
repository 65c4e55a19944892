// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Ripping from the terminal: obrin-rip's host for the rip engine.
#include <cstdio>

#include "cli/cli_options.h"
#include "config/settings.h"

// Rips the tracks `options` names from the built track list with live progress, and returns
// the exit status: 0 when every ripped track ended "Completed", 1 when any did not, 2 for a
// usage error. After the stop path: 128 + the signal for SIGINT (130), SIGTERM (143) and
// SIGHUP (129), 141 when standard output or error could not be written. A second of those
// signals ends the process at once with 128 + its number.
int RunCliRip(RipSettings& settings, const CliOptions& options);

// obrin-rip --find-offset: looks the disc up in the AccurateRip database, reads up to three
// of its tracks once and prints every read offset at which they match, best first. 0 when
// one matched, 1 when none did, 2 when the database has nothing to compare with; the
// signals as RunCliRip.
int RunCliFindOffset(RipSettings& settings, const std::string& driveSection = {});

// obrin-rip --lookup: asks MusicBrainz for the disc and takes the names of release number
// `release` (from 1) into the settings. With several releases, lists them to `releaseList`
// ("1: ARTIST – TITLE (YEAR, COUNTRY, BARCODE)"). Not found or failed: says so on standard
// error and returns 0 (the run goes on with what the disc says); 2 when there is no such
// release; the signals as RunCliRip.
int RunCliLookup(RipSettings& settings, int release, FILE* releaseList);
