// Fuzz target: arbitrary bytes as tips.txt. Invariants:
//  - every read ends, also for files without a single tip line;
//  - a tip is a piece of the file, 1 to 999 bytes, without line break or NUL, not led by " \t;";
//  - a file with a tip line gives a tip from any place (it wraps); once a read finds none, the
//    next finds none either (a place inside a comment line may first give a piece of it);
//  - any seek, in or past the file, leaves the read position inside the file.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "config/tips_file.h"
#include "fuzz_support.h"

namespace {
std::string gTips;
}

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  gTips = fuzz::ScratchFolder() + "/tips.txt";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  fuzz::WriteBytes(gTips, input);
  TipsFile file;
  FUZZ_CHECK(file.Open(gTips));
  FUZZ_CHECK(!file.TimeStamp().empty());
  const bool anyTip = file.ReadNextTip().found;
  // Start again from places the input itself names, the way a stored position comes back.
  for (std::size_t i = 0; i + 8 <= size && i < 64; i += 8) {
    uint64_t bits = 0;
    for (std::size_t b = 0; b < 8; ++b) bits = (bits << 8) | data[i + b];
    const auto position = static_cast<int64_t>(bits);
    const bool sought = file.Seek(position);
    FUZZ_CHECK(sought == (position >= 0));
    const int64_t at = file.Tell();
    FUZZ_CHECK(at >= 0 && at <= static_cast<int64_t>(size));
    if (sought) FUZZ_CHECK(at == std::min<int64_t>(position, static_cast<int64_t>(size)));
    for (int round = 0, found = 1; round < 4; ++round) {
      const TipsFile::Tip tip = file.ReadNextTip();
      FUZZ_CHECK((tip.found || !anyTip) && (found || !tip.found) && tip.seekFailures == 0);
      found = tip.found;
      const std::string& t = tip.text;
      FUZZ_CHECK(tip.found ? !t.empty() && t.size() <= TipsFile::kPieceBytes &&
                                 input.find(t) != input.npos &&
                                 t.find_first_of(std::string_view("\n\0", 2)) == t.npos &&
                                 !std::strchr(" \t;", t.front())
                           : t.empty());
    }
  }
  return 0;
}
