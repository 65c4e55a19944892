// Fuzz target: arbitrary bytes as tips.txt. Invariants:
//  - every read ends, also for files without a single tip line;
//  - a tip found is a piece of the file of at most 999 bytes, without line break or NUL, and
//    does not start with a blank, a tab or ";";
//  - a file with a tip line gives a tip from wherever reading starts (it wraps); once a read
//    finds none, the next finds none either (a place inside a comment line can still give a
//    piece of it first, as a stored place never is);
//  - any seek, in or past the file, leaves the read position inside the file.
#include <algorithm>
#include <cstdint>
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
    bool found = true;
    for (int round = 0; round < 4; ++round) {
      const TipsFile::Tip tip = file.ReadNextTip();
      FUZZ_CHECK(tip.found || !anyTip);
      FUZZ_CHECK(found || !tip.found);
      found = tip.found;
      FUZZ_CHECK(tip.seekFailures == 0);
      if (!tip.found) {
        FUZZ_CHECK(tip.text.empty());
        continue;
      }
      FUZZ_CHECK(!tip.text.empty() && tip.text.size() <= TipsFile::kPieceBytes);
      FUZZ_CHECK(input.find(tip.text) != input.npos);
      FUZZ_CHECK(tip.text.find_first_of(std::string_view("\n\0", 2)) == std::string::npos);
      FUZZ_CHECK(tip.text.front() != ' ' && tip.text.front() != '\t' && tip.text.front() != ';');
      FUZZ_CHECK(file.Tell() >= 0 && file.Tell() <= static_cast<int64_t>(size));
    }
  }
  return 0;
}
