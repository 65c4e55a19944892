#pragma once
// What the fuzz targets share: invariant checks that abort loudly (libFuzzer keeps the input
// as a crash) and a private scratch folder for their files, under OBRIN_FUZZ_SCRATCH
// (scripts/fuzz.sh), else on /dev/shm: the settings writes fsync, which on a real disk would
// cost two orders of magnitude in executions per second.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition)                                                                      \
  do {                                                                                             \
    if (!(condition)) {                                                                            \
      std::fprintf(stderr, "fuzz invariant broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                                \
    }                                                                                              \
  } while (0)

namespace fuzz {

inline std::string MakeFolder(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  FUZZ_CHECK(!error);
  return path;
}

// A fresh folder, made on first use and removed at a normal exit. Kept on the heap for good:
// the exit handler runs after the destructors of statics made before it was registered.
inline const std::string& ScratchFolder() {
  static const std::string* const folder = [] {
    const char* named = std::getenv("OBRIN_FUZZ_SCRATCH");
    std::string parent = named && *named                 ? named
                         : access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                         : "/tmp";
    auto* pattern = new std::string(parent + "/obrin-fuzz-XXXXXX");
    FUZZ_CHECK(mkdtemp(pattern->data()) != nullptr);
    std::atexit([] {
      std::error_code e;
      std::filesystem::remove_all(ScratchFolder(), e);
    });
    return pattern;
  }();
  return *folder;
}

inline void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  FUZZ_CHECK(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush());
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace fuzz
