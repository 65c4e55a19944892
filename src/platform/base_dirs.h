// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Where a user's files go on a freedesktop.org system: the home folder and the XDG base
// directories.
#include <string>

// $HOME, else the password database's entry, else ".".
std::string HomeFolder();

// The base directory `variable` names (e.g. XDG_CACHE_HOME) when it is an absolute path (the
// rules say to ignore relative ones), else HOME/`belowHome` (e.g. ".cache"); without a
// trailing "/" ("" for the root folder).
std::string XdgBaseFolder(const char* variable, const char* belowHome);
