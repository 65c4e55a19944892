// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>

#include "platform/atomic_file.h"

namespace {

// A settings file this large is not one we wrote; refusing it keeps a stray multi-gigabyte
// file from exhausting memory.
constexpr off_t kMaxFileSize = 64 * 1024 * 1024;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// One line of the file. `text` excludes the terminator ("\n", "\r\n", or nothing on a last
// line without one).
struct Line {
  std::size_t begin = 0;
  std::string_view text;
  std::size_t next = 0;  // offset of the following line
  bool terminated = false;
};

class LineReader {
 public:
  explicit LineReader(std::string_view content) : content_(content) {}
  bool Next(Line& line) {
    if (pos_ >= content_.size()) return false;
    line.begin = pos_;
    const void* nl = std::memchr(content_.data() + pos_, '\n', content_.size() - pos_);
    std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - content_.data())
                         : content_.size();
    line.terminated = nl != nullptr;
    line.next = nl ? end + 1 : end;
    std::size_t textEnd = end;
    if (textEnd > pos_ && content_[textEnd - 1] == '\r') --textEnd;
    line.text = content_.substr(pos_, textEnd - pos_);
    pos_ = line.next;
    return true;
  }

 private:
  std::string_view content_;
  std::size_t pos_ = 0;
};

enum class LineKind { Other, Section, Key };

struct Parsed {
  LineKind kind = LineKind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
};

Parsed ParseLine(std::string_view text) {
  Parsed p;
  std::string_view s = Trim(text);
  if (s.empty() || s.front() == ';' || s.front() == '#') return p;
  if (s.front() == '[') {
    std::size_t close = s.rfind(']');
    if (close != std::string_view::npos) {
      p.kind = LineKind::Section;
      p.name = Trim(s.substr(1, close - 1));
      return p;
    }
  }
  std::size_t eq = s.find('=');
  if (eq == std::string_view::npos) return p;
  std::string_view name = Trim(s.substr(0, eq));
  if (name.empty()) return p;
  p.kind = LineKind::Key;
  p.name = name;
  p.value = Trim(s.substr(eq + 1));
  return p;
}

// Where a key is, or where it would go, in the first section of the wanted name.
struct Location {
  bool sectionFound = false;
  bool keyFound = false;
  Line keyLine;
  std::string_view keyName;  // as spelt in the file
  std::string_view value;
  Line lastKeyLine;  // the section header when the section has no key yet
};

Location Locate(std::string_view content, std::string_view section, std::string_view key) {
  Location loc;
  LineReader reader(content);
  Line line;
  bool inSection = false;
  while (reader.Next(line)) {
    Parsed p = ParseLine(line.text);
    if (p.kind == LineKind::Section) {
      if (inSection) break;  // only the first section of that name counts
      if (EqualsIgnoreCase(p.name, section)) {
        inSection = true;
        loc.sectionFound = true;
        loc.lastKeyLine = line;
      }
      continue;
    }
    if (!inSection || p.kind != LineKind::Key) continue;
    loc.lastKeyLine = line;
    if (!loc.keyFound && EqualsIgnoreCase(p.name, key)) {
      loc.keyFound = true;
      loc.keyLine = line;
      loc.keyName = p.name;
      loc.value = p.value;
    }
  }
  return loc;
}

enum class ReadResult { Ok, Missing, Failed };

// Reads a regular file whole. Non-blocking open so that a FIFO or device never hangs us.
ReadResult ReadWholeFile(const std::string& path, std::string& content, struct stat& st) {
  content.clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0)
    return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::Missing : ReadResult::Failed;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
    close(fd);
    return ReadResult::Failed;
  }
  content.reserve(static_cast<std::size_t>(st.st_size));
  char chunk[65536];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return ReadResult::Failed;
    }
    content.append(chunk, static_cast<std::size_t>(n));
    if (content.size() > static_cast<std::size_t>(kMaxFileSize)) {  // grew while we read
      close(fd);
      return ReadResult::Failed;
    }
  }
  close(fd);
  return ReadResult::Ok;
}

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// mkdir -p. New folders get 0700, as a per-user configuration folder should.
bool MakeFolders(const std::string& folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = folder.find('/', pos + 1);
    std::string prefix = folder.substr(0, pos);
    if (prefix.empty() || prefix.back() == '/') continue;
    if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A symbolic link (a dotfiles setup, say) is followed, so the link survives the rename; a
// dangling one too, so the first save creates the file it points to. A relative link is
// taken from the link's own folder. A loop is left as it is: reading it then fails.
std::string ResolveTarget(const std::string& file) {
  std::string path = file;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char link[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), link, sizeof link);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof link) return path;
    const std::string target(link, static_cast<std::size_t>(n));
    path = target.front() == '/' ? target : FolderOf(path) + "/" + target;
  }
  return path;
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// One surrounding pair of double quotes is not part of the value (Path="/music/x y/").
std::string_view Unquoted(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

std::string Truncated(std::string_view value, std::size_t bufferSize) {
  // The value lands in a C string: it ends at the first NUL and leaves room for one.
  value = value.substr(0, value.find('\0'));
  if (bufferSize == 0) return {};
  return std::string(value.substr(0, bufferSize - 1));
}

}  // namespace

