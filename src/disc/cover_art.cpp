// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/cover_art.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "disc/cover_picture_check.h"
#include "platform/base_dirs.h"
#include "platform/cached_get.h"

namespace {

// An MBID is a UUID: anything else never reaches a URL or a cache file name.
bool IsMbid(const std::string& id) {
  if (id.size() != 36) return false;
  for (size_t i = 0; i < id.size(); ++i) {
    const char c = id[i];
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string CacheFolder() {
  return XdgBaseFolder("XDG_CACHE_HOME", ".cache") + "/obrin/coverart/";
}

struct Fetched {
  CoverArtFetch::Kind kind = CoverArtFetch::kNone;
  CoverPicture picture;
  std::string reason;
};

// `what` is "release" or "release-group", `front` "front" or "front-500".
Fetched FetchPicture(const std::string& server, const char* what, const std::string& id,
                     const std::string& front, const std::function<bool()>& cancelled) {
  HttpLimits limits;
  limits.maxBytes = kCoverMaxBytes;
  const std::string url = server + "/" + what + "/" + id + "/" + front;
  const CachedReply reply = CachedHttpGet(
      url, CacheFolder() + what + "-" + id + "-" + front,
      [](std::string_view body) {
        return CheckCoverPicture(std::string(body)).picture.has_value();
      },
      limits, cancelled);
  Fetched fetched;
  switch (reply.kind) {
    case CachedReply::kBody: {
      CheckedPicture checked = CheckCoverPicture(reply.body);
      if (checked.picture) {
        fetched.kind = CoverArtFetch::kFound;
        fetched.picture = std::move(*checked.picture);
      } else {
        fetched.kind = CoverArtFetch::kFailed;
        fetched.reason = "refused: " + checked.problem;
      }
      break;
    }
    case CachedReply::kNotFound:
      break;
    case CachedReply::kFailed:
      fetched.kind = CoverArtFetch::kFailed;
      fetched.reason = reply.reason;
      break;
    case CachedReply::kTooLarge:
      fetched.kind = CoverArtFetch::kFailed;
      fetched.reason = "the picture is larger than 16 MiB";
      break;
    case CachedReply::kCancelled:
      fetched.kind = CoverArtFetch::kCancelled;
      break;
  }
  return fetched;
}

}  // namespace

int CoverThumbnailSize(int embedSize) {
  if (embedSize <= 0) return 0;
  if (embedSize >= 1200) return 1200;
  return embedSize >= 500 ? 500 : 250;
}

CoverArtFetch FetchCoverArt(const std::string& server, const std::string& releaseId,
                            const std::string& releaseGroupId, int embedSize,
                            const std::function<bool()>& cancelled) {
  CoverArtFetch fetch;
  if (!IsMbid(releaseId)) return fetch;
  std::string base = server;
  while (!base.empty() && base.back() == '/') base.pop_back();
  const char* what = "release";
  std::string id = releaseId;
  Fetched original = FetchPicture(base, what, id, "front", cancelled);
  if (original.kind == CoverArtFetch::kNone && IsMbid(releaseGroupId)) {
    what = "release-group";
    id = releaseGroupId;
    original = FetchPicture(base, what, id, "front", cancelled);
  }
  fetch.kind = original.kind;
  fetch.reason = std::move(original.reason);
  if (fetch.kind != CoverArtFetch::kFound) return fetch;
  fetch.art.original = std::move(original.picture);
  const int thumbnail = CoverThumbnailSize(embedSize);
  if (thumbnail == 0) {
    fetch.art.embedded = fetch.art.original;
    return fetch;
  }
  Fetched small = FetchPicture(base, what, id, "front-" + std::to_string(thumbnail), cancelled);
  if (small.kind == CoverArtFetch::kCancelled) {
    fetch.kind = CoverArtFetch::kCancelled;
  } else if (small.kind == CoverArtFetch::kFound) {
    fetch.art.embedded = std::move(small.picture);
  } else {
    // No thumbnail to be had: the files still get the cover, as large as it is.
    fetch.art.embedded = fetch.art.original;
  }
  return fetch;
}

CoverArtFetch ReadCoverFile(const std::string& path) {
  CoverArtFetch fetch;
  fetch.kind = CoverArtFetch::kFailed;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    fetch.reason = "cannot read " + path;
    return fetch;
  }
  std::string bytes;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes.append(buffer, static_cast<size_t>(in.gcount()));
    if (bytes.size() > kCoverMaxBytes) {
      fetch.reason = path + " is larger than 16 MiB";
      return fetch;
    }
  }
  CheckedPicture checked = CheckCoverPicture(std::move(bytes));
  if (!checked.picture) {
    fetch.reason = "refused: " + checked.problem;
    return fetch;
  }
  fetch.kind = CoverArtFetch::kFound;
  fetch.art.original = std::move(*checked.picture);
  fetch.art.embedded = fetch.art.original;
  return fetch;
}

std::string CoverArtText(const CoverArtFetch& fetch) {
  const auto describe = [](const CoverPicture& picture) {
    return picture.mimeType + " " + std::to_string(picture.width) + " x " +
           std::to_string(picture.height);
  };
  switch (fetch.kind) {
    case CoverArtFetch::kNone:
      return "none";
    case CoverArtFetch::kFailed:
      return "not fetched: " + fetch.reason;
    case CoverArtFetch::kCancelled:
      return "not fetched: cancelled";
    case CoverArtFetch::kFound:
      break;
  }
  std::string text = describe(fetch.art.original);
  if (fetch.art.embedded.bytes != fetch.art.original.bytes) {
    text += " (embedded " + describe(fetch.art.embedded) + ")";
  }
  return text;
}
