// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// What the fuzz targets share: invariant checks that abort (libFuzzer keeps the input as a
// crash) and a private scratch folder under OBRIN_FUZZ_SCRATCH, else /dev/shm (the settings
// writes fsync, which a real disk makes a hundred times slower).
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

// Removed at a normal exit; on the heap for good, since the exit handler runs after the
// destructors of statics made before it was registered.
inline const std::string& ScratchFolder() {
  static const std::string* const folder = [] {
    const char* parent = std::getenv("OBRIN_FUZZ_SCRATCH");
    auto* path = new std::string(std::string(parent && *parent ? parent : "/dev/shm") +
                                 "/obrin-fuzz-XXXXXX");
    FUZZ_CHECK(mkdtemp(path->data()) != nullptr);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchFolder(), ignored);
    });
    return path;
  }();
  return *folder;
}

inline std::string MakeFolder(const std::string& path) {
  std::filesystem::create_directories(path);
  return path;
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
