// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "support/test_env.h"

#include "support/process.h"

#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <gtest/gtest.h>

#include "config/settings.h"

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/obrin-test-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // A test may have left read-only folders behind; give them back their write bit first.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored)) chmod(it->path().c_str(), 0700);
  }
  chmod(path_.c_str(), 0700);
  std::filesystem::remove_all(path_, ignored);
}

ScopedConfigHome::ScopedConfigHome() {
  for (size_t i = 0; i < std::size(kVariables); ++i) {
    if (const char* old = std::getenv(kVariables[i])) saved_[i] = old;
  }
  setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
  setenv("XDG_CACHE_HOME", (dir_.path() + "/cache").c_str(), 1);
}

ScopedConfigHome::~ScopedConfigHome() {
  for (size_t i = 0; i < std::size(kVariables); ++i) {
    if (saved_[i]) {
      setenv(kVariables[i], saved_[i]->c_str(), 1);
    } else {
      unsetenv(kVariables[i]);
    }
  }
}

std::string BinPath(const std::string& name) {
  return std::string(OBRIN_BIN_DIR) + "/" + name;
}

CommandResult RunCommand(const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv) {
  ChildProcess child;
  ChildOptions options;
  options.env = extraEnv;
  if (!child.Start(args, options)) return {-1, "", child.err()};
  return child.Wait();
}

void MakeDisc(const std::vector<std::string>& args) {
  std::vector<std::string> full = {"mkdisc"};
  full.insert(full.end(), args.begin(), args.end());
  CommandResult r = RunCommand(full);
  ASSERT_EQ(r.exitStatus, 0) << "mkdisc failed: " << r.err;
}

std::string MakeDiscAt(const std::string& path, const std::vector<std::string>& args) {
  std::vector<std::string> full = {path};
  full.insert(full.end(), args.begin(), args.end());
  MakeDisc(full);
  return path;
}

std::string FreshSettingsFile(const std::string& outputFolder) {
  return "[Output]\nPath=" + outputFolder +
         "\nWriteLog=FALSE\nDeemphasis=FALSE\nTemplate=$a-$t\n[WAV Setting]\nsamplerate=Same as "
         "input\nsamplebits=16 "
         "bits\nchannels=Stereo\n"
         "[MP3 Setting]\nsamplerate=Same as input\nchannels=Stereo\nbitrate=128 kbps\n"
         "mpegquality=Very high\nvbr=TRUE\nvbrmax=192 kbps\nvbrquality=2\n"
         "[OGG Setting]\nsamplerate=Same as input\nchannels=Stereo\ncbr=128 kbps\n"
         "usecbr=FALSE\nbbrnom=128 kbps\nbbrmin=128 kbps\nbbrmax=256 kbps\n"
         "usebbr=FALSE\nvbr=9\nusevbr=TRUE\n[FLAC "
         "Setting]\nlevel=5\n[OPUS Setting]\nbitrate=160 "
         "kbps\nmode=VBR\ncomplexity=10\n[Drive]\nReadOffset=0\n[AccurateRip]"
         "\nVerify=FALSE\n"
         "Secure=FALSE\nServer=" +
         std::string(kDefaultAccurateRipServer) + "\n[CTDB]\nServer=" + kCtdbDefaultServer +
         "\n[MusicBrainz]\nServer=" + kDefaultMusicBrainzServer +
         "\nLookUpOnLoad=FALSE\n"
         "[CoverArt]\nFetch=FALSE\nServer=" +
         kDefaultCoverArtServer +
         "\nEmbedSize=500\n"
         "[ReplayGain]\nEnabled=FALSE\nTruePeak=FALSE\n";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string EmulatedDrivePreload() {
  std::string runtime;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) {
        const std::string name = info->dlpi_name ? info->dlpi_name : "";
        if (name.find("/libasan.so") != std::string::npos ||
            name.find("/libtsan.so") != std::string::npos) {
          *static_cast<std::string*>(out) = name;
        }
        return 0;
      },
      &runtime);
  const std::string shim = BinPath("libemudrive.so");
  return runtime.empty() ? shim : runtime + " " + shim;
}
