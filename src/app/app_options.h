// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// obrin's command line: `obrin [--image FILE]... [--help] [--version]`, with Qt's own options
// (-platform NAME, -style NAME, ...) passed through to Qt untouched.
#include <string>
#include <vector>

struct AppOptions {
  std::vector<std::string> images;
  bool help = false;
  bool version = false;
};

struct AppParseResult {
  AppOptions options;
  std::string error;  // non-empty: a usage error (exit status 2)
};

// `args` without the program name.
AppParseResult ParseAppOptions(const std::vector<std::string>& args);

extern const char* const kAppUsage;
