// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// Fuzz target: arbitrary bytes as a reply of the CUETools database. Invariants:
//  - ParseCtdbReply never crashes, and whatever it accepts is what it says: each entry holds
//    one track CRC per audio track of its TOC, and the entries written out again as a reply
//    read back the same;
//  - ReadCtdbReply fails exactly where the parser does, and an entry's own TOC is a layout
//    it counts;
//  - an entry's CRCs, found at any shift, make a verdict of "Accurately ripped" at that shift
//    (or at one where more rips agree), never with more rips than the database holds.
#include <cstdio>
#include <string>
#include <string_view>

#include "disc/ctdb.h"
#include "fuzz_support.h"

namespace {

std::string Hex(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
  return text;
}

std::string Written(const std::vector<CtdbEntry>& entries) {
  std::string xml = "<ctdb xmlns=\"" + std::string(kCtdbNamespace) + "\">";
  for (const CtdbEntry& e : entries) {
    std::string crcs;
    for (uint32_t c : e.trackCrcs) crcs += (crcs.empty() ? "" : " ") + Hex(c);
    xml += "<entry id=\"" + e.id + "\" crc32=\"" + Hex(e.crc32) + "\" confidence=\"" +
           std::to_string(e.confidence) + "\" npar=\"" + std::to_string(e.npar) + "\" stride=\"" +
           std::to_string(e.stride) + "\" hasparity=\"" + (e.hasParity ? "true" : "false") +
           "\" trackcrcs=\"" + crcs + "\" toc=\"" + e.toc + "\"/>";
  }
  return xml + "</ctdb>";
}

bool Same(const CtdbEntry& a, const CtdbEntry& b) {
  return a.id == b.id && a.toc == b.toc && a.crc32 == b.crc32 && a.confidence == b.confidence &&
         a.npar == b.npar && a.stride == b.stride && a.hasParity == b.hasParity &&
         a.trackCrcs == b.trackCrcs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view xml(reinterpret_cast<const char*>(data), size);
  const auto entries = ParseCtdbReply(xml);
  const CtdbLookup unknown = ReadCtdbReply(xml, "0:1");
  FUZZ_CHECK((unknown.kind == CtdbLookup::kUnreadable) == !entries.has_value());
  if (!entries) return 0;
  for (const CtdbEntry& entry : *entries) {
    size_t fields = 0, audio = 0;  // the lead-out among them
    for (size_t at = 0;; at = entry.toc.find(':', at) + 1) {
      ++fields;
      if (entry.toc[at] != '-') ++audio;
      if (entry.toc.find(':', at) == std::string::npos) break;
    }
    FUZZ_CHECK(fields >= 2 && audio >= 2);
    FUZZ_CHECK(entry.trackCrcs.size() == audio - 1);
  }
  const auto again = ParseCtdbReply(Written(*entries));
  FUZZ_CHECK(again && again->size() == entries->size());
  for (size_t i = 0; i < entries->size(); ++i) FUZZ_CHECK(Same((*entries)[i], (*again)[i]));
  if (entries->empty()) return 0;

  const CtdbEntry& first = entries->front();
  const CtdbLookup lookup = ReadCtdbReply(xml, first.toc);
  FUZZ_CHECK(lookup.kind == CtdbLookup::kFound && lookup.entries.size() == entries->size());
  FUZZ_CHECK(lookup.entries.front().sameLayout);
  uint64_t held = 0;
  for (const CtdbEntry& entry : lookup.entries) held += entry.sameLayout ? entry.confidence : 0;
  const int32_t shift = size % 7 - 3;
  for (uint32_t track = 0; track <= first.trackCrcs.size() + 1; ++track) {
    const bool exists = track >= 1 && track <= first.trackCrcs.size();
    CtdbCrcs crcs{3, std::vector<uint32_t>(7, ~first.crc32), 0};
    if (exists) crcs.byShift[static_cast<size_t>(shift + 3)] = first.trackCrcs[track - 1];
    const CtdbVerdict verdict = JudgeCtdbTrack(lookup, track, crcs);
    const std::string text = CtdbResultText(verdict);
    FUZZ_CHECK(verdict.total <= held && verdict.confidence <= verdict.total);
    if (!exists || held == 0) {
      FUZZ_CHECK(text == "Not in CTDB");
    } else if (first.confidence > 0) {
      FUZZ_CHECK(verdict.kind == CtdbVerdict::kAccurate && verdict.total == held);
      // Shift 0 goes first; elsewhere no fewer rips than this entry's agree.
      FUZZ_CHECK(verdict.shift == 0 || verdict.confidence >= first.confidence);
      FUZZ_CHECK(text.starts_with("Accurately ripped ("));
    } else {
      FUZZ_CHECK(text.starts_with("Accurately ripped (") ||
                 text.starts_with("Not accurate (database confidence "));
    }
  }
  const CtdbVerdict disc = JudgeCtdbDisc(lookup, CtdbCrcs{0, {first.crc32}, 0});
  FUZZ_CHECK(first.confidence == 0 || disc.kind == CtdbVerdict::kAccurate);
  return 0;
}
