// A stand-in for liblame_enc.so that lets tests watch and break the program's MP3 path.
//
// Environment:
//   OBRIN_FAKE_LAME_RECORD  file that receives the 331 raw bytes of each BE_CONFIG passed to
//                           beInitStream (replaced on every call).
//   OBRIN_FAKE_LAME_LOG     file to which every call appends one line: "beVersion",
//                           "beInitStream", "beEncodeChunk <nSamples>", "beDeinitStream",
//                           "beCloseStream", "beWriteVBRHeader <path>".
//   OBRIN_FAKE_LAME_FAIL    "init": beInitStream fails (no stream); "encode": beEncodeChunk fails
//                           from call OBRIN_FAKE_LAME_FAIL_AT on (1-based, default 1); "deinit":
//                           beDeinitStream fails. Failures return BE_ERR_INVALID_FORMAT_PARAMETERS.
//                           "stall": beEncodeChunk never returns from call FAIL_AT on, as a
//                           drive stuck on a scratched disc holds the worker.
//   OBRIN_FAKE_LAME_CHUNK   samplesPerChunk to answer (even, default 4608).
// Output: each encoded chunk produces the text "E<nSamples>\n", the flush "D\n", so a test can
// read back which chunks reached the file. The output buffer asked for is 64 bytes.
// Built with OBRIN_FAKE_LAME_NO_VBR_HEADER, beWriteVBRHeader is not exported at all.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include <unistd.h>

#include "encoders/lame_enc/lame_enc.h"

namespace {

constexpr uint32_t kOutputBufferSize = 64;
HBE_STREAM const kHandle = reinterpret_cast<HBE_STREAM>(uintptr_t{0x0bad});

std::mutex gMutex;
bool gOpen = false;
bool gFlushed = false;
unsigned gEncodeCalls = 0;

const char* Env(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

bool Fails(const char* stage) {
  const char* fail = Env("OBRIN_FAKE_LAME_FAIL");
  return fail && std::strcmp(fail, stage) == 0;
}

void Log(const std::string& line) {
  const char* path = Env("OBRIN_FAKE_LAME_LOG");
  if (!path) return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

void Record(const BE_CONFIG& config) {
  const char* path = Env("OBRIN_FAKE_LAME_RECORD");
  if (!path) return;
  if (FILE* f = std::fopen(path, "wb")) {
    std::fwrite(&config, 1, sizeof config, f);
    std::fclose(f);
  }
}

uint32_t ChunkSamples() {
  const char* value = Env("OBRIN_FAKE_LAME_CHUNK");
  const unsigned long chunk = value ? std::strtoul(value, nullptr, 10) : 4608;
  return chunk >= 2 && chunk % 2 == 0 && chunk <= (1u << 24) ? static_cast<uint32_t>(chunk) : 4608;
}

unsigned FailAt() {
  const char* value = Env("OBRIN_FAKE_LAME_FAIL_AT");
  const unsigned long at = value ? std::strtoul(value, nullptr, 10) : 1;
  return at == 0 ? 1 : static_cast<unsigned>(at);
}

}  // namespace

extern "C" {

BE_ERR beInitStream(PBE_CONFIG pbeConfig, uint32_t* dwSamples, uint32_t* dwBufferSize,
                    HBE_STREAM* phbeStream) {
  std::lock_guard lock(gMutex);
  Log("beInitStream");
  if (!pbeConfig || !dwSamples || !dwBufferSize || !phbeStream) {
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
  }
  Record(*pbeConfig);
  if (Fails("init")) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  gOpen = true;
  gFlushed = false;
  gEncodeCalls = 0;
  *dwSamples = ChunkSamples();
  *dwBufferSize = kOutputBufferSize;
  *phbeStream = kHandle;
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beEncodeChunk(HBE_STREAM hbeStream, uint32_t nSamples, const int16_t* pSamples,
                     uint8_t* pOutput, uint32_t* pdwOutput) {
  std::lock_guard lock(gMutex);
  Log("beEncodeChunk " + std::to_string(nSamples));
  if (pdwOutput) *pdwOutput = 0;
  if (hbeStream != kHandle || !gOpen || gFlushed) return BE_ERR_INVALID_HANDLE;
  if (!pSamples || !pOutput || !pdwOutput || nSamples > ChunkSamples()) {
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
  }
  ++gEncodeCalls;
  if (Fails("stall") && gEncodeCalls >= FailAt()) {
    for (;;) pause();
  }
  if (Fails("encode") && gEncodeCalls >= FailAt()) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  const int n = std::snprintf(reinterpret_cast<char*>(pOutput), kOutputBufferSize, "E%u\n",
                              static_cast<unsigned>(nSamples));
  *pdwOutput = static_cast<uint32_t>(n);
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beDeinitStream(HBE_STREAM hbeStream, uint8_t* pOutput, uint32_t* pdwOutput) {
  std::lock_guard lock(gMutex);
  Log("beDeinitStream");
  if (pdwOutput) *pdwOutput = 0;
  if (hbeStream != kHandle || !gOpen || gFlushed) return BE_ERR_INVALID_HANDLE;
  if (!pOutput || !pdwOutput) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  gFlushed = true;
  if (Fails("deinit")) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  std::memcpy(pOutput, "D\n", 2);
  *pdwOutput = 2;
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beCloseStream(HBE_STREAM hbeStream) {
  std::lock_guard lock(gMutex);
  Log("beCloseStream");
  if (hbeStream != kHandle || !gOpen) return BE_ERR_INVALID_HANDLE;
  gOpen = false;
  return BE_ERR_SUCCESSFUL;
}

void beVersion(PBE_VERSION pbeVersion) {
  std::lock_guard lock(gMutex);
  Log("beVersion");
  if (!pbeVersion) return;
  std::memset(pbeVersion, 0, sizeof *pbeVersion);
  pbeVersion->byDLLMajorVersion = 1;
  std::strcpy(pbeVersion->zHomepage, "fake");
}

#ifndef OBRIN_FAKE_LAME_NO_VBR_HEADER
BE_ERR beWriteVBRHeader(const char* lpszFileName) {
  std::lock_guard lock(gMutex);
  Log(std::string("beWriteVBRHeader ") + (lpszFileName ? lpszFileName : "(null)"));
  return BE_ERR_SUCCESSFUL;
}
#endif

}  // extern "C"