std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& fallback, const std::string& file,
                             std::size_t bufferSize) {
  try {
    std::string content;
    struct stat st;
    if (ReadWholeFile(file, content, st) == ReadResult::Ok) {
      Location loc = Locate(content, Trim(section), Trim(key));
      if (loc.keyFound) return Truncated(Unquoted(loc.value), bufferSize);
    }
    return Truncated(fallback, bufferSize);
  } catch (...) {  // out of memory: behave as if the key were absent
    return {};
  }
}

namespace {

// Sets one key in `content` as WriteProfileString would in the file. False when the entry
// would not read back as the same section, key and value; `content` is then unchanged.
bool ApplyEntry(std::string& content, const ProfileEntry& entry) {
  const std::string_view sectionName = Trim(entry.section);
  const std::string_view keyName = Trim(entry.key);
  const std::string& value = entry.value;
  if (keyName.empty() || HasLineBreakOrNul(sectionName) || HasLineBreakOrNul(keyName) ||
      HasLineBreakOrNul(value) || keyName.find('=') != std::string_view::npos ||
      keyName.front() == ';' || keyName.front() == '#' || keyName.front() == '[' ||
      sectionName.find(']') != std::string_view::npos) {
    return false;
  }
  const std::string& old = content;
  // New lines follow the file's own convention, judged by its first line.
  std::size_t firstNl = old.find('\n');
  const char* newline =
      (firstNl != std::string::npos && firstNl > 0 && old[firstNl - 1] == '\r') ? "\r\n" : "\n";

  // Ends an unterminated last line. A lone CR there is already read as the line's end, so it
  // only needs its LF: a whole CR-LF after it would make the CR part of the value.
  auto terminate = [newline](std::string& text) {
    text.append(!text.empty() && text.back() == '\r' ? "\n" : newline);
  };

  Location loc = Locate(old, sectionName, keyName);
  std::string updated;
  updated.reserve(old.size() + entry.section.size() + entry.key.size() + value.size() + 8);
  if (loc.keyFound) {
    const Line& l = loc.keyLine;
    updated.append(old, 0, l.begin);
    updated.append(loc.keyName).append("=").append(value);
    // Keep the line's own terminator ("\n", "\r\n" or none at the very end).
    updated.append(old, l.begin + l.text.size(), std::string::npos);
  } else if (loc.sectionFound) {
    const Line& after = loc.lastKeyLine;
    updated.append(old, 0, after.next);
    if (!after.terminated) terminate(updated);
    updated.append(keyName).append("=").append(value).append(newline);
    updated.append(old, after.next, std::string::npos);
  } else {
    updated = old;
    if (!updated.empty() && updated.back() != '\n') terminate(updated);
    updated.append("[").append(sectionName).append("]").append(newline);
    updated.append(keyName).append("=").append(value).append(newline);
  }
  content = std::move(updated);
  return true;
}

}  // namespace

bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file) {
  return WriteProfileStrings({{section, key, value}}, file);
}

bool WriteProfileStrings(const std::vector<ProfileEntry>& entries, const std::string& file) {
  if (file.empty()) return false;
  try {
    const std::string target = ResolveTarget(file);
    std::string old;
    struct stat st;
    ReadResult read = ReadWholeFile(target, old, st);
    if (read == ReadResult::Failed) return false;

    std::string updated = old;
    for (const ProfileEntry& entry : entries) {
      // Anything that would not read back as written is refused, and with it the batch.
      if (!ApplyEntry(updated, entry)) return false;
    }
    if (read == ReadResult::Ok && updated == old) return true;  // nothing to replace
    if (read == ReadResult::Missing && !MakeFolders(FolderOf(target))) return false;
    return ReplaceFileAtomically(target, updated, read == ReadResult::Ok ? &st : nullptr);
  } catch (...) {  // out of memory: the old file is untouched
    return false;
  }
}
