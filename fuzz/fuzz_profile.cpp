// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// Fuzz target: arbitrary bytes as Obrin.ini, in a private XDG_CONFIG_HOME. Invariants:
//  - a value GetProfileString finds is a piece of the file without a line break, NUL or
//    leading blank, and a smaller buffer cuts it exactly;
//  - WriteProfileString refuses exactly the texts its contract names (the file unchanged);
//    an accepted value reads back trimmed and other keys keep theirs;
//  - LoadSettings keeps every index inside its table and writes every missing key (a second
//    load writes nothing); a save and a load give the same record back.
#include <algorithm>
#include <bit>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "fuzz_support.h"
#include "platform/profile.h"

namespace {

std::string gIni;
const std::string kFallback = "\x01missing\x02";  // no settings file holds it by accident
using Words = std::array<int32_t, sizeof(FormatSettings) / sizeof(int32_t)>;
// Table sizes of the format block's words (wav, ogg, mp3, flac, opus); the Ogg mode flags are
// 0/1.
constexpr int32_t kCounts[] = {4,  2, 2, 4,  3, 2,  2,  2,  5, 5,   5, 5,
                               21, 4, 3, 14, 2, 10, 14, 23, 9, 481, 3, 11};
static_assert(std::size(kCounts) == std::tuple_size_v<Words>);

std::string_view Trim(std::string_view s) {
  s.remove_prefix(std::min(s.find_first_not_of(" \t"), s.size()));
  return s.substr(0, s.find_last_not_of(" \t") + 1);
}

bool OneLine(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) == s.npos;
}

// The texts WriteProfileString promises to refuse, written out from its contract.
bool Writable(std::string_view section, std::string_view key, std::string_view value) {
  const std::string_view k = Trim(key);
  return !k.empty() && OneLine(section) && OneLine(key) && OneLine(value) &&
         k.find('=') == k.npos && k.front() != ';' && k.front() != '#' && k.front() != '[' &&
         section.find(']') == section.npos;
}

RipSettings Loaded() {
  RipSettings s;
  LoadDefaultSettings(s);
  LoadSettings(s);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  setenv("XDG_CONFIG_HOME", fuzz::MakeFolder(fuzz::ScratchFolder() + "/config").c_str(), 1);
  gIni = SettingsFilePath();
  fuzz::MakeFolder(gIni.substr(0, gIni.rfind('/')));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  fuzz::WriteBytes(gIni, input);

  // Untrimmed names and values from the input's lines: a section between the first "[" and the
  // last "]", a key before the first "=", a value after it.
  std::vector<std::string> sections = {"Output"}, keys = {"Path"}, values = {" plain value "};
  for (std::size_t pos = 0, end; pos < size; pos = end + 1) {
    end = std::min(input.find('\n', pos), size);
    const std::string_view line = input.substr(pos, end - pos);
    const std::size_t open = line.find('['), close = line.rfind(']'), eq = line.find('=');
    if (open < close && close != line.npos && sections.size() < 5) {
      sections.emplace_back(line.substr(open + 1, close - open - 1));
    }
    if (eq != line.npos && keys.size() < 5) {
      keys.emplace_back(line.substr(0, eq));
      values.emplace_back(line.substr(eq + 1));
    }
  }
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const std::string& s : sections)
    for (const std::string& k : keys) pairs.emplace_back(s, k);
  auto get = [](const auto& pair, std::size_t size = std::size_t{1} << 24) {
    return GetProfileString(pair.first, pair.second, kFallback, gIni, size);
  };

  const std::size_t cut = size % 5 == 0 ? 1024 : size % 37;
  for (const auto& pair : pairs) {
    const std::string value = get(pair);
    if (value != kFallback) {  // a lone CR inside the line stays in the value
      FUZZ_CHECK(input.find(value) != input.npos &&
                 value.find_first_of(std::string_view("\n\0", 2)) == value.npos);
      FUZZ_CHECK(value.empty() || (value.front() != ' ' && value.front() != '\t'));
    }
    FUZZ_CHECK(get(pair, cut) == (cut == 0 ? std::string() : value.substr(0, cut - 1)));
  }

  for (std::size_t i = 0; i < std::min<std::size_t>(pairs.size(), 8); ++i) {
    const auto& [section, key] = pairs[(i * 7 + size) % pairs.size()];
    const std::string& value = values[i % values.size()];
    const std::string before = fuzz::ReadBytes(gIni);
    std::vector<std::string> old;
    for (const auto& pair : pairs) old.push_back(get(pair));
    const bool written = WriteProfileString(section, key, value, gIni);
    FUZZ_CHECK(written == Writable(section, key, value));
    FUZZ_CHECK(written || fuzz::ReadBytes(gIni) == before);
    if (!written) continue;
    FUZZ_CHECK(get(std::pair{section, key}) == Trim(value));
    for (std::size_t o = 0; o < pairs.size(); ++o) {  // changed only where it is the same key
      FUZZ_CHECK(get(pairs[o]) == old[o] || get(pairs[o]) == Trim(value));
    }
  }

  fuzz::WriteBytes(gIni, input);  // the settings store starts from the input itself
  RipSettings s = Loaded();
  const Words w = std::bit_cast<Words>(s.formats);
  for (size_t i = 0; i < w.size(); ++i) FUZZ_CHECK(w[i] >= 0 && w[i] < kCounts[i]);
  FUZZ_CHECK(!(w[5] && w[6]) && w[5] + w[6] + w[7] >= 1);  // BBR yields to CBR; a mode is on
  FUZZ_CHECK(!s.outputPath.empty() && s.outputPath.size() <= 1023);
  const std::string complete = fuzz::ReadBytes(gIni);
  Loaded();
  FUZZ_CHECK(fuzz::ReadBytes(gIni) == complete);  // every key is there: nothing to write
  for (int round = 0; round < 2; ++round, s = Loaded()) {
    SaveSettings(s);
    const RipSettings again = Loaded();
    // Once saved, VBR is on exactly when the other two are off (a missing usevbr left it on).
    Words expected = std::bit_cast<Words>(s.formats);
    expected[7] = !expected[5] && !expected[6];
    FUZZ_CHECK(std::bit_cast<Words>(again.formats) == expected);
    // A folder cut at a NUL loses its trailing blanks; one the file cannot hold is not saved.
    FUZZ_CHECK(again.outputPath == (OneLine(s.outputPath) ? Trim(s.outputPath) : s.outputPath));
  }
  return 0;
}
