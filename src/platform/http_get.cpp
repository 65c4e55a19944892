// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "platform/http_get.h"

#include <curl/curl.h>

#include <mutex>

namespace {

struct Transfer {
  HttpReply* reply;
  std::size_t maxBytes;
  const std::function<bool()>* cancelled;
  bool tooLarge = false;
  bool wasCancelled = false;
};

size_t Collect(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (transfer->reply->body.size() + bytes > transfer->maxBytes) {
    transfer->tooLarge = true;
    return 0;  // ends the transfer with CURLE_WRITE_ERROR
  }
  transfer->reply->body.append(data, bytes);
  return bytes;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* transfer = static_cast<Transfer*>(user);
  if (*transfer->cancelled && (*transfer->cancelled)()) {
    transfer->wasCancelled = true;
    return 1;  // ends the transfer with CURLE_ABORTED_BY_CALLBACK
  }
  return 0;
}

}  // namespace

HttpReply HttpGet(const std::string& url, const HttpLimits& limits,
                  const std::function<bool()>& cancelled) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  HttpReply reply;
  CURL* curl = curl_easy_init();
  if (!curl) {
    reply.error = "out of memory";
    return reply;
  }
  Transfer transfer{&reply, limits.maxBytes, &cancelled};
  char errorText[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kHttpUserAgent);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // worker threads: no SIGALRM for time-outs
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  if (limits.maxBytes < 0x7FFFFFFF) {
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE, static_cast<long>(limits.maxBytes));
  }

  const CURLcode code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
  if (transfer.wasCancelled) {
    reply.outcome = HttpReply::kCancelled;
  } else if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
    reply.outcome = HttpReply::kTooLarge;
  } else if (code != CURLE_OK) {
    reply.outcome = HttpReply::kFailed;
    reply.error = errorText[0] ? errorText : curl_easy_strerror(code);
  } else if (reply.status < 200 || reply.status > 299) {
    reply.outcome = HttpReply::kHttpError;
  } else {
    reply.outcome = HttpReply::kOk;
  }
  if (reply.outcome != HttpReply::kOk) reply.body.clear();
  curl_easy_cleanup(curl);
  return reply;
}
