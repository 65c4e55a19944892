// Fuzz target: the file-name template and the tag fields it draws from.
//
// The input is NUL-separated: template, artist, album, title, year, genre number, track
// index (the two numbers as decimal text, "-" allowed, saturating at the int32 range; missing
// parts are empty or 0). Invariants of ExpandFileNameTemplate:
//  - a template without "$" comes back unchanged;
//  - the result is never longer than the template plus, for each "$", the longest thing a
//    placeholder can stand for;
//  - a template with every "$" doubled comes back as the template itself ("$$" is "$");
//  - placeholders match in either case: flipping the case of every placeholder letter does
//    not change the result;
//  - "$n" alone is the track number, "%02lld" of index + 1, for every index.
//  - disc texts never add a folder level nor a control character: "$a$l$t$y$g" expands to a
//    text without "/" and without bytes below 0x20;
// and of OutputPathOf: the path never leaves the output folder. It is the folder, the album
// subfolder, then components none of which is "." or "..", holds a NUL or exceeds 255 bytes.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "disc/output_naming.h"
#include "encoders/id3.h"
#include "fuzz_support.h"

namespace {

std::vector<std::string_view> SplitAtNul(std::string_view input, std::size_t parts) {
  std::vector<std::string_view> out;
  while (out.size() + 1 < parts) {
    const std::size_t nul = input.find('\0');
    if (nul == std::string_view::npos) break;
    out.push_back(input.substr(0, nul));
    input.remove_prefix(nul + 1);
  }
  out.push_back(input);
  out.resize(parts);
  return out;
}

int32_t ParseInt32(std::string_view text) {
  bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}

// The template with the letter after each placeholder "$" in the other case; "$$" pairs
// are skipped whole, as the expansion reads them.
std::string FlipPlaceholderCase(const std::string& pattern) {
  std::string flipped = pattern;
  for (std::size_t i = 0; i + 1 < flipped.size(); ++i) {
    if (flipped[i] != '$') continue;
    char& c = flipped[++i];
    const auto u = static_cast<unsigned char>(c);
    if (std::islower(u)) {
      c = static_cast<char>(std::toupper(u));
    } else if (std::isupper(u)) {
      c = static_cast<char>(std::tolower(u));
    }
  }
  return flipped;
}

std::string NumberText(int32_t index) {
  char number[32];
  std::snprintf(number, sizeof number, "%02lld", static_cast<long long>(index) + 1);
  return number;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const auto parts = SplitAtNul(std::string_view(reinterpret_cast<const char*>(data), size), 7);
  RipSettings settings;
  TrackRecord track;
  settings.fileNameTemplate = parts[0];
  settings.discArtist = parts[1];
  settings.discAlbum = parts[2];
  track.title = parts[3];
  settings.discYear = parts[4];
  settings.discGenre = ParseInt32(parts[5]);
  track.index = ParseInt32(parts[6]);

  const std::string& pattern = settings.fileNameTemplate;
  const std::string result = ExpandFileNameTemplate(track, settings);

  const std::size_t dollars =
      static_cast<std::size_t>(std::count(pattern.begin(), pattern.end(), '$'));
  if (dollars == 0) FUZZ_CHECK(result == pattern);

  const std::size_t longest =
      std::max({settings.discArtist.size(), settings.discAlbum.size(), track.title.size(),
                settings.discYear.size(), std::strlen(GenreName(settings.discGenre)),
                NumberText(track.index).size(), std::size_t{1}});
  FUZZ_CHECK(result.size() <= pattern.size() + dollars * longest);

  RipSettings escaped = settings;
  escaped.fileNameTemplate.clear();
  for (char c : pattern)
    escaped.fileNameTemplate += c == '$' ? std::string("$$") : std::string(1, c);
  FUZZ_CHECK(ExpandFileNameTemplate(track, escaped) == pattern);

  RipSettings flipped = settings;
  flipped.fileNameTemplate = FlipPlaceholderCase(pattern);
  FUZZ_CHECK(ExpandFileNameTemplate(track, flipped) == result);

  RipSettings number = settings;
  number.fileNameTemplate = "$n";
  FUZZ_CHECK(ExpandFileNameTemplate(track, number) == NumberText(track.index));

  RipSettings texts = settings;
  texts.fileNameTemplate = "$a$l$t$y$g";
  for (char c : ExpandFileNameTemplate(track, texts)) {
    FUZZ_CHECK(c != '/' && static_cast<unsigned char>(c) >= 0x20);
  }

  // The album folder is the id name when the album is empty (no drive: id 0).
  const std::string album = AlbumFolderName(settings);
  if (settings.discAlbum.empty()) FUZZ_CHECK(album == "Album-0L");
  const std::string folder = "/out/";
  track.format = Wav;
  const std::string path = OutputPathOf(track, settings, folder);
  FUZZ_CHECK(path.compare(0, folder.size() + album.size() + 1, folder + album + "/") == 0);
  std::size_t begin = folder.size();
  while (begin <= path.size()) {
    const std::size_t end = std::min(path.find('/', begin), path.size());
    const std::string part = path.substr(begin, end - begin);
    FUZZ_CHECK(part != "." && part != ".." && part.size() <= 255 && part.find('\0') == part.npos);
    begin = end + 1;
  }
  const std::string normal = std::filesystem::path(path).lexically_normal().string();
  FUZZ_CHECK(normal.size() > folder.size() && normal.compare(0, folder.size(), folder) == 0);
  return 0;
}
