// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// CdDevice and CdSession over libcdio: real optical drives and disc images.
//
// libcdio 2.1's image drivers have habits this file works around:
// - a read that runs past the end of the data file succeeds with the buffer partly filled,
//   so image reads are checked byte by byte (see CdioSession::ReadImage);
// - the NRG parser trusts the chunk table at the end of the file, so that table is checked
//   first (NrgStructureProblem);
// - the parsers are not reentrant (strtok), so opening is serialised.
//
// Cue sheets and cdrdao TOC files are read by Obrin's own readers (cue_sheet.h, cdrdao_toc.h):
// libcdio's cue reader takes only one raw data file, and its TOC reader misplaces tracks.
//
// An image that does not open says why (OpenExplained): "Cannot open disc image PATH: ...".
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <unordered_set>

#include <cdio/cdio.h>
#include <cdio/cdtext.h>
#include <cdio/logging.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include "disc/cd_device.h"
#include "disc/cd_text.h"
#include "disc/cdrdao_toc.h"
#include "disc/cue_sheet.h"
#include "disc/file_problem.h"
#include "disc/image_layout.h"
#include "disc/paranoia_block.h"
#include "disc/q_search.h"
#include "disc/q_subchannel.h"
#include "disc/track_list.h"

namespace {

namespace fs = std::filesystem;

// Sheets and TOC files are a few kilobytes; anything far larger is not one.
constexpr off_t kMaxDescriptionBytes = 1 << 20;
// Re-reads libcdio-paranoia may spend on one sector before it gives up.
constexpr int kParanoiaRetries = 20;

std::mutex gOpenMutex;

// How long a drive that says it is becoming ready is waited for, and how often it is asked.
constexpr auto kReadyWait = std::chrono::seconds(20);
constexpr auto kReadyPoll = std::chrono::milliseconds(100);
std::function<bool()> gCdWaitCancelled;

// libcdio warns on stderr about ordinary things (short pregaps, files it probes for); only
// its errors are worth a user's attention.
void LogHandler(cdio_log_level_t level, const char message[]) {
  if (level >= CDIO_LOG_ERROR) std::fprintf(stderr, "libcdio: %s\n", message);
}

void InstallLogHandler() {
  static std::once_flag once;
  std::call_once(once, [] { cdio_log_set_handler(LogHandler); });
}

struct CdioCloser {
  void operator()(CdIo_t* cdio) const { cdio_destroy(cdio); }
};
using CdioPtr = std::unique_ptr<CdIo_t, CdioCloser>;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// 13 digits, not all zeros (drives without one answer "" or "0000000000000").
bool IsCatalogNumber(const std::string& code) {
  return code.size() == 13 &&
         std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
         code != std::string(13, '0');
}

// 12 characters of A-Z and 0-9, not all zeros.
bool IsIsrc(const std::string& code) {
  return code.size() == 12 &&
         std::all_of(code.begin(), code.end(),
                     [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }) &&
         code != std::string(12, '0');
}

bool IsReadableFile(const std::string& path, off_t* size = nullptr) {
  return FileProblem(path, size).empty();
}

bool ReadSmallFile(const std::string& path, std::string& content) {
  off_t size = 0;
  if (!IsReadableFile(path, &size) || size > kMaxDescriptionBytes) return false;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  content.resize(static_cast<size_t>(size));
  size_t got = std::fread(content.data(), 1, content.size(), file);
  std::fclose(file);
  content.resize(got);
  return got > 0;
}

// Read by Obrin's own cue reader (disc/cue_sheet.h), not libcdio's.
std::unique_ptr<CdSession> OpenCueSheet(const std::string& path, const std::string& folder,
                                        std::string& why) {
  std::string text;
  if (!ReadSmallFile(path, text)) {
    why = "it is too large for a cue sheet";
    return nullptr;
  }
  auto layout = ParseCueSheet(text, folder, why);
  return layout ? OpenImageLayout(std::move(*layout), why) : nullptr;
}

// Read by Obrin's own TOC reader (disc/cdrdao_toc.h), not libcdio's.
std::unique_ptr<CdSession> OpenCdrdaoToc(const std::string& path, const std::string& folder,
                                         std::string& why) {
  std::string text;
  if (!ReadSmallFile(path, text)) {
    why = "it is too large for a TOC file";
    return nullptr;
  }
  auto layout = ParseCdrdaoToc(text, folder, why);
  return layout ? OpenImageLayout(std::move(*layout), why) : nullptr;
}

enum class DescriptionKind { kNone, kCueSheet, kCdrdaoToc };

// A cue sheet or a cdrdao TOC file told apart by its first statement: both are short texts
// of words, but only a cue sheet starts with FILE, REM or its disc texts, and only a TOC with
// a disc type, CD_TEXT or TRACK (cue sheets put a FILE first) or a quoted CATALOG.
DescriptionKind DescriptionKindOf(const std::string& path) {
  std::string text;
  if (!ReadSmallFile(path, text) || text.find('\0') != std::string::npos) {
    return DescriptionKind::kNone;
  }
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string word, value;
    if (!(words >> word) || word.starts_with("//")) continue;
    words >> value;
    word = Lower(word);
    static const char* const kCueWords[] = {"file",       "rem",        "title", "performer",
                                            "songwriter", "cdtextfile", "flags"};
    static const char* const kTocWords[] = {"cd_da", "cd_rom",  "cd_rom_xa",
                                            "cd_i",  "cd_text", "track"};
    if (std::find(std::begin(kCueWords), std::end(kCueWords), word) != std::end(kCueWords)) {
      return DescriptionKind::kCueSheet;
    }
    if (std::find(std::begin(kTocWords), std::end(kTocWords), word) != std::end(kTocWords)) {
      return DescriptionKind::kCdrdaoToc;
    }
    if (word == "catalog") {
      return value.starts_with("\"") ? DescriptionKind::kCdrdaoToc : DescriptionKind::kCueSheet;
    }
    return DescriptionKind::kNone;
  }
  return DescriptionKind::kNone;
}

// --- NRG images ---
//
// libcdio's parser reads the chunk table named by the footer into one buffer and walks it
// with the lengths it finds, unchecked: a length pointing past the table, a chunk shorter
// than the records read from it, no track chunk at all (it then writes before its TOC array),
// more than 99 tracks, or CD-Text it cannot bound make it read or write out of bounds. Its
// own checks only log. So the table is read here first and refused unless each chunk libcdio
// reads lies inside it and holds what libcdio will read.

