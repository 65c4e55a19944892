// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// An HTTP GET whose answers are kept in a cache file for a week, as the databases' replies
// are: a second look at the same disc then needs no network. A 404 is kept too (as an empty
// file: the database does not hold the disc); failures are never kept.
#include <functional>
#include <string>
#include <string_view>

#include "platform/http_get.h"

struct CachedReply {
  enum Kind {
    kBody,      // a reply (from the cache or the server): `body`
    kNotFound,  // 404, now or within the week
    kFailed,    // no reply, or another status: `reason` ("HTTP status 503", the transport's)
    kTooLarge,  // longer than the limit
    kCancelled,
  };
  Kind kind = kNotFound;
  std::string body;
  std::string reason;
};

// `usable(body)`: whether a body is a reply the caller can read. A cached one that is not is
// fetched again; a fetched one that is not is handed back but not kept.
CachedReply CachedHttpGet(const std::string& url, const std::string& cacheFile,
                          const std::function<bool(std::string_view)>& usable,
                          const HttpLimits& limits = {},
                          const std::function<bool()>& cancelled = {});
