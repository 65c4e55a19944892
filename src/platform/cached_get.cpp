// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "platform/cached_get.h"

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/atomic_file.h"

namespace {

constexpr std::time_t kCacheSeconds = 7 * 24 * 3600;

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Through a temporary file and a rename: a reader never sees half a reply.
void KeepInCache(const std::string& path, const std::string& bytes) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  ReplaceFileAtomically(path, bytes);
}

}  // namespace

CachedReply CachedHttpGet(const std::string& url, const std::string& cacheFile,
                          const std::function<bool(std::string_view)>& usable,
                          const HttpLimits& limits, const std::function<bool()>& cancelled) {
  CachedReply answer;
  struct stat st;
  if (stat(cacheFile.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      std::time(nullptr) - st.st_mtime < kCacheSeconds) {
    std::string bytes = ReadWholeFile(cacheFile);
    if (bytes.empty()) return answer;  // a 404 kept
    if (usable(bytes)) {
      answer.kind = CachedReply::kBody;
      answer.body = std::move(bytes);
      return answer;
    }
  }
  HttpReply reply = HttpGet(url, limits, cancelled);
  switch (reply.outcome) {
    case HttpReply::kOk:
      answer.kind = CachedReply::kBody;
      if (usable(reply.body)) KeepInCache(cacheFile, reply.body);
      answer.body = std::move(reply.body);
      break;
    case HttpReply::kHttpError:
      if (reply.status == 404) {
        KeepInCache(cacheFile, "");
      } else {
        answer.kind = CachedReply::kFailed;
        answer.reason = "HTTP status " + std::to_string(reply.status);
      }
      break;
    case HttpReply::kTooLarge:
      answer.kind = CachedReply::kTooLarge;
      break;
    case HttpReply::kFailed:
      answer.kind = CachedReply::kFailed;
      answer.reason = reply.error;
      break;
    case HttpReply::kCancelled:
      answer.kind = CachedReply::kCancelled;
      break;
  }
  return answer;
}
