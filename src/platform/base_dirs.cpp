// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "platform/base_dirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd pw;
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir && *found->pw_dir) {
    return found->pw_dir;
  }
  return ".";  // no home at all: the current folder is the only place left
}

std::string XdgBaseFolder(const char* variable, const char* belowHome) {
  std::string base;
  if (const char* value = std::getenv(variable); value && value[0] == '/') {
    base = value;
  } else {
    base = HomeFolder();
    if (base.back() == '/') base.pop_back();
    base += std::string("/") + belowHome;
  }
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}
