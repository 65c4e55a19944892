// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// A stand-in for liblame_enc.so that breaks the program's MP3 path on demand, for tests that
// run obrin-rip as a process. OBRIN_FAKE_LAME_FAIL="init": beInitStream refuses the settings;
// "stall": the second beEncodeChunk never returns, as a drive stuck on a scratched disc holds
// the worker; "untaggable": beWriteVBRHeader removes the file, as a user might just before the
// tag goes in. Built with OBRIN_FAKE_LAME_NO_VBR_HEADER, beWriteVBRHeader is not exported.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "encoders/lame_enc/lame_enc.h"

namespace {

unsigned gEncodeCalls = 0;  // the program encodes on one thread

bool Fails(const char* how) {
  const char* fail = std::getenv("OBRIN_FAKE_LAME_FAIL");
  return fail && std::strcmp(fail, how) == 0;
}

}  // namespace

extern "C" {

BE_ERR beInitStream(PBE_CONFIG, uint32_t* dwSamples, uint32_t* dwBufferSize,
                    HBE_STREAM* phbeStream) {
  if (Fails("init")) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  gEncodeCalls = 0;
  *dwSamples = 4608;
  *dwBufferSize = 64;
  *phbeStream = reinterpret_cast<HBE_STREAM>(uintptr_t{0x0bad});
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beEncodeChunk(HBE_STREAM, uint32_t, const int16_t*, uint8_t*, uint32_t* pdwOutput) {
  if (Fails("stall") && ++gEncodeCalls >= 2) {
    for (;;) pause();
  }
  *pdwOutput = 0;
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beDeinitStream(HBE_STREAM, uint8_t*, uint32_t* pdwOutput) {
  *pdwOutput = 0;
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beCloseStream(HBE_STREAM) {
  return BE_ERR_SUCCESSFUL;
}

void beVersion(PBE_VERSION pbeVersion) {
  std::memset(pbeVersion, 0, sizeof *pbeVersion);
}

#ifndef OBRIN_FAKE_LAME_NO_VBR_HEADER
BE_ERR beWriteVBRHeader(const char* path) {
  if (Fails("untaggable")) unlink(path);
  return BE_ERR_SUCCESSFUL;
}
#endif

}  // extern "C"
