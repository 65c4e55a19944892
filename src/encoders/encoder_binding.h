// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Binding the MP3 encoder library "liblame_enc.so" at run time, once per job.
// Worker thread only.
#include "capture/rip_host.h"
#include "encoders/lame_enc/lame_enc.h"

constexpr const char* kEncoderLibraryName = "liblame_enc.so";

// The library's six entry points while it is bound; all null otherwise.
struct LameEntryPoints {
  BEINITSTREAM beInitStream = nullptr;
  BEENCODECHUNK beEncodeChunk = nullptr;
  BEDEINITSTREAM beDeinitStream = nullptr;
  BECLOSESTREAM beCloseStream = nullptr;
  BEVERSION beVersion = nullptr;
  BEWRITEVBRHEADER beWriteVBRHeader = nullptr;
};
extern LameEntryPoints lameApi;

// Loads the library by bare name (so the loader's search order applies: LD_LIBRARY_PATH,
// then the folder of the executables) and looks up all six entry points. On failure shows
// the error box and returns false, leaving nothing loaded. Returns true at once when bound.
bool BindEncoderLibrary(RipHost& mainWindow);
// True once BindEncoderLibrary succeeded and until ReleaseEncoderLibrary.
bool EncoderLibraryBound();
// Unloads the library when it is loaded.
void ReleaseEncoderLibrary();
