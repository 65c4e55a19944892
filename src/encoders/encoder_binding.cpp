// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "encoders/encoder_binding.h"

#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // dlmopen
#endif
#include <dlfcn.h>

#include <cstdio>

#include "platform/last_error.h"

LameEntryPoints lameApi;

namespace {

void* libraryHandle = nullptr;

template <typename Function>
bool LookUp(Function& slot, const char* name) {
  slot = reinterpret_cast<Function>(dlsym(libraryHandle, name));
  return slot != nullptr;
}

}  // namespace

bool BindEncoderLibrary(RipHost& mainWindow) {
  if (libraryHandle) return true;
  dlerror();  // only this load's failure may reach the message
  // dlmopen into the base namespace is dlopen with the caller's search path ($ORIGIN of the
  // executables after LD_LIBRARY_PATH). Plain dlopen would do the same, except that sanitizer
  // runtimes intercept it and the lookup then runs with the runtime's path instead.
  libraryHandle = dlmopen(LM_ID_BASE, kEncoderLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (!libraryHandle) {
    char text[256];
    std::snprintf(text, sizeof text, "Error loading LAME encoder dll\n%s",
                  GetLastErrorText().c_str());
    mainWindow.ShowErrorBox(text);
    return false;
  }
  // All six are looked up even when an early one is missing.
  bool complete = true;
  complete &= LookUp(lameApi.beInitStream, TEXT_BEINITSTREAM);
  complete &= LookUp(lameApi.beEncodeChunk, TEXT_BEENCODECHUNK);
  complete &= LookUp(lameApi.beDeinitStream, TEXT_BEDEINITSTREAM);
  complete &= LookUp(lameApi.beCloseStream, TEXT_BECLOSESTREAM);
  complete &= LookUp(lameApi.beVersion, TEXT_BEVERSION);
  complete &= LookUp(lameApi.beWriteVBRHeader, TEXT_BEWRITEVBRHEADER);
  if (!complete) {
    ReleaseEncoderLibrary();
    mainWindow.ShowErrorBox("Error binding encoding functions from LAME dll");
    return false;
  }
  return true;
}

bool EncoderLibraryBound() {
  return libraryHandle != nullptr;
}

void ReleaseEncoderLibrary() {
  if (libraryHandle) dlclose(libraryHandle);
  libraryHandle = nullptr;
  lameApi = LameEntryPoints{};
}
