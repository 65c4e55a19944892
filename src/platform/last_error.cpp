// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "platform/last_error.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstring>

std::string GetLastErrorText() {
  std::string text;
  if (const char* loaderText = dlerror()) {
    text = loaderText;
  } else if (errno != 0) {
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    text = strerror_r(errno, buffer, sizeof buffer);
  }
  if (text.size() > 127) text.resize(127);
  return text;
}