constexpr uint32_t kNrgMaxTable = 1 << 16;  // 99 tracks and full CD-Text fit in far less
// Track positions beyond this would overflow libcdio's byte offsets (lsn * 2352 in 32 bits).
constexpr int64_t kNrgMaxSector = 900000;

uint64_t BigEndian(const uint8_t* p, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = value << 8 | p[i];
  return value;
}

int32_t NrgSector(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(BigEndian(p, 4)));
}

// A CD-Text pack's CRC covers its bytes 0..15 and stands in 16..17.
bool CdTextPackIsWhole(const uint8_t* pack) {
  return CdCrc16(pack, 16) == BigEndian(pack + 16, 2);
}

// Checks a track chunk (CUES, CUEX, ETNF, ETN2); sets `tracks` to the tracks libcdio will
// register from it.
std::string NrgTrackChunkProblem(const std::string& id, const uint8_t* data, uint32_t length,
                                 int& tracks) {
  const bool cue = id == "CUES" || id == "CUEX";
  const uint32_t entrySize = cue ? 8 : id == "ETNF" ? 20 : 32;
  if (length % entrySize != 0) return "chunk " + id + " does not hold whole entries";
  const uint32_t entries = length / entrySize;
  tracks = 0;
  if (id == "CUES") {
    for (uint32_t idx = 1; entries >= 2 && idx < entries - 1; idx += 2) {
      const uint8_t* entry = data + 8 * idx;
      if (entry[2] / 16 != 0 || NrgSector(entry + 4) < 0 || NrgSector(entry + 4) > kNrgMaxSector ||
          data[8 * idx + 9] != entry[1]) {
        return "chunk CUES holds a track entry that cannot be read";
      }
      ++tracks;
    }
  } else if (id == "CUEX") {
    if (entries % 2 != 0) return "chunk CUEX does not end with a lead-out entry";
    int32_t previous = 0;
    for (uint32_t idx = 2; idx < entries; idx += 2) {
      const uint8_t* entry = data + 8 * idx;
      const int32_t start = NrgSector(entry + 4);
      const int32_t end = NrgSector(entry + 12);
      if (entry[2] >> 4 > 1 || entry[1] == entry[9] || start < previous || end < start ||
          end > kNrgMaxSector) {
        return "chunk CUEX holds a track entry that cannot be read";
      }
      previous = start;
      ++tracks;
    }
  } else {
    for (uint32_t idx = 0; idx < entries; ++idx) {
      const uint8_t* entry = data + entrySize * idx;
      const bool etnf = id == "ETNF";
      const uint64_t offset = BigEndian(entry, etnf ? 4 : 8);
      const uint64_t bytes = BigEndian(entry + (etnf ? 4 : 8), etnf ? 4 : 8);
      const uint32_t mode = static_cast<uint32_t>(BigEndian(entry + (etnf ? 8 : 16), 4));
      const uint64_t start = BigEndian(entry + (etnf ? 12 : 20), 4);
      const uint64_t block = mode == 0 || mode == 2 ? 2048 : mode == 7 ? 2352 : 2336;
      const bool known =
          mode == 0 || mode == 2 || mode == 3 || mode == 7 || (etnf && (mode == 6 || mode == 0x20));
      if (!known || bytes % block != 0 || start * block != offset ||
          start + bytes / block > kNrgMaxSector) {
        return "chunk " + id + " holds a track entry that cannot be read";
      }
      ++tracks;
    }
  }
  if (tracks < 1 || tracks > 99) return "chunk " + id + " does not hold 1 to 99 tracks";
  return {};
}

}  // namespace

std::string NrgStructureProblem(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  struct stat st;
  std::vector<uint8_t> table;
  uint8_t footer[12];
  uint64_t tableStart = 0;
  uint64_t tableEnd = 0;
  std::string problem;
  if (fstat(fd, &st) != 0 || st.st_size < 20 ||
      pread(fd, footer, sizeof footer, st.st_size - 12) != 12) {
    problem = "it is too short for an NRG image";
  } else {
    // The same order as libcdio: the older footer is looked for first.
    const auto fileSize = static_cast<uint64_t>(st.st_size);
    if (std::memcmp(footer + 4, "NERO", 4) == 0) {
      tableStart = BigEndian(footer + 8, 4);
      tableEnd = fileSize - 8;
    } else if (std::memcmp(footer, "NER5", 4) == 0) {
      tableStart = BigEndian(footer + 4, 8);
      tableEnd = fileSize - 12;
    } else {
      problem = "it has no NRG footer";
    }
    if (problem.empty() && (tableStart >= tableEnd || tableEnd - tableStart > kNrgMaxTable)) {
      problem = "its footer points outside the file";
    }
    if (problem.empty()) {
      table.resize(tableEnd - tableStart);
      if (pread(fd, table.data(), table.size(), static_cast<off_t>(tableStart)) !=
          static_cast<ssize_t>(table.size())) {
        problem = std::string("it cannot be read (") + std::strerror(errno) + ")";
      }
    }
  }
  close(fd);
  if (!problem.empty()) return problem;

  std::set<std::string> seen;
  int tracks = 0;
  for (uint64_t pos = 0;;) {
    if (table.size() - pos < 8) return "its chunk table has no END! chunk";
    const std::string id(reinterpret_cast<const char*>(&table[pos]), 4);
    const auto length = static_cast<uint32_t>(BigEndian(&table[pos + 4], 4));
    const uint8_t* data = &table[pos + 8];
    if (length > table.size() - pos - 8) return "chunk " + id + " runs past its table";
    if (id == "END!") break;
    if (id == "NERO" || id == "NER5") return "its chunk table holds a footer";
    const bool trackChunk = id == "CUES" || id == "CUEX" || id == "ETNF" || id == "ETN2";
    const std::string kind = trackChunk ? "track" : id.compare(0, 3, "DAO") == 0 ? "DAO" : id;
    if (!seen.insert(kind).second && (trackChunk || kind == "DAO" || kind == "CDTX")) {
      return "it holds more than one " + kind + " chunk";
    }
    if (trackChunk) {
      problem = NrgTrackChunkProblem(id, data, length, tracks);
      if (!problem.empty()) return problem;
    } else if (kind == "DAO") {
      // A common header of 22 bytes, then one entry per track libcdio knows so far (at least
      // the first, whose mode it reads in any case).
      const uint32_t entry = id == "DAOX" ? 42 : 30;
      if (length < 22 + entry * static_cast<uint32_t>(std::max(tracks, 1))) {
        return "chunk " + id + " is too short for its tracks";
      }
    } else if ((id == "SINF" || id == "MTYP") && length != 4) {
      return "chunk " + id + " has the wrong size";
    } else if (id == "CDTX") {
      if (length == 0 || length % 18 != 0) return "chunk CDTX does not hold whole packs";
      for (uint32_t p = 0; p < length; p += 18) {
        const uint8_t* pack = data + p;
        if (!CdTextPackIsWhole(pack) || pack[0] < 0x80 || pack[0] > 0x8F || (pack[1] & 0x7F) > 99 ||
            (pack[3] & 0x80) != 0) {
          return "chunk CDTX holds a damaged CD-Text pack";
        }
      }
    }
    pos += 8 + uint64_t{length};
  }
  if (tracks == 0) return "it holds no track chunk";
  return {};
}

