// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/ctdb.h"

#include <expat.h>
#include <openssl/sha.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <map>

#include "platform/base_dirs.h"
#include "platform/cached_get.h"

namespace {

// Expat's names with namespace processing: the namespace, this separator, the local name.
constexpr char kNameSeparator = ' ';  // never in a URI

// A TOC string read back: the tracks' starts and kinds, and the lead-out.
struct Layout {
  std::vector<uint32_t> starts;
  std::vector<bool> data;
  uint32_t leadOut = 0;

  size_t AudioTracks() const {
    return static_cast<size_t>(std::count(data.begin(), data.end(), false));
  }
};

int TrackCount(const TocBuffer& toc) {
  return toc.lastTrack >= toc.firstTrack ? std::min(toc.lastTrack - toc.firstTrack + 1, 99) : 0;
}

Layout LayoutOf(const TocBuffer& toc) {
  Layout layout;
  const int count = TrackCount(toc);
  for (int e = 0; e < count; ++e) {
    layout.starts.push_back(TocEntryAddress(toc.entries[e]));
    layout.data.push_back((toc.entries[e].adrControl & 0x04) != 0);
  }
  layout.leadOut = TocEntryAddress(toc.entries[count]);
  return layout;
}

// Decimal digits only (no sign, no spaces), within 32 bits.
std::optional<uint32_t> Decimal(std::string_view text) {
  uint32_t value = 0;
  if (text.empty() || text.size() > 10 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// One to eight hexadecimal digits, either case.
std::optional<uint32_t> Hex(std::string_view text) {
  uint32_t value = 0;
  if (text.empty() || text.size() > 8) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (size_t at = 0;;) {
    const size_t next = text.find(separator, at);
    parts.push_back(text.substr(at, next - at));
    if (next == std::string_view::npos) return parts;
    at = next + 1;
  }
}

// Up to 99 tracks and the lead-out, rising, at least one of them audio.
std::optional<Layout> ParseLayout(std::string_view text) {
  const std::vector<std::string_view> fields = Split(text, ':');
  if (fields.size() < 2 || fields.size() > 100) return std::nullopt;
  Layout layout;
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string_view field = fields[i];
    const bool data = field.starts_with('-');
    if (data) field.remove_prefix(1);
    const std::optional<uint32_t> sector = Decimal(field);
    if (!sector || (data && i + 1 == fields.size())) return std::nullopt;
    if (!layout.starts.empty() && *sector <= layout.starts.back()) return std::nullopt;
    layout.starts.push_back(*sector);
    layout.data.push_back(data);
  }
  layout.leadOut = layout.starts.back();
  layout.starts.pop_back();
  layout.data.pop_back();
  if (layout.AudioTracks() == 0) return std::nullopt;
  return layout;
}

// The same lengths: the same tracks of the same kinds, every boundary moved by one amount
// (a pressing whose lead-in differs).
bool SameLayout(const Layout& a, const Layout& b) {
  if (a.starts.size() != b.starts.size() || a.data != b.data) return false;
  const int64_t moved = int64_t{b.leadOut} - a.leadOut;
  for (size_t i = 0; i < a.starts.size(); ++i) {
    if (int64_t{b.starts[i]} - a.starts[i] != moved) return false;
  }
  return true;
}

std::array<uint8_t, 20> Sha1(std::string_view message) {
  std::array<uint8_t, 20> digest{};
  SHA1(reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest.data());
  return digest;
}

// Base64 with the three characters a URL or a file name may hold: "." "_" "-" for "+" "/" "=".
std::string Base64ForNames(const std::array<uint8_t, 20>& bytes) {
  constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._";
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t group = 0;
    for (size_t j = 0; j < 3; ++j) group = group << 8 | (j < n ? bytes[i + j] : 0);
    for (size_t j = 0; j < 4; ++j) text += j <= n ? kDigits[group >> (18 - 6 * j) & 63] : '-';
  }
  return text;
}

// What the handlers see of a reply being parsed.
struct ReplyParse {
  XML_Parser parser = nullptr;
  int depth = 0;
  bool refused = false;
  std::vector<CtdbEntry> entries;

