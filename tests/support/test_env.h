// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Helpers every test program shares: temporary folders, a private config folder, running the
// project's own executables, and making disc images with mkdisc.
#include <optional>
#include <string>
#include <vector>

// A fresh folder under $TMPDIR, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Points XDG_CONFIG_HOME (and XDG_CACHE_HOME below it) at a temporary folder for the object's
// life, so no test reads or writes the user's real Obrin.ini or cached database replies.
class ScopedConfigHome {
 public:
  ScopedConfigHome();
  ~ScopedConfigHome();
  const std::string& path() const { return dir_.path(); }
  std::string iniPath() const { return dir_.path() + "/obrin/Obrin.ini"; }
  std::string cachePath() const { return dir_.path() + "/cache/obrin/"; }

 private:
  static constexpr const char* kVariables[] = {"XDG_CONFIG_HOME", "XDG_CACHE_HOME"};
  TempDir dir_;
  std::optional<std::string> saved_[2];
};

struct CommandResult {
  int exitStatus = -1;  // exit code, or 128 + signal number
  std::string out;
  std::string err;
};

// Runs `args` (args[0] is looked up in the build's bin folder when it has no "/"), with
// `extraEnv` ("NAME=value") added to the environment and standard input from /dev/null.
CommandResult RunCommand(const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv = {});

// Path of one of the project's built executables.
std::string BinPath(const std::string& name);

// LD_PRELOAD for a child that is to see the emulated drive (tools/emudrive): the library,
// after the sanitizer runtime when this program has one (the children are built alike, and
// their runtime must come first in the list).
std::string EmulatedDrivePreload();

// Runs mkdisc with `args`; fails the current test when it does not exit 0.
void MakeDisc(const std::vector<std::string>& args);
// Runs mkdisc PATH ARGS...; returns PATH.
std::string MakeDiscAt(const std::string& path, const std::vector<std::string>& args);

// The settings file a first run writes, byte for byte, with `outputFolder` as [Output] Path.
std::string FreshSettingsFile(const std::string& outputFolder);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