namespace {

// Each track's pregap as libcdio knows it: a cue sheet's INDEX 00, a TOC file's START.
std::vector<uint32_t> ReadCdioPregaps(CdIo_t* cdio) {
  std::vector<uint32_t> pregaps;
  const track_t first = cdio_get_first_track_num(cdio);
  const track_t count = cdio_get_num_tracks(cdio);
  if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK) return pregaps;
  lsn_t previous = 0;
  for (int t = first; t < first + count && t <= 99; ++t) {
    const lsn_t start = cdio_get_track_lsn(cdio, static_cast<track_t>(t));
    const lsn_t gap = cdio_get_track_pregap_lsn(cdio, static_cast<track_t>(t));
    // Only a gap inside the previous track's stretch is one: anything else is noise.
    const bool known =
        start != CDIO_INVALID_LSN && gap != CDIO_INVALID_LSN && gap >= previous && gap < start;
    pregaps.push_back(known ? static_cast<uint32_t>(start - gap) : 0);
    if (start != CDIO_INVALID_LSN) previous = start;
  }
  return pregaps;
}

// Reads the TOC libcdio parsed and checks that it describes a disc at all.
bool ReadCdioToc(CdIo_t* cdio, TocBuffer& toc, uint32_t& leadOut) {
  const track_t first = cdio_get_first_track_num(cdio);
  const track_t count = cdio_get_num_tracks(cdio);
  if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || first < 1 || count < 1 ||
      first + count - 1 > 99) {
    return false;
  }
  std::vector<CdTocTrack> tracks;
  lsn_t previous = 0;
  for (int t = first; t < first + count; ++t) {
    const auto track = static_cast<track_t>(t);
    const lsn_t start = cdio_get_track_lsn(cdio, track);
    if (start == CDIO_INVALID_LSN || start < previous) return false;
    previous = start;
    CdTocTrack entry;
    entry.start = static_cast<uint32_t>(start);
    if (cdio_get_track_format(cdio, track) != TRACK_FORMAT_AUDIO) entry.control |= 0x04;
    if (cdio_get_track_copy_permit(cdio, track) == CDIO_TRACK_FLAG_TRUE) entry.control |= 0x02;
    if (cdio_get_track_preemphasis(cdio, track) == CDIO_TRACK_FLAG_TRUE) entry.control |= 0x01;
    tracks.push_back(entry);
  }
  const lsn_t end = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
  if (end == CDIO_INVALID_LSN || end < previous) return false;
  leadOut = static_cast<uint32_t>(end);
  return FillTocBuffer(static_cast<uint8_t>(first), tracks, leadOut, toc);
}

// What a drive's sessions share: its identity, and its cache as measured for the disc in it.
struct DriveMemo {
  std::mutex mutex;
  bool identityKnown = false;
  DriveIdentity identity;
  bool cacheKnown = false;
  TocBuffer cacheToc{};  // the disc it was measured with
  uint32_t cacheSectors = 0;
  // What the drive's cache holds, as far as Obrin can tell: the sectors of its last reads
  // (and a read-ahead after each), most recent last, as a drive's ring of buffers keeps them.
  // Reads meant to empty the cache skip these: reading them again would push nothing out.
  std::deque<int32_t> recent;
  std::unordered_set<int32_t> recentSet;
  // What the disc's Q and codes gave (pregaps, indexes, MCN, ISRCs, the notes on them), for
  // the disc of `layoutToc`.
  TocBuffer layoutToc{};
  std::optional<QIndexFindings> layoutQ;
  std::optional<DiscCdText> layoutCodes;
  std::vector<std::string> layoutNotes;

  void Noted(int32_t lsn, uint32_t count, uint32_t readAhead = kModelReadAhead) {
    if (cacheSectors == 0) return;
    for (int64_t s = lsn; s < int64_t{lsn} + count + readAhead; ++s) {
      if (!recentSet.insert(static_cast<int32_t>(s)).second) continue;
      recent.push_back(static_cast<int32_t>(s));
      while (recent.size() > cacheSectors + kModelReadAhead) {
        recentSet.erase(recent.front());
        recent.pop_front();
      }
    }
  }
  bool Cached(int64_t sector) const { return recentSet.count(static_cast<int32_t>(sector)) != 0; }
  // The read-ahead assumed after every read.
  static constexpr uint32_t kModelReadAhead = 128;
};

// Far beyond the 1-8 MB of audio cache drives have; the test stops at the first size that
// pushes a sector out, so it reads about four times the cache, not this.
constexpr uint32_t kCacheTestLimit = 8192;
// Sectors left between a stretch whose cache is being emptied and reads before it: a drive
// reads ahead past the last sector asked for, and that must not bring the stretch back.
constexpr uint32_t kReadAheadGap = 256;
// Sectors a plain READ CD of the cache-emptying reads asks for, within every drive's limit.
constexpr uint32_t kSectorsPerPiece = 26;

