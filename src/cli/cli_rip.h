#pragma once
// Ripping from the terminal: obrin-rip's host for the rip engine.
#include "cli/cli_options.h"
#include "config/settings.h"

// Rips the tracks `options` names from the built track list with live progress, and returns
// the exit status: 0 when every ripped track ended "Completed", 1 when any did not, 2 for a
// usage error, 130 after Ctrl+C (the stop path has then run).
int RunCliRip(RipSettings& settings, const CliOptions& options);