  void Refuse() {
    refused = true;
    XML_StopParser(parser, XML_FALSE);
  }
};

std::optional<CtdbEntry> ReadEntry(const XML_Char** attributes) {
  std::optional<std::string_view> id, crc, confidence, trackCrcs, toc, npar, stride, parity;
  const std::pair<const char*, std::optional<std::string_view>*> known[] = {
      {"id", &id},   {"crc32", &crc}, {"confidence", &confidence}, {"trackcrcs", &trackCrcs},
      {"toc", &toc}, {"npar", &npar}, {"stride", &stride},         {"hasparity", &parity},
  };
  for (const XML_Char** a = attributes; a[0]; a += 2) {
    for (const auto& [name, value] : known) {
      if (std::string_view(a[0]) == name) *value = a[1];
    }
  }
  if (!id || !crc || !confidence || !trackCrcs || !toc) return std::nullopt;
  // The id goes into logs as it is.
  if (id->empty() || id->size() > 64 || !std::all_of(id->begin(), id->end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
      })) {
    return std::nullopt;
  }
  CtdbEntry entry;
  entry.id = *id;
  entry.toc = *toc;
  const std::optional<Layout> layout = ParseLayout(*toc);
  const std::optional<uint32_t> crcValue = Hex(*crc), count = Decimal(*confidence);
  if (!layout || !crcValue || !count) return std::nullopt;
  entry.crc32 = *crcValue;
  entry.confidence = *count;
  for (const auto& [text, field] : {std::pair{npar, &entry.npar}, {stride, &entry.stride}}) {
    if (!text) continue;
    const std::optional<uint32_t> value = Decimal(*text);
    if (!value) return std::nullopt;
    *field = *value;
  }
  entry.hasParity = parity && !parity->empty() && *parity != "false" && *parity != "0";
  for (std::string_view word : Split(*trackCrcs, ' ')) {
    const std::optional<uint32_t> value = Hex(word);
    if (!value) return std::nullopt;
    entry.trackCrcs.push_back(*value);
  }
  if (entry.trackCrcs.size() != layout->AudioTracks()) return std::nullopt;
  return entry;
}

void OnStart(void* user, const XML_Char* name, const XML_Char** attributes) {
  auto& parse = *static_cast<ReplyParse*>(user);
  const std::string prefix = std::string(kCtdbNamespace) + kNameSeparator;
  ++parse.depth;
  if (parse.depth == 1) {
    if (name != prefix + "ctdb") parse.Refuse();
  } else if (parse.depth == 2 && name == prefix + "entry") {
    std::optional<CtdbEntry> entry = ReadEntry(attributes);
    if (!entry) return parse.Refuse();
    parse.entries.push_back(std::move(*entry));
  }
  // Anything else (metadata the server may add one day) is passed over.
}

void OnEnd(void* user, const XML_Char*) {
  --static_cast<ReplyParse*>(user)->depth;
}

// A reply has no business declaring a document type: its entities are how a small reply
// becomes a huge one, or reads a local file.
void OnDoctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  static_cast<ReplyParse*>(user)->Refuse();
}

