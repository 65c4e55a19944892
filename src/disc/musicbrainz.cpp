// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/musicbrainz.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "disc/cd_text.h"
#include "platform/http_get.h"

namespace {

using Json = nlohmann::json;

constexpr size_t kMaxReplyBytes = size_t{4} << 20;
constexpr auto kRequestSpacing = std::chrono::seconds(1);
constexpr char kIncludes[] = "inc=artist-credits+recordings+release-groups+labels&fmt=json";

// A string member, or empty when it is missing, null or of another type.
std::string Text(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? CleanCdText(it->get<std::string>()) : "";
}

std::string CreditText(const Json& object) {
  const auto credit = object.find("artist-credit");
  if (credit == object.end() || !credit->is_array()) return {};
  std::string names;
  for (const Json& part : *credit) {
    if (!part.is_object()) continue;
    const auto joinphrase = part.find("joinphrase");
    names += Text(part, "name");
    if (joinphrase != part.end() && joinphrase->is_string()) names += *joinphrase;
  }
  return CleanCdText(names);
}

// The MBID of each artist of the credit, in order.
std::vector<std::string> CreditIds(const Json& object) {
  std::vector<std::string> ids;
  const auto credit = object.find("artist-credit");
  if (credit == object.end() || !credit->is_array()) return ids;
  for (const Json& part : *credit) {
    if (!part.is_object()) continue;
    const auto artist = part.find("artist");
    if (artist == part.end() || !artist->is_object()) continue;
    std::string id = Text(*artist, "id");
    if (!id.empty()) ids.push_back(std::move(id));
  }
  return ids;
}

const Json* ObjectOf(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_object() ? &*it : nullptr;
}

const Json* ArrayOf(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_array() ? &*it : nullptr;
}

size_t TrackCount(const Json& medium) {
  if (const Json* tracks = ArrayOf(medium, "tracks")) return tracks->size();
  const auto count = medium.find("track-count");
  return count != medium.end() && count->is_number_unsigned() ? count->get<size_t>() : 0;
}

const Json* MediumOf(const Json& release, const std::string& discId, size_t audioTracks) {
  const Json* media = ArrayOf(release, "media");
  if (!media) return nullptr;
  for (const Json& medium : *media) {
    if (!medium.is_object()) continue;
    if (const Json* discs = ArrayOf(medium, "discs")) {
      for (const Json& disc : *discs) {
        if (disc.is_object() && !discId.empty() && Text(disc, "id") == discId) return &medium;
      }
    }
  }
  for (const Json& medium : *media) {
    if (medium.is_object() && TrackCount(medium) == audioTracks) return &medium;
  }
  return nullptr;
}

MusicBrainzRelease ReleaseOf(const Json& release, const std::string& discId, size_t audioTracks) {
  MusicBrainzRelease result;
  result.title = Text(release, "title");
  result.artist = CreditText(release);
  const std::string date = Text(release, "date");
  if (date.size() >= 4 &&
      std::all_of(date.begin(), date.begin() + 4, [](char c) { return c >= '0' && c <= '9'; })) {
    result.year = date.substr(0, 4);
  }
  result.country = Text(release, "country");
  result.barcode = Text(release, "barcode");
  const Json* medium = MediumOf(release, discId, audioTracks);
  ReleaseTags& tags = result.tags;
  tags.releaseId = Text(release, "id");
  tags.albumArtist = result.artist;
  tags.albumArtistIds = CreditIds(release);
  tags.date = date;
  tags.country = result.country;
  tags.barcode = result.barcode;
  if (const Json* group = ObjectOf(release, "release-group")) {
    tags.releaseGroupId = Text(*group, "id");
    tags.originalDate = Text(*group, "first-release-date");
  }
  // The first label that names itself, with its catalogue number.
  if (const Json* labels = ArrayOf(release, "label-info")) {
    for (const Json& info : *labels) {
      if (!info.is_object()) continue;
      const Json* label = ObjectOf(info, "label");
      const std::string name = label ? Text(*label, "name") : "";
      if (tags.label.empty() && !name.empty()) tags.label = name;
      if (tags.catalogNumber.empty()) tags.catalogNumber = Text(info, "catalog-number");
    }
  }
  if (const Json* media = ArrayOf(release, "media")) {
    tags.discTotal = static_cast<int32_t>(std::min<size_t>(media->size(), 999));
  }
  if (medium) {
    tags.media = Text(*medium, "format");
    const auto position = medium->find("position");
    if (position != medium->end() && position->is_number_unsigned()) {
      tags.discNumber = static_cast<int32_t>(std::min<uint64_t>(position->get<uint64_t>(), 999));
    }
  }
  if (tags.discNumber == 0 || tags.discNumber > tags.discTotal)
    tags.discNumber = tags.discTotal = 0;
  const auto entryOf = [&](const Json& track) {
    MusicBrainzTrack entry;
    entry.title = Text(track, "title");
    entry.ids.trackId = Text(track, "id");
    if (const Json* recording = ObjectOf(track, "recording")) {
      if (entry.title.empty()) entry.title = Text(*recording, "title");
      entry.ids.recordingId = Text(*recording, "id");
    }
    entry.ids.artistIds = CreditIds(track);
    if (entry.ids.artistIds.empty()) entry.ids.artistIds = tags.albumArtistIds;
    entry.artist = CreditText(track);
    if (entry.artist == result.artist) entry.artist.clear();
    return entry;
  };
  // The hidden track before track 1, where the medium lists it.
  if (medium) {
    if (const auto pregap = medium->find("pregap");
        pregap != medium->end() && pregap->is_object()) {
      result.hiddenTrack = entryOf(*pregap);
    }
  }
  const Json* tracks = medium ? ArrayOf(*medium, "tracks") : nullptr;
  if (!tracks) return result;
  for (const Json& track : *tracks) {
    if (track.is_object()) result.tracks.push_back(entryOf(track));
  }
  return result;
}

// Waits until a second has passed since the process's last request, unless cancelled.
bool WaitForTurn(const std::function<bool()>& cancelled) {
  static std::mutex mutex;
  static std::chrono::steady_clock::time_point last{};
  std::unique_lock lock(mutex);
  const auto turn = last + kRequestSpacing;
  while (std::chrono::steady_clock::now() < turn) {
    if (cancelled && cancelled()) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        std::chrono::milliseconds(50), turn - std::chrono::steady_clock::now()));
  }
  last = std::chrono::steady_clock::now();
  return true;
}