// libcdio-paranoia 10.2 crashes in its next read when told of a cache larger than the
// 1200-sector stretches it reads: it is told at most that, and Obrin's own reads between
// secure reads empty a larger cache.
// The time a track's failing reads may take: past it, every read of the track fails at once
// and the track ends in error.
constexpr auto kReadErrorBudget = std::chrono::seconds(30);

class CdioSession;
// The session whose error-correcting read runs on this thread: paranoia's reads of the drive
// go through it, for the budget above and for Stop.
thread_local CdioSession* tReadingSession = nullptr;

int ParanoiaCacheModel(uint32_t sectors) {
  return static_cast<int>(std::min<uint32_t>(sectors, 1200));
}

class CdioSession : public CdSession {
 public:
  CdioSession(CdioPtr cdio, bool realDrive, const TocBuffer& toc, uint32_t leadOut,
              std::shared_ptr<DriveMemo> memo)
      : cdio_(std::move(cdio)),
        realDrive_(realDrive),
        toc_(toc),
        leadOut_(leadOut),
        memo_(std::move(memo)) {}

  bool IsDrive() const override { return realDrive_ && memo_; }

  DriveIdentity Identity() override {
    if (!IsDrive()) return {};
    std::lock_guard lock(memo_->mutex);
    if (!memo_->identityKnown) {
      memo_->identity = ReadDriveIdentity(cdio_.get());
      memo_->identityKnown = true;
    }
    return memo_->identity;
  }

  bool MeasureCache(uint32_t& sectors, uint64_t& sectorsRead) override {
    if (!IsDrive()) return false;
    std::lock_guard lock(memo_->mutex);
    if (!memo_->cacheKnown || std::memcmp(&memo_->cacheToc, &toc_, sizeof toc_) != 0) {
      const auto [from, to] = AudioArea();
      std::vector<std::pair<int32_t, uint32_t>> tested;
      memo_->cacheSectors = MeasureAudioCache(
          cdio_.get(), static_cast<int32_t>(from), to - from, kCacheTestLimit, sectorsRead,
          [&](int32_t lsn, uint32_t count) { tested.emplace_back(lsn, count); });
      for (const auto& [lsn, count] : tested) memo_->Noted(lsn, count);
      memo_->cacheToc = toc_;
      memo_->cacheKnown = true;
    }
    sectors = memo_->cacheSectors;
    cacheSectors_ = sectors;
    if (paranoia_ && sectors > 0)
      cdio_paranoia_cachemodel_size(paranoia_, ParanoiaCacheModel(sectors));
    return true;
  }

  bool ReadElsewhere(uint32_t avoidFrom, uint32_t avoidCount, uint32_t sectors) override {
    if (!IsDrive()) return false;
    const auto [from, to] = AudioArea();
    const int64_t avoidEnd = int64_t{avoidFrom} + avoidCount;
    // Sectors the cache may not hold, after the stretch onward (the drive's read-ahead then
    // runs away from it) as far as the audio goes; what that leaves, before the stretch,
    // backwards from a gap before it: what a piece's read-ahead brings then lies before the
    // stretch, or has been read already.
    std::vector<uint8_t> buffer(size_t{kSectorsPerPiece} * kSectorBytes);
    int64_t left = sectors;
    bool failed = false;
    const auto read = [&](int64_t at, int64_t count) {
      failed = failed || ReadCdAudio(cdio_.get(), static_cast<int32_t>(at),
                                     static_cast<uint32_t>(count), buffer.data(), nullptr)
                                 .kind != DriveReply::kOk;
      // Without the read-ahead: the next piece of a run follows on, one read the drive
      // streams, rather than a seek past what it read ahead.
      Note(at, count, 0);
      left -= count;
    };
    const auto cached = [&](int64_t sector) {
      std::lock_guard lock(memo_->mutex);
      return memo_->Cached(sector);
    };
    const int64_t piece = kSectorsPerPiece;
    // Each sweep reads what the cache cannot hold; as it reads, older sectors fall out of the
    // cache and may be read by the next sweep.
    for (int64_t before = left + 1; left > 0 && left < before && !failed;) {
      before = left;
      for (int64_t at = std::max<int64_t>(from, avoidEnd); at < to && left > 0 && !failed;) {
        if (cached(at)) {
          ++at;
          continue;
        }
        int64_t end = at;
        while (end < to && end - at < std::min(piece, left) && !cached(end)) ++end;
        read(at, end - at);
        at = end;
      }
      const int64_t beforeEnd = std::min<int64_t>(int64_t{avoidFrom} - kReadAheadGap, to);
      for (int64_t end = beforeEnd; end > int64_t{from} && left > 0 && !failed;) {
        if (cached(end - 1)) {
          --end;
          continue;
        }
        int64_t at = end;
        while (at > int64_t{from} && end - at < std::min(piece, left) && !cached(at - 1)) --at;
        read(at, end - at);
        end = at;
      }
    }
    // The next error-correcting read starts afresh: paranoia keeps what it read before and
    // would match the new reads against the old ones.
    nextSector_ = -1;
    if (paranoia_) {
      cdio_paranoia_free(paranoia_);
      paranoia_ = cdio_paranoia_init(drive_);
      if (paranoia_) ConfigureParanoia();
    }
    return left == 0 && !failed;
  }

  // A read the drive served, for the model of its cache.
  void Note(int64_t lsn, int64_t count, uint32_t readAhead = DriveMemo::kModelReadAhead) {
    if (!memo_ || count <= 0) return;
    std::lock_guard lock(memo_->mutex);
    memo_->Noted(static_cast<int32_t>(lsn), static_cast<uint32_t>(count), readAhead);
  }

  DriveReply ReadRaw(int32_t lsn, uint32_t count, uint8_t* audio, uint8_t* c2) override {
    if (!IsDrive()) return {};
    nextSector_ = -1;
    Note(lsn, count);
    return ReadCdAudio(cdio_.get(), lsn, count, audio, c2);
  }

  ~CdioSession() override {
    if (paranoia_) cdio_paranoia_free(paranoia_);
    if (drive_) cdio_cddap_close_no_free_cdio(drive_);
  }

  bool ReadToc(TocBuffer& toc) override {
    toc = toc_;
    return true;
  }

