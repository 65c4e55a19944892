// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// One HTTP GET through libcurl, for the lookups a user asks for (the AccurateRip database,
// MusicBrainz). Bounded in every way: a connect time-out, a time-out for the whole request, a
// size limit on the reply, and a cancel check polled while it runs, so a stop or a Ctrl+C
// never waits for the network. Safe to call from any thread; never from the window's.
#include <cstddef>
#include <functional>
#include <string>

// Names Obrin and where to find it, as the services ask of a client.
inline constexpr char kHttpUserAgent[] = "Obrin/2.0 ( https://obrin.example.org/ )";

struct HttpLimits {
  long connectTimeoutMs = 5000;
  long totalTimeoutMs = 15000;
  std::size_t maxBytes = std::size_t{1} << 20;
};

struct HttpReply {
  enum Outcome {
    kOk,         // a reply with status 2xx, whole, within the size limit
    kHttpError,  // the server answered with another status (`status`)
    kTooLarge,   // the reply was longer than maxBytes (the transfer was cut)
    kFailed,     // no reply: refused, unknown host, time-out, ... (`error` says which)
    kCancelled,  // the cancel check said so
  };
  Outcome outcome = kFailed;
  long status = 0;
  std::string body;
  std::string error;
};

// `cancelled`, when given, is polled several times a second while the request runs.
HttpReply HttpGet(const std::string& url, const HttpLimits& limits = {},
                  const std::function<bool()>& cancelled = {});