// One request; kFound with the releases, kNotFound for a 404 or no release.
MusicBrainzLookup Ask(const std::string& url, const std::string& discId, size_t audioTracks,
                      const std::function<bool()>& cancelled) {
  MusicBrainzLookup lookup;
  if (!WaitForTurn(cancelled)) {
    lookup.kind = MusicBrainzLookup::kCancelled;
    return lookup;
  }
  HttpLimits limits;
  limits.maxBytes = kMaxReplyBytes;
  const HttpReply reply = HttpGet(url, limits, cancelled);
  switch (reply.outcome) {
    case HttpReply::kOk:
      break;
    case HttpReply::kCancelled:
      lookup.kind = MusicBrainzLookup::kCancelled;
      return lookup;
    case HttpReply::kHttpError:
      if (reply.status != 404) {
        lookup.kind = MusicBrainzLookup::kFailed;
        lookup.reason = "the server answered with status " + std::to_string(reply.status);
      }
      return lookup;
    case HttpReply::kTooLarge:
      lookup.kind = MusicBrainzLookup::kFailed;
      lookup.reason = "the reply is larger than 4 MiB";
      return lookup;
    case HttpReply::kFailed:
      lookup.kind = MusicBrainzLookup::kFailed;
      lookup.reason = reply.error;
      return lookup;
  }
  auto releases = ParseMusicBrainzReply(reply.body, discId, audioTracks);
  if (!releases) {
    lookup.kind = MusicBrainzLookup::kFailed;
    lookup.reason = "the reply cannot be read";
  } else if (!releases->empty()) {
    lookup.kind = MusicBrainzLookup::kFound;
    lookup.releases = std::move(*releases);
  }
  return lookup;
}

}  // namespace