  bool ReadPregaps(std::vector<uint32_t>& sectors) override {
    sectors = ReadCdioPregaps(cdio_.get());
    // libcdio cannot ask a Linux drive for pregaps: its Q sub-channel tells them.
    if (realDrive_ &&
        std::all_of(sectors.begin(), sectors.end(), [](uint32_t s) { return s == 0; })) {
      sectors = SearchedQ().pregaps;
    }
    return true;
  }

  bool ReadIndexes(std::vector<std::vector<TrackIndexMark>>& marks) override {
    if (!realDrive_) return false;
    marks = SearchedQ().indexes;
    return true;
  }

  std::vector<std::string> LayoutNotes() const override { return layoutNotes_; }

  // The disc's indexes as its Q sub-channel gives them, searched once.
  const QIndexFindings& SearchedQ() {
    if (qFindings_) return *qFindings_;
    // A reload of the same disc (a format or settings change) asks the drive nothing again.
    if (memo_) {
      std::lock_guard lock(memo_->mutex);
      if (memo_->layoutQ && std::memcmp(&memo_->layoutToc, &toc_, sizeof toc_) == 0) {
        qFindings_ = memo_->layoutQ;
        layoutNotes_ = memo_->layoutNotes;
        return *qFindings_;
      }
    }
    std::vector<QSearchTrack> tracks;
    const int count =
        toc_.lastTrack >= toc_.firstTrack ? std::min(toc_.lastTrack - toc_.firstTrack + 1, 99) : 0;
    for (int e = 0; e < count; ++e) {
      const uint32_t start = TocEntryAddress(toc_.entries[e]);
      tracks.push_back({static_cast<uint8_t>(toc_.firstTrack + e), start,
                        start + AudioTrackSectors(toc_, e), !(toc_.entries[e].adrControl & 0x04)});
    }
    const QSectorReader read = [this](int32_t lsn, bool raw, uint8_t q[16]) {
      return ReadSubchannelQ(cdio_.get(), lsn, raw, q).kind == DriveReply::kOk;
    };
    nextSector_ = -1;
    qFindings_ = FindIndexesInQ(tracks, read);
    if (!qFindings_->usable) {
      layoutNotes_.push_back(
          "the drive gives no usable Q sub-channel: pregaps and indexes are not known beyond "
          "what the TOC says");
    } else if (!qFindings_->finished) {
      layoutNotes_.push_back(
          "the search for pregaps and indexes in the Q sub-channel took too long: some may be "
          "missing");
    }
    if (memo_) {
      std::lock_guard lock(memo_->mutex);
      memo_->layoutToc = toc_;
      memo_->layoutQ = qFindings_;
      memo_->layoutNotes = layoutNotes_;
      memo_->layoutCodes.reset();
    }
    return *qFindings_;
  }

  bool ReadCdText(DiscCdText& text) override {
    // libcdio reads a drive's CD-Text, or an image's texts, in its first block's language.
    cdtext_t* cdtext = cdio_get_cdtext(cdio_.get());
    const auto fields = [&](track_t track) {
      const auto field = [&](cdtext_field_t key) {
        const char* value = cdtext ? cdtext_get_const(cdtext, key, track) : nullptr;
        return value ? CleanCdText(value) : std::string();
      };
      return CdTextFields{field(CDTEXT_FIELD_TITLE), field(CDTEXT_FIELD_PERFORMER),
                          field(CDTEXT_FIELD_SONGWRITER),
                          field(track == 0 ? CDTEXT_FIELD_UPC_EAN : CDTEXT_FIELD_ISRC)};
    };
    text.disc = fields(0);
    const track_t first = cdio_get_first_track_num(cdio_.get());
    const track_t count = cdio_get_num_tracks(cdio_.get());
    if (first != CDIO_INVALID_TRACK && count != CDIO_INVALID_TRACK) {
      for (int t = first; t < first + count && t <= 99; ++t) {
        text.tracks.push_back(fields(static_cast<track_t>(t)));
      }
    }
    if (realDrive_) ReadCodesOnce(text, first);
    const auto empty = [](const CdTextFields& f) {
      return f.title.empty() && f.performer.empty() && f.songwriter.empty() && f.code.empty();
    };
    return !empty(text.disc) || std::any_of(text.tracks.begin(), text.tracks.end(),
                                            [&](const CdTextFields& f) { return !empty(f); });
  }

  // The codes of a disc whose layout was searched before (the same TOC) are those found then.
  void ReadCodesOnce(DiscCdText& text, track_t first) {
    if (memo_) {
      std::lock_guard lock(memo_->mutex);
      if (memo_->layoutCodes && std::memcmp(&memo_->layoutToc, &toc_, sizeof toc_) == 0) {
        text = *memo_->layoutCodes;
        layoutNotes_ = memo_->layoutNotes;
        return;
      }
    }
    ReadSubchannelCodes(text, first);
    if (memo_) {
      std::lock_guard lock(memo_->mutex);
      if (std::memcmp(&memo_->layoutToc, &toc_, sizeof toc_) != 0) memo_->layoutQ.reset();
      memo_->layoutToc = toc_;
      memo_->layoutCodes = text;
      memo_->layoutNotes = layoutNotes_;
    }
  }

  // A drive's MCN and ISRCs from its Q sub-channel, where CD-Text gave none: only codes of
  // the right form count, and an ISRC two tracks share is a drive's fault, kept for neither.
  void ReadSubchannelCodes(DiscCdText& text, track_t first) {
    if (text.disc.code.empty()) {
      char* mcn = cdio_get_mcn(cdio_.get());
      if (mcn && IsCatalogNumber(mcn)) text.disc.code = mcn;
      std::free(mcn);
    }
    for (size_t i = 0; i < text.tracks.size(); ++i) {
      if (!text.tracks[i].code.empty() || (toc_.entries[i].adrControl & 0x04)) continue;
      char* isrc = cdio_get_track_isrc(cdio_.get(), static_cast<track_t>(first + i));
      if (isrc && IsIsrc(isrc)) text.tracks[i].code = VotedIsrc(i, isrc);
      std::free(isrc);
    }
    std::map<std::string, std::vector<size_t>> uses;
    for (size_t i = 0; i < text.tracks.size(); ++i) {
      if (!text.tracks[i].code.empty()) uses[text.tracks[i].code].push_back(i);
    }
    for (const auto& [code, tracks] : uses) {
      if (tracks.size() < 2) continue;
      std::string names;
      for (size_t n = 0; n < tracks.size(); ++n) {
        char number[8];
        std::snprintf(number, sizeof number, "%02d", first + static_cast<int>(tracks[n]));
        names += (n == 0 ? "" : n + 1 == tracks.size() ? " and " : ", ") + std::string(number);
        text.tracks[tracks[n]].code.clear();
      }
      layoutNotes_.push_back("the drive gives the ISRC " + code + " for tracks " + names +
                             ", which cannot share one: it is kept for none of them");
    }
  }

