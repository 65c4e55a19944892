#pragma once
// What the fuzz targets share: invariant checks that stop the run loudly, and a private
// scratch folder for the files a target has to put on disk.
//
// The scratch folder lives on a memory file system when one is there (/dev/shm): the
// settings writes fsync the file and its folder on every call, which on a real disk would
// cut the executions per second by two orders of magnitude. OBRIN_FUZZ_SCRATCH names another
// parent folder (scripts/fuzz.sh sets it so that it can clean up after a crash).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

// A broken invariant is a finding: say which one and abort, which libFuzzer reports as a
// crash and keeps the input for.
#define FUZZ_CHECK(condition)                                                                      \
  do {                                                                                             \
    if (!(condition)) {                                                                            \
      std::fprintf(stderr, "fuzz invariant broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                                \
    }                                                                                              \
  } while (0)

namespace fuzz {

// A fresh folder, made on first use and removed when the process exits normally.
inline const std::string& ScratchFolder() {
  // Kept on the heap for good: the exit handler that removes the folder runs after the
  // destructors of statics made before it was registered, this one included.
  static const std::string* const folder = [] {
    std::string parent;
    if (const char* named = std::getenv("OBRIN_FUZZ_SCRATCH"); named && *named) {
      parent = named;
    } else if (access("/dev/shm", W_OK) == 0) {
      parent = "/dev/shm";
    } else if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) {
      parent = tmp;
    } else {
      parent = "/tmp";
    }
    std::string pattern = parent + "/obrin-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) {
      std::perror("obrin fuzz: cannot make a scratch folder");
      std::abort();
    }
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchFolder(), ignored);
    });
    return new std::string(pattern);
  }();
  return *folder;
}

// Replaces `path` with exactly these bytes; aborts when it cannot (a broken set-up is not a
// finding to minimise, but running on without the file would test nothing).
inline void WriteBytes(const std::string& path, std::string_view bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  FUZZ_CHECK(std::fclose(file) == 0 && written);
}

inline std::string ReadBytes(const std::string& path) {
  std::string content;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
      content.append(chunk, n);
    std::fclose(file);
  }
  return content;
}

inline void MakeFolder(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  FUZZ_CHECK(!error);
}

// Blanks are what the settings file trims around names and values.
inline std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace fuzz
