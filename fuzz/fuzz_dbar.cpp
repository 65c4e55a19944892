// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// Fuzz target: arbitrary bytes as a reply of the AccurateRip database. Invariants:
//  - ParseDbar accepts exactly the byte strings that are whole entries back to back, and each
//    entry holds as many track records as its count says;
//  - a verdict on any slot of any track count is one of the result texts and names a
//    confidence the reply holds.
#include <string>
#include <string_view>

#include "disc/accuraterip.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // What a well-formed reply is, worked out from the layout rather than the reader.
  size_t at = 0;
  while (at < size && size - at >= 13 && (size - at - 13) / 9 >= data[at]) at += 13 + 9 * data[at];
  const bool whole = at == size;

  const auto entries = ParseDbar(bytes);
  FUZZ_CHECK(entries.has_value() == whole);
  if (!entries) return 0;
  size_t records = 0;
  for (const DbarEntry& entry : *entries) {
    FUZZ_CHECK(entry.tracks.size() == entry.trackCount);
    records += 13 + 9 * entry.tracks.size();
  }
  FUZZ_CHECK(records == size);

  const AccurateRipLookup lookup{AccurateRipLookup::kFound, *entries, ""};
  const uint32_t count = size > 0 ? data[0] : 1;
  for (uint32_t slot = 0; slot <= count + 1; ++slot) {
    const uint32_t v1 = size >= 18 ? data[14] | uint32_t{data[15]} << 8 : 0;
    const AccurateRipVerdict verdict = JudgeTrack(lookup, count, slot, v1, ~v1);
    const std::string text = AccurateRipResultText(verdict);
    FUZZ_CHECK(text.starts_with("Accurately ripped (confidence ") ||
               text.starts_with("Not accurate (database confidence ") || text == "Not in database");
    FUZZ_CHECK(verdict.confidence < 256);
  }
  return 0;
}