  // A track's ISRC as most of its Q frames give it: READ SUB-CHANNEL hands back one the
  // drive saw, which a misread can make wrong. Where no frame of the track's first sectors
  // holds one, the drive's answer stands.
  std::string VotedIsrc(size_t e, const std::string& answer) {
    constexpr uint32_t kRun = 24, kMostSectors = 480;
    const uint32_t start = TocEntryAddress(toc_.entries[e]);
    const uint32_t length = AudioTrackSectors(toc_, static_cast<int>(e));
    std::vector<std::string> frames;
    std::vector<uint8_t> q(size_t{kRun} * 16);
    nextSector_ = -1;
    for (uint32_t at = 0; at < std::min(length, kMostSectors); at += kRun) {
      const uint32_t count = std::min(kRun, length - at);
      if (ReadSubchannelQRun(cdio_.get(), static_cast<int32_t>(start + at), count, q.data()).kind !=
          DriveReply::kOk) {
        break;
      }
      for (uint32_t s = 0; s < count; ++s) {
        const auto frame = ParseFormattedQ(q.data() + size_t{s} * 16);
        if (frame && frame->kind == SubchannelFrame::kIsrc && IsIsrc(frame->code)) {
          frames.push_back(frame->code);
        }
      }
      if (frames.size() >= 3 && MajorityIsrc(frames)) break;
    }
    if (frames.empty()) return answer;
    const auto voted = MajorityIsrc(frames);
    return voted ? *voted : std::string();
  }

  bool ReadAudio(TrackBuffer& buffer, uint32_t& libError, uint32_t& aspiStatus) override {
    const uint32_t count = buffer.sectorCount;
    if (uint64_t{buffer.startSector} + count > leadOut_) {
      libError = kCdErrPastEnd;
      aspiStatus = kAspiError;
      return false;
    }
    bool ok = !realDrive_          ? ReadImage(buffer, libError)
              : paranoiaRequested_ ? ReadParanoia(buffer, libError)
                                   : ReadPlain(buffer, libError);
    if (!ok) {
      aspiStatus = kAspiError;
      return false;
    }
    buffer.deliveredLength = count * kSectorBytes;
    buffer.offset = 0;
    if (!realDrive_) pacer_.Delivered(count);
    return true;
  }

  bool SetOption(int which, uint32_t value) override {
    if (which == kCdParmReadRetries) return value <= 10;
    if (which == kCdParmParanoia && value <= 1) {
      paranoiaRequested_ = value == 1;
      return true;
    }
    return false;
  }

 private:
  // An image read is trusted only for the bytes it provably wrote: the range is read twice,
  // into a buffer of 0x00 and one of 0xFF. A byte the reads left alone differs between the
  // two; a byte they wrote is the file's byte in both.
  bool ReadImage(TrackBuffer& buffer, uint32_t& libError) {
    const size_t bytes = size_t{buffer.sectorCount} * kSectorBytes;
    uint8_t* data = TrackBufferData(&buffer);
    scratch_.assign(bytes, 0xFF);
    std::memset(data, 0x00, bytes);
    const driver_return_code_t first =
        cdio_read_audio_sectors(cdio_.get(), data, buffer.startSector, buffer.sectorCount);
    const driver_return_code_t second = cdio_read_audio_sectors(
        cdio_.get(), scratch_.data(), buffer.startSector, buffer.sectorCount);
    if (std::memcmp(data, scratch_.data(), bytes) != 0) {
      libError = kCdErrPastEnd;
      return false;
    }
    if (first != DRIVER_OP_SUCCESS || second != DRIVER_OP_SUCCESS) {
      libError = kCdErrRead;
      return false;
    }
    return true;
  }

  bool ReadPlain(TrackBuffer& buffer, uint32_t& libError) {
    const auto start = std::chrono::steady_clock::now();
    const bool ok = MayRead() && cdio_read_audio_sectors(cdio_.get(), TrackBufferData(&buffer),
                                                         buffer.startSector,
                                                         buffer.sectorCount) == DRIVER_OP_SUCCESS;
    Account(ok, start);
    if (realDrive_) Note(buffer.startSector, buffer.sectorCount);
    if (!ok) libError = kCdErrRead;
    return ok;
  }

  // Whether the drive is asked at all: not after Stop, nor once the track's failing reads
  // have used up their time (the track then ends in error).
  bool MayRead() const {
    if (realDrive_ && gCdWaitCancelled && gCdWaitCancelled()) return false;
    return errorTime_ <= kReadErrorBudget;
  }
  void Account(bool ok, std::chrono::steady_clock::time_point start) {
    if (!ok) errorTime_ += std::chrono::steady_clock::now() - start;
  }

  // Paranoia's reads of the drive, through the session reading on this thread. A read refused
  // fails with ENOMEDIUM, the one error on which paranoia gives up at once (on any other it
  // retries, and a read that always fails at once would keep it busy for ever).
  static long BudgetedParanoiaRead(cdrom_drive_t* drive, void* out, lsn_t begin, long sectors) {
    CdioSession* self = tReadingSession;
    if (!self || !self->paranoiaRead_ || !self->MayRead()) {
      errno = ENOMEDIUM;
      return -1;
    }
    const auto start = std::chrono::steady_clock::now();
    const long got = self->paranoiaRead_(drive, out, begin, sectors);
    self->Account(got == sectors, start);
    self->Note(begin, sectors);
    return got;
  }