std::optional<std::vector<MusicBrainzRelease>> ParseMusicBrainzReply(std::string_view json,
                                                                     const std::string& discId,
                                                                     size_t audioTracks) {
  const Json reply = Json::parse(json, nullptr, /*allow_exceptions=*/false);
  if (!reply.is_object()) return std::nullopt;
  std::vector<MusicBrainzRelease> releases;
  if (const Json* list = ArrayOf(reply, "releases")) {
    for (const Json& release : *list) {
      if (release.is_object()) releases.push_back(ReleaseOf(release, discId, audioTracks));
    }
  }
  return releases;
}

MusicBrainzLookup LookUpMusicBrainz(const std::string& server, const MusicBrainzToc& toc,
                                    size_t audioTracks, const std::function<bool()>& cancelled) {
  std::string base = server;
  while (!base.empty() && base.back() == '/') base.pop_back();
  base += "/ws/2/discid/";
  MusicBrainzLookup lookup;
  if (toc.id.empty()) return lookup;  // no audio: nothing to look up
  lookup = Ask(base + toc.id + "?" + kIncludes, toc.id, audioTracks, cancelled);
  if (lookup.kind != MusicBrainzLookup::kNotFound) return lookup;
  return Ask(base + "-?toc=" + toc.toc + "&" + kIncludes, toc.id, audioTracks, cancelled);
}

std::string MusicBrainzReleaseText(const MusicBrainzRelease& release) {
  std::string details;
  for (const std::string* part : {&release.year, &release.country, &release.barcode}) {
    if (part->empty()) continue;
    details += (details.empty() ? "" : ", ") + *part;
  }
  return release.artist + " \u2013 " + release.title +
         (details.empty() ? "" : " (" + details + ")");
}

std::string MusicBrainzLookupText(const MusicBrainzLookup& lookup) {
  switch (lookup.kind) {
    case MusicBrainzLookup::kNotFound:
      return "Disc not found in MusicBrainz";
    case MusicBrainzLookup::kFailed:
      return "MusicBrainz lookup failed: " + lookup.reason;
    case MusicBrainzLookup::kCancelled:
      return "MusicBrainz lookup failed: cancelled";
    case MusicBrainzLookup::kFound:
      break;
  }
  return {};
}

void ApplyMusicBrainzRelease(const MusicBrainzRelease& release, DiscInfo& disc, TrackList& tracks) {
  disc.knownAlbum = release.title;
  disc.knownArtist = release.artist;
  disc.knownYear = release.year;
  disc.release = release.tags;
  disc.release.tracks.clear();
  // A mixed-mode disc's medium lists its data track 1 too: there a track's place in the TOC
  // finds it. Otherwise (a medium entered without it) the list's order does.
  const bool byTocPosition =
      release.tracks.size() > AudioTrackCount(tracks) &&
      std::all_of(tracks.begin(), tracks.end(), [&](const TrackRecord& track) {
        return track.hidden ||
               (track.tocPosition >= 1 && track.tocPosition <= release.tracks.size());
      });
  size_t position = 0;  // in the list, the hidden track not counted
  for (size_t i = 0; i < tracks.size(); ++i) {
    if (tracks[i].hidden) {
      const auto& listed = release.hiddenTrack;
      if (listed && !listed->title.empty()) tracks[i].title = listed->title;
      tracks[i].artist = listed ? listed->artist : std::string();
      if (listed) disc.release.tracks[tracks[i].index] = listed->ids;
      continue;
    }
    const size_t at = byTocPosition ? tracks[i].tocPosition - 1 : position;
    ++position;
    // A track the medium does not list keeps its title but no artist of an earlier release.
    const MusicBrainzTrack* listed = at < release.tracks.size() ? &release.tracks[at] : nullptr;
    if (listed && !listed->title.empty()) tracks[i].title = listed->title;
    tracks[i].artist = listed ? listed->artist : std::string();
    if (listed) disc.release.tracks[tracks[i].index] = listed->ids;
  }
}