// The verdict of the entries of the disc's layout on `crcs`, each entry holding the CRC that
// `held` picks from it (nullopt: none for this part of the disc).
template <typename Held>
CtdbVerdict Judge(const CtdbLookup& lookup, const CtdbCrcs& crcs, Held&& held) {
  CtdbVerdict verdict;
  switch (lookup.kind) {
    case CtdbLookup::kUnreachable:
      verdict.kind = CtdbVerdict::kUnreachable;
      verdict.reason = lookup.reason;
      return verdict;
    case CtdbLookup::kUnreadable:
      verdict.kind = CtdbVerdict::kUnreadable;
      return verdict;
    case CtdbLookup::kFound:
      break;
    default:
      return verdict;  // not in the database
  }
  std::map<int32_t, uint64_t> agreeing;  // by shift: the rips whose CRC the audio has there
  for (const CtdbEntry& entry : lookup.entries) {
    const std::optional<uint32_t> value = entry.sameLayout ? held(entry) : std::nullopt;
    // An entry of no rips proves nothing.
    if (!value || entry.confidence == 0) continue;
    verdict.total += entry.confidence;
    for (int32_t shift = -crcs.limit; shift <= crcs.limit; ++shift) {
      if (crcs.At(shift) == *value) agreeing[shift] += entry.confidence;
    }
  }
  if (verdict.total == 0) return verdict;
  verdict.kind = CtdbVerdict::kNotAccurate;
  if (agreeing.empty()) return verdict;
  // The audio as read first; else where most rips agree, the least shift of those.
  auto best = agreeing.find(0);
  if (best == agreeing.end()) {
    best = agreeing.begin();
    for (auto at = agreeing.begin(); at != agreeing.end(); ++at) {
      if (at->second > best->second ||
          (at->second == best->second && std::abs(at->first) < std::abs(best->first))) {
        best = at;
      }
    }
  }
  verdict.kind = CtdbVerdict::kAccurate;
  verdict.shift = best->first;
  verdict.confidence = best->second;
  return verdict;
}

}  // namespace

std::string CtdbTocString(const TocBuffer& toc) {
  if (TrackCount(toc) == 0) return "";
  const Layout layout = LayoutOf(toc);
  std::string text;
  for (size_t i = 0; i < layout.starts.size(); ++i) {
    text += (layout.data[i] ? "-" : "") + std::to_string(layout.starts[i]) + ":";
  }
  return text + std::to_string(layout.leadOut);
}

std::string CtdbTocId(const TocBuffer& toc) {
  const Layout layout = LayoutOf(toc);
  std::vector<uint32_t> audio;
  uint32_t end = layout.leadOut;
  for (size_t i = 0; i < layout.starts.size(); ++i) {
    if (!layout.data[i]) {
      audio.push_back(layout.starts[i]);
    } else if (!audio.empty()) {
      // An enhanced CD's data session: the audio ended a session gap before it.
      end = layout.starts[i] - audio.back() > kSessionGapSectors
                ? layout.starts[i] - kSessionGapSectors
                : layout.starts[i];
      break;
    }
  }
  if (audio.empty()) return "";
  std::string hex;
  char word[9];
  audio.push_back(end);
  for (size_t i = 1; i < audio.size(); ++i) {
    std::snprintf(word, sizeof word, "%08X", static_cast<unsigned>(audio[i] - audio[0]));
    hex += word;
  }
  hex.resize(std::max<size_t>(hex.size(), 800), '0');
  return Base64ForNames(Sha1(hex));
}

std::optional<std::vector<CtdbEntry>> ParseCtdbReply(std::string_view xml) {
  if (xml.size() > kCtdbMaxReplyBytes) return std::nullopt;
  ReplyParse parse;
  parse.parser = XML_ParserCreateNS(nullptr, kNameSeparator);
  if (!parse.parser) return std::nullopt;
  XML_SetUserData(parse.parser, &parse);
  XML_SetElementHandler(parse.parser, OnStart, OnEnd);
  XML_SetStartDoctypeDeclHandler(parse.parser, OnDoctype);
  XML_SetParamEntityParsing(parse.parser, XML_PARAM_ENTITY_PARSING_NEVER);
  const XML_Status status =
      XML_Parse(parse.parser, xml.data(), static_cast<int>(xml.size()), XML_TRUE);
  XML_ParserFree(parse.parser);
  if (status != XML_STATUS_OK || parse.refused) return std::nullopt;
  return std::move(parse.entries);
}

