// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// obrin: the window.
#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app_options.h"
#include "app/obrin_app.h"
#include "platform/std_streams.h"

int main(int argc, char** argv) {
  if (!EnsureStandardDescriptors()) return 2;
  // Checked before Qt starts, so --help, --version and usage errors need no display.
  const AppParseResult parsed = ParseAppOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "obrin: %s\nTry 'obrin --help' for more information.\n",
                 parsed.error.c_str());
    return 2;
  }
  if (parsed.options.help) {
    std::fputs(kAppUsage, stdout);
    return 0;
  }
  if (parsed.options.version) {
    std::printf("obrin (Obrin) %s\n", OBRIN_VERSION);
    return 0;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Obrin"));
  // Ties the window to its desktop entry, whose name and icon the desktop then shows.
  QApplication::setDesktopFileName(QStringLiteral("org.example.obrin"));
  return RunObrin(app, parsed.options);
}
