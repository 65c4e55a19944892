// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "rip/cover_stage.h"

#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <system_error>

#include "config/settings.h"
#include "disc/cover_art.h"
#include "disc/cover_picture_check.h"
#include "disc/output_naming.h"
#include "platform/atomic_file.h"

void PrepareCoverArt(RipHost& mainWindow) {
  RipSettings& settings = ripSettings;
  settings.coverArt.reset();
  settings.coverNote.clear();
  if (settings.checkOnly) return;
  CoverArtFetch fetch;
  if (!settings.coverFile.empty()) {
    fetch = ReadCoverFile(settings.coverFile);
  } else if (settings.fetchCoverArt && !settings.release.releaseId.empty()) {
    fetch = FetchCoverArt(settings.coverArtServer, settings.release.releaseId,
                          settings.release.releaseGroupId, settings.coverEmbedSize,
                          [] { return ripSettings.ripping == 0; });
  } else {
    return;
  }
  settings.coverNote = CoverArtText(fetch);
  // The user's own file was not fetched: it was not taken.
  if (fetch.kind == CoverArtFetch::kFailed && !settings.coverFile.empty()) {
    settings.coverNote = "not taken: " + fetch.reason;
  }
  if (fetch.kind == CoverArtFetch::kFailed) {
    mainWindow.ShowErrorBox("Cover art " + settings.coverNote);
    return;
  }
  if (fetch.kind != CoverArtFetch::kFound) return;
  const std::string folder = JoinFolder(CurrentOutputFolder(settings), AlbumFolderName(settings));
  const std::string name = CoverFileName(fetch.art.original);
  const std::string path = JoinFolder(folder, name);
  struct stat st;
  std::error_code error;
  if (lstat(path.c_str(), &st) == 0) {
    settings.coverNote += ", " + name + " kept";
  } else if (std::filesystem::create_directories(folder, error),
             ReplaceFileAtomically(path, fetch.art.original.bytes)) {
    settings.coverNote += ", saved as " + name;
  } else {
    settings.coverNote += ", not saved";
    mainWindow.ShowErrorBox("Cannot write " + path);
  }
  settings.coverArt = std::make_shared<const CoverArt>(std::move(fetch.art));
}
