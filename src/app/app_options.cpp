// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/app_options.h"

#include <algorithm>
#include <string_view>

#include "disc/cdaccess.h"

const char* const kAppUsage =
    "Usage: obrin [--image FILE]... [--help] [--version]\n"
    "Rips audio CDs to WAV, MP3, Ogg Vorbis or FLAC files.\n"
    "\n"
    "  --image FILE  use a disc image (cue/bin, toc, nrg) as one more CD drive; repeatable\n"
    "  --help        show this help and exit\n"
    "  --version     show the version and exit\n"
    "\n"
    "Qt's own options (-platform NAME, -style NAME, ...) are accepted too.\n";

namespace {

// Qt's options, as QGuiApplication and QApplication take them (with one dash or two).
constexpr std::string_view kQtOptionsWithValue[] = {"platform",
                                                    "platformpluginpath",
                                                    "platformtheme",
                                                    "plugin",
                                                    "qmljsdebugger",
                                                    "style",
                                                    "stylesheet",
                                                    "session",
                                                    "display",
                                                    "geometry",
                                                    "title",
                                                    "name",
                                                    "qwindowgeometry",
                                                    "qwindowicon",
                                                    "qwindowtitle",
                                                    "widgetcount",
                                                    "fn",
                                                    "font",
                                                    "bg",
                                                    "background",
                                                    "fg",
                                                    "foreground",
                                                    "btn",
                                                    "button",
                                                    "visual",
                                                    "ncols",
                                                    "cmap",
                                                    "im",
                                                    "inputstyle"};
constexpr std::string_view kQtFlags[] = {"reverse", "nograb", "dograb", "sync", "testability"};

template <size_t N>
bool IsIn(const std::string_view (&list)[N], std::string_view name) {
  return std::find(std::begin(list), std::end(list), name) != std::end(list);
}

}  // namespace

AppParseResult ParseAppOptions(const std::vector<std::string>& args) {
  AppParseResult result;
  auto fail = [&](std::string message) {
    result.error = std::move(message);
    return result;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--image" || arg.rfind("--image=", 0) == 0) {
      std::string file;
      if (arg == "--image") {
        if (i + 1 >= args.size()) return fail("option '--image' needs a file name");
        file = args[++i];
      } else {
        file = arg.substr(8);
      }
      if (file.empty()) return fail("option '--image' needs a file name");
      if (result.options.images.size() >= static_cast<size_t>(kMaxCdDevices)) {
        return fail("too many disc images (at most " + std::to_string(kMaxCdDevices) + ")");
      }
      result.options.images.push_back(file);
    } else if (arg == "--help") {
      result.options.help = true;
    } else if (arg == "--version") {
      result.options.version = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      const std::string_view name = std::string_view(arg).substr(arg.rfind("--", 0) == 0 ? 2 : 1);
      if (IsIn(kQtOptionsWithValue, name)) {
        if (i + 1 >= args.size()) return fail("option '" + arg + "' needs a value");
        ++i;
      } else if (!IsIn(kQtFlags, name)) {
        return fail("unknown option '" + arg + "'");
      }
    } else {
      return fail("unexpected argument '" + arg + "'");
    }
  }
  return result;
}