  // Jitter- and scratch-corrected reads; when libcdio-paranoia cannot take the drive, plain
  // reads stand in.
  bool ReadParanoia(TrackBuffer& buffer, uint32_t& libError) {
    if (!paranoia_ && !paranoiaFailed_) StartParanoia();
    if (!paranoia_) return ReadPlain(buffer, libError);
    // Audio paranoia made up where an earlier read failed past the last block is read again.
    const int64_t end = int64_t{buffer.startSector} + buffer.sectorCount;
    const auto unread = unreadFrom_.lower_bound(buffer.startSector);
    if (unread != unreadFrom_.end() && *unread < end) {
      unreadFrom_.erase(unread, unreadFrom_.lower_bound(end));
      nextSector_ = -1;
    }
    if (nextSector_ != static_cast<int64_t>(buffer.startSector)) {
      cdio_paranoia_seek(paranoia_, static_cast<int32_t>(buffer.startSector), SEEK_SET);
    }
    tReadingSession = this;
    const bool ok = ReadParanoiaBlock(
        [this](ParanoiaCallback callback) {
          return cdio_paranoia_read_limited(paranoia_, callback, kParanoiaRetries);
        },
        buffer.startSector, buffer.sectorCount, TrackBufferData(&buffer), unreadFrom_);
    tReadingSession = nullptr;
    if (!ok) {
      nextSector_ = -1;
      libError = kCdErrRead;
      return false;
    }
    nextSector_ = int64_t{buffer.startSector} + buffer.sectorCount;
    return true;
  }

  void StartParanoia() {
    drive_ = cdio_cddap_identify_cdio(cdio_.get(), CDDA_MESSAGE_FORGETIT, nullptr);
    if (drive_ && cdio_cddap_open(drive_) == 0) paranoia_ = cdio_paranoia_init(drive_);
    if (!paranoia_) {
      paranoiaFailed_ = true;
      return;
    }
    ConfigureParanoia();
    if (realDrive_ && drive_->read_audio) {
      paranoiaRead_ = drive_->read_audio;
      drive_->read_audio = BudgetedParanoiaRead;
      // One drive command per read: paranoia's own retries then come back through it, so
      // that Stop and the time limit are seen between any two commands.
      drive_->error_retry = 0;
    }
  }

  void ConfigureParanoia() {
    cdio_paranoia_modeset(paranoia_, PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
    // Paranoia empties the drive's cache before it reads a stretch again, as far as it
    // believes the cache reaches: it is told what was measured.
    if (cacheSectors_ > 0) {
      cdio_paranoia_cachemodel_size(paranoia_, ParanoiaCacheModel(cacheSectors_));
    }
  }

  // The disc's audio: from its first audio track to the end of its last (an enhanced CD's
  // audio ends a session gap before its data track).
  std::pair<uint32_t, uint32_t> AudioArea() const {
    const int count =
        toc_.lastTrack >= toc_.firstTrack ? std::min(toc_.lastTrack - toc_.firstTrack + 1, 99) : 0;
    uint32_t from = 0, to = 0;
    bool any = false;
    for (int e = 0; e < count; ++e) {
      if (toc_.entries[e].adrControl & 0x04) continue;
      const uint32_t start = TocEntryAddress(toc_.entries[e]);
      if (!any) from = start;
      any = true;
      to = start + AudioTrackSectors(toc_, e);
    }
    return {from, std::max(from, to)};
  }

  CdioPtr cdio_;
  const bool realDrive_;
  const TocBuffer toc_;
  const uint32_t leadOut_;
  bool paranoiaRequested_ = true;
  bool paranoiaFailed_ = false;
  cdrom_drive_t* drive_ = nullptr;
  cdrom_paranoia_t* paranoia_ = nullptr;
  int64_t nextSector_ = -1;
  std::vector<uint8_t> scratch_;
  ImagePacer pacer_;
  std::shared_ptr<DriveMemo> memo_;
  uint32_t cacheSectors_ = 0;
  long (*paranoiaRead_)(cdrom_drive_t*, void*, lsn_t, long) = nullptr;
  std::chrono::steady_clock::duration errorTime_{};
  std::optional<QIndexFindings> qFindings_;
  std::vector<std::string> layoutNotes_;  // what reading the disc's layout found
  std::set<int64_t> unreadFrom_;          // where paranoia's failed reads past a block began
};

std::unique_ptr<CdSession> MakeSession(CdioPtr cdio, bool realDrive,
                                       std::shared_ptr<DriveMemo> memo = nullptr) {
  if (!cdio) return nullptr;
  TocBuffer toc{};
  uint32_t leadOut = 0;
  if (!ReadCdioToc(cdio.get(), toc, leadOut)) return nullptr;
  return std::make_unique<CdioSession>(std::move(cdio), realDrive, toc, leadOut, std::move(memo));
}

bool HasNrgFooter(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  uint8_t footer[12] = {};
  const bool read = fstat(fd, &st) == 0 && st.st_size >= 12 &&
                    pread(fd, footer, sizeof footer, st.st_size - 12) == 12;
  close(fd);
  return read && (std::memcmp(footer + 4, "NERO", 4) == 0 || std::memcmp(footer, "NER5", 4) == 0);
}

class DriveDevice : public CdDevice {
 public:
  DriveDevice(std::string path, std::string description)
      : path_(std::move(path)), description_(std::move(description)) {}
  std::string Description() const override { return description_; }
  std::string DeviceName() const override { return path_; }
  std::unique_ptr<CdSession> Open() override {
    std::string ignored;
    return OpenExplained(ignored);
  }

  // A drive that is still becoming ready (spinning up, just closed) is waited for; one with
  // no disc, or its tray open, says so.
  std::unique_ptr<CdSession> OpenExplained(std::string& why) override {
    why.clear();
    const auto deadline = std::chrono::steady_clock::now() + kReadyWait;
    for (;;) {
      CdioPtr cdio;
      {
        std::lock_guard lock(gOpenMutex);
        cdio.reset(cdio_open(path_.c_str(), DRIVER_DEVICE));
      }
      if (!cdio) return nullptr;
      const DriveReply ready = TestUnitReady(cdio.get());
      if (ready.kind == DriveReply::kNoDisc) {
        why = "No disc in drive " + description_ + (ready.TrayOpen() ? " (its tray is open)" : "");
        return nullptr;
      }
      if (ready.kind == DriveReply::kNotReady && std::chrono::steady_clock::now() < deadline &&
          !(gCdWaitCancelled && gCdWaitCancelled())) {
        cdio.reset();
        std::this_thread::sleep_for(kReadyPoll);
        continue;
      }
      if (ready.kind == DriveReply::kNotReady) {
        why = "Drive " + description_ + " did not become ready";
        return nullptr;
      }
      return MakeSession(std::move(cdio), true, memo_);
    }
  }