CtdbLookup ReadCtdbReply(std::string_view xml, const std::string& discToc) {
  CtdbLookup lookup;
  std::optional<std::vector<CtdbEntry>> entries = ParseCtdbReply(xml);
  if (!entries) {
    lookup.kind = CtdbLookup::kUnreadable;
    return lookup;
  }
  const std::optional<Layout> disc = ParseLayout(discToc);
  bool found = false;
  for (CtdbEntry& entry : *entries) {
    entry.sameLayout = disc && SameLayout(*disc, *ParseLayout(entry.toc));
    found = found || entry.sameLayout;
  }
  lookup.kind = found ? CtdbLookup::kFound : CtdbLookup::kNotInDatabase;
  lookup.entries = std::move(*entries);
  return lookup;
}

std::string CtdbCacheFolder() {
  return XdgBaseFolder("XDG_CACHE_HOME", ".cache") + "/obrin/ctdb/";
}

CtdbLookup LookUpCtdb(const std::string& server, const TocBuffer& toc, const HttpLimits& limits,
                      const std::function<bool()>& cancelled) {
  const std::string id = CtdbTocId(toc), tocString = CtdbTocString(toc);
  if (id.empty()) return {};  // no audio: nothing to verify
  std::string url = server;
  while (!url.empty() && url.back() == '/') url.pop_back();
  const CachedReply reply = CachedHttpGet(
      url + "/lookup2.php?version=3&ctdb=1&fuzzy=1&metadata=none&toc=" + tocString,
      CtdbCacheFolder() + id + ".xml",
      [&](std::string_view body) {
        return ReadCtdbReply(body, tocString).kind != CtdbLookup::kUnreadable;
      },
      limits, cancelled);
  CtdbLookup lookup;
  switch (reply.kind) {
    case CachedReply::kBody:
      return ReadCtdbReply(reply.body, tocString);
    case CachedReply::kNotFound:
      break;
    case CachedReply::kFailed:
      lookup.kind = CtdbLookup::kUnreachable;
      lookup.reason = reply.reason;
      break;
    case CachedReply::kTooLarge:
      lookup.kind = CtdbLookup::kUnreadable;
      break;
    case CachedReply::kCancelled:
      lookup.kind = CtdbLookup::kCancelled;
      break;
  }
  return lookup;
}

CtdbVerdict JudgeCtdbTrack(const CtdbLookup& lookup, uint32_t audioTrack, const CtdbCrcs& crcs) {
  return Judge(lookup, crcs, [audioTrack](const CtdbEntry& entry) -> std::optional<uint32_t> {
    if (audioTrack < 1 || audioTrack > entry.trackCrcs.size()) return std::nullopt;
    return entry.trackCrcs[audioTrack - 1];
  });
}

CtdbVerdict JudgeCtdbDisc(const CtdbLookup& lookup, const CtdbCrcs& crcs) {
  return Judge(lookup, crcs,
               [](const CtdbEntry& entry) -> std::optional<uint32_t> { return entry.crc32; });
}

std::string CtdbResultText(const CtdbVerdict& verdict) {
  switch (verdict.kind) {
    case CtdbVerdict::kAccurate: {
      std::string text = "Accurately ripped (" + std::to_string(verdict.confidence) + "/" +
                         std::to_string(verdict.total) + ")";
      if (verdict.shift == 0) return text;
      char shift[32];
      std::snprintf(shift, sizeof shift, ", offset %+d", static_cast<int>(verdict.shift));
      return text + shift;
    }
    case CtdbVerdict::kNotAccurate:
      return "Not accurate (database confidence " + std::to_string(verdict.total) + ")";
    case CtdbVerdict::kUnreachable:
      return "CTDB unreachable: " + verdict.reason;
    case CtdbVerdict::kUnreadable:
      return "CTDB reply not understood";
    case CtdbVerdict::kNotInDatabase:
      break;
  }
  return "Not in CTDB";
}
