// A stand-in for liblame_enc.so that breaks the program's MP3 path on demand, for tests that
// run obrin-rip as a process. OBRIN_FAKE_LAME_FAIL="init": beInitStream refuses the settings;
// "stall": the second beEncodeChunk never returns, as a drive stuck on a scratched disc holds
// the worker. Each chunk writes "E<nSamples>\n", the flush "D\n". Built with
// OBRIN_FAKE_LAME_NO_VBR_HEADER, beWriteVBRHeader is not exported at all.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "encoders/lame_enc/lame_enc.h"

namespace {

HBE_STREAM const kHandle = reinterpret_cast<HBE_STREAM>(uintptr_t{0x0bad});
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
  *phbeStream = kHandle;
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beEncodeChunk(HBE_STREAM hbeStream, uint32_t nSamples, const int16_t*, uint8_t* pOutput,
                     uint32_t* pdwOutput) {
  if (hbeStream != kHandle) return BE_ERR_INVALID_HANDLE;
  if (Fails("stall") && ++gEncodeCalls >= 2) {
    for (;;) pause();
  }
  *pdwOutput = static_cast<uint32_t>(std::snprintf(reinterpret_cast<char*>(pOutput), 64, "E%u\n",
                                                   static_cast<unsigned>(nSamples)));
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beDeinitStream(HBE_STREAM hbeStream, uint8_t* pOutput, uint32_t* pdwOutput) {
  if (hbeStream != kHandle) return BE_ERR_INVALID_HANDLE;
  std::memcpy(pOutput, "D\n", 2);
  *pdwOutput = 2;
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beCloseStream(HBE_STREAM hbeStream) {
  return hbeStream == kHandle ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_HANDLE;
}

void beVersion(PBE_VERSION pbeVersion) {
  std::memset(pbeVersion, 0, sizeof *pbeVersion);
}

#ifndef OBRIN_FAKE_LAME_NO_VBR_HEADER
BE_ERR beWriteVBRHeader(const char*) {
  return BE_ERR_SUCCESSFUL;
}
#endif

}  // extern "C"