  bool Eject() override {
    std::lock_guard lock(gOpenMutex);
    return cdio_eject_media_drive(path_.c_str()) == DRIVER_OP_SUCCESS;
  }

 private:
  std::string path_;
  std::string description_;
  std::shared_ptr<DriveMemo> memo_ = std::make_shared<DriveMemo>();
};

// What tells one version of a file from the next: a rewrite changes the times or the size, a
// replacement the inode.
struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  static FileStamp Of(const std::string& path) {
    FileStamp stamp;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return stamp;
    stamp = {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    return stamp;
  }
  bool operator==(const FileStamp& o) const {
    return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
  }
};

class ImageDevice : public CdDevice {
 public:
  explicit ImageDevice(std::string path) : path_(std::move(path)) {}
  std::string Description() const override { return "Disc image " + path_; }
  std::string DeviceName() const override { return path_; }
  bool IsImage() const override { return true; }

  std::unique_ptr<CdSession> Open() override {
    std::string ignored;
    return OpenExplained(ignored);
  }

  std::unique_ptr<CdSession> OpenExplained(std::string& why) override {
    why.clear();
    if (StillUnloaded()) return nullptr;  // an empty drive, nothing more to say
    auto session = OpenImage(why);
    if (!session && why.empty()) why = "its table of contents is not valid";
    if (!session) why = "Cannot open disc image " + path_ + ": " + why;
    return session;
  }

  bool Eject() override {
    std::lock_guard lock(unloadMutex_);
    unloaded_ = true;
    unloadedStamp_ = FileStamp::Of(path_);
    return true;
  }

 private:
  bool StillUnloaded() {
    std::lock_guard lock(unloadMutex_);
    if (unloaded_ && !(FileStamp::Of(path_) == unloadedStamp_)) unloaded_ = false;
    return unloaded_;
  }

  std::unique_ptr<CdSession> OpenImage(std::string& why) {
    // Refuse what is not a plain readable file before libcdio sees it: a folder, a FIFO
    // (which would block) or an empty file.
    if (const std::string problem = FileProblem(path_); !problem.empty()) {
      why = "it " + problem;
      return nullptr;
    }
    std::error_code error;
    const std::string folder = fs::absolute(path_, error).parent_path().string();
    if (error) {
      why = error.message();
      return nullptr;
    }
    const std::string extension = Lower(fs::path(path_).extension().string());
    std::lock_guard lock(gOpenMutex);
    if (extension == ".cue") return OpenCueSheet(path_, folder, why);
    if (extension == ".toc") return OpenCdrdaoToc(path_, folder, why);
    if (extension == ".nrg" || HasNrgFooter(path_)) {
      if (const std::string problem = NrgStructureProblem(path_); !problem.empty()) {
        why = "it is not a valid NRG image: " + problem;
        return nullptr;
      }
      CdioPtr cdio(cdio_open_nrg(path_.c_str()));
      if (!cdio) why = "libcdio cannot read the NRG image";
      return MakeSession(std::move(cdio), false);
    }
    // Any other name: what the file holds says which reader takes it. libcdio's own readers
    // are never handed a file unchecked (its TOC reader divides by a length it never set).
    switch (DescriptionKindOf(path_)) {
      case DescriptionKind::kCueSheet:
        return OpenCueSheet(path_, folder, why);
      case DescriptionKind::kCdrdaoToc:
        return OpenCdrdaoToc(path_, folder, why);
      case DescriptionKind::kNone:
        break;
    }
    // The data file of a sheet or TOC beside it, named instead of its description.
    for (const char* described : {".cue", ".toc"}) {
      const std::string beside = fs::path(path_).replace_extension(described).string();
      if (beside == path_ || !IsReadableFile(beside)) continue;
      return described == std::string(".cue") ? OpenCueSheet(beside, folder, why)
                                              : OpenCdrdaoToc(beside, folder, why);
    }
    why = "it is not a disc image that can be read (cue/bin, cdrdao toc or nrg)";
    return nullptr;
  }

  std::string path_;
  std::mutex unloadMutex_;
  bool unloaded_ = false;
  FileStamp unloadedStamp_;
};

// "vendor model revision" with the padding of the inquiry fields squeezed out.
std::string DriveDescription(const std::string& path) {
  std::string text;
  CdioPtr cdio(cdio_open(path.c_str(), DRIVER_DEVICE));
  cdio_hwinfo_t info{};
  if (cdio && cdio_get_hwinfo(cdio.get(), &info)) {
    std::istringstream words(std::string(info.psz_vendor) + " " + info.psz_model + " " +
                             info.psz_revision);
    for (std::string word; words >> word;) text += (text.empty() ? "" : " ") + word;
  }
  return text.empty() ? path : text;
}

}  // namespace

CdDeviceList DiscoverCdDevices(const std::vector<std::string>& imagePaths) {
  InstallLogHandler();
  CdDeviceList devices;
  std::vector<std::string> drivePaths;
  {
    std::lock_guard lock(gOpenMutex);
    char** names = cdio_get_devices(DRIVER_DEVICE);
    for (char** name = names; name && *name; ++name) drivePaths.emplace_back(*name);
    cdio_free_device_list(names);
  }
  std::set<std::string> seen;  // libcdio may list one drive under two names (/dev/cdrom, /dev/sr0)
  for (const auto& path : drivePaths) {
    if (devices.size() >= kMaxCdDevices) break;
    std::error_code error;
    const fs::path real = fs::canonical(path, error);
    if (!seen.insert(error ? path : real.string()).second) continue;
    devices.push_back(std::make_shared<DriveDevice>(path, DriveDescription(path)));
  }
  for (const auto& path : imagePaths) {
    if (devices.size() >= kMaxCdDevices) break;
    devices.push_back(std::make_shared<ImageDevice>(path));
  }
  return devices;
}

void SetCdWaitCancel(std::function<bool()> cancelled) {
  gCdWaitCancelled = std::move(cancelled);
}

void SetCdImages(const std::vector<std::string>& imagePaths) {
  SetCdDevices(DiscoverCdDevices(imagePaths));
}
