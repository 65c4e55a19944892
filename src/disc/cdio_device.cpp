// CdDevice and CdSession over libcdio: real optical drives and disc images.
//
// libcdio 2.1's image drivers have habits this file works around:
// - a read that runs past the end of the data file succeeds with the buffer partly filled,
//   so image reads are checked byte by byte (see CdioSession::ReadImage);
// - the cue driver reads from "<cue name>.bin" whatever FILE the sheet names, so a sheet
//   naming another file is opened through a private copy beside a link to that file;
// - the cdrdao driver resolves relative FILE names against the working directory, so the
//   TOC file is opened through a copy whose names are made absolute;
// - both read every track from the first data file, so images with several are refused;
// - the parsers are not reentrant (strtok), so opening is serialised.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <sstream>

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include "disc/cd_device.h"

namespace {

namespace fs = std::filesystem;

// Sheets and TOC files are a few kilobytes; anything far larger is not one.
constexpr off_t kMaxDescriptionBytes = 1 << 20;
// Re-reads libcdio-paranoia may spend on one sector before it gives up.
constexpr int kParanoiaRetries = 20;

std::mutex gOpenMutex;

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

bool IsReadableFile(const std::string& path, off_t* size = nullptr) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return false;
  if (access(path.c_str(), R_OK) != 0) return false;
  if (size) *size = st.st_size;
  return true;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
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

std::string TempFolder() {
  const char* dir = std::getenv("TMPDIR");
  return dir && *dir ? dir : "/tmp";
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  return std::fclose(file) == 0 && ok;
}

// A data-file reference inside a cue sheet or TOC file: where its name sits on the line.
struct FileReference {
  size_t nameBegin = 0;  // offset in the whole text
  size_t nameEnd = 0;
  std::string name;
};

// Finds the lines that start with one of `keywords` followed by a file name (quoted, or a
// bare word); these are what name the data files.
std::vector<FileReference> FindFileReferences(const std::string& text,
                                              const std::vector<std::string>& keywords) {
  std::vector<FileReference> found;
  size_t lineStart = 0;
  while (lineStart < text.size()) {
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    size_t p = lineStart;
    auto skipBlanks = [&] {
      while (p < lineEnd && (text[p] == ' ' || text[p] == '\t')) ++p;
    };
    skipBlanks();
    size_t wordStart = p;
    while (p < lineEnd && std::isalpha(static_cast<unsigned char>(text[p]))) ++p;
    const std::string word = Lower(text.substr(wordStart, p - wordStart));
    if (p > wordStart && p < lineEnd && (text[p] == ' ' || text[p] == '\t') &&
        std::find(keywords.begin(), keywords.end(), word) != keywords.end()) {
      skipBlanks();
      FileReference ref;
      if (p < lineEnd && text[p] == '"') {
        size_t close = text.find('"', p + 1);
        if (close != std::string::npos && close < lineEnd) {
          ref.nameBegin = p + 1;
          ref.nameEnd = close;
        }
      } else {
        ref.nameBegin = p;
        while (p < lineEnd && !std::isspace(static_cast<unsigned char>(text[p]))) ++p;
        ref.nameEnd = p;
      }
      if (ref.nameEnd > ref.nameBegin) {
        ref.name = text.substr(ref.nameBegin, ref.nameEnd - ref.nameBegin);
        found.push_back(ref);
      }
    }
    lineStart = lineEnd + 1;
  }
  return found;
}

std::string Resolve(const std::string& folder, const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  return (fs::path(folder) / name).lexically_normal().string();
}

// The single data file named by the references, resolved against `folder`; empty when there
// is none, several, or it is not a readable file.
std::string SingleDataFile(const std::vector<FileReference>& refs, const std::string& folder) {
  std::set<std::string> files;
  for (const auto& ref : refs) files.insert(Resolve(folder, ref.name));
  if (files.size() != 1) return {};
  const std::string file = *files.begin();
  return IsReadableFile(file) ? file : std::string();
}

CdioPtr OpenCue(const std::string& path, const std::string& folder) {
  std::string sheet;
  if (!ReadSmallFile(path, sheet)) return nullptr;
  const std::string data = SingleDataFile(FindFileReferences(sheet, {"file"}), folder);
  if (data.empty()) return nullptr;

  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".cue") == 0 &&
      SameFile(path.substr(0, path.size() - 3) + "bin", data)) {
    return CdioPtr(cdio_open_bincue(path.c_str()));
  }

  // Give libcdio the pair of names it insists on. It opens the data file while parsing, so
  // the copy and the link can go as soon as the image is open.
  std::string dir = TempFolder() + "/obrin-cue-XXXXXX";
  if (!mkdtemp(dir.data())) return nullptr;
  const std::string cue = dir + "/image.cue";
  const std::string bin = dir + "/image.bin";
  CdioPtr cdio;
  if (WriteWholeFile(cue, sheet) && symlink(data.c_str(), bin.c_str()) == 0) {
    cdio.reset(cdio_open_bincue(cue.c_str()));
  }
  unlink(bin.c_str());
  unlink(cue.c_str());
  rmdir(dir.c_str());
  return cdio;
}

// libcdio's cdrdao parser divides by a track's sector size, which only the mode word after
// TRACK sets: a TRACK line without one kills the process with SIGFPE as soon as a data file's
// length is worked out (found by fuzzing: "TRACK\nFILE \"a.bin\" 0\n" is enough). The
// parser reads through a 512-byte line buffer (a longer line becomes several), stops at a
// NUL, drops everything from "//" on and splits words at blanks, tabs and CRs. Texts that it
// would see differently from this line-by-line scan are refused with the mode-less TRACKs.
bool CdrdaoTracksNameTheirMode(const std::string& text) {
  if (text.find('\0') != std::string::npos) return false;
  size_t lineStart = 0;
  while (lineStart < text.size()) {
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    if (lineEnd - lineStart > 510) return false;
    std::string line = text.substr(lineStart, lineEnd - lineStart);
    line = line.substr(0, line.find("//"));
    std::istringstream words(line);
    std::string keyword, mode;
    if (words >> keyword && keyword == "TRACK" && !(words >> mode)) return false;
    lineStart = lineEnd + 1;
  }
  return true;
}

CdioPtr OpenCdrdaoToc(const std::string& path, const std::string& folder) {
  std::string text;
  if (!ReadSmallFile(path, text)) return nullptr;
  const auto refs = FindFileReferences(text, {"file", "audiofile", "datafile"});
  if (SingleDataFile(refs, folder).empty()) return nullptr;

  std::string rewritten;
  size_t copied = 0;
  for (const auto& ref : refs) {
    const std::string absolute = Resolve(folder, ref.name);
    if (absolute.find('"') != std::string::npos) return nullptr;
    // A bare name gets quotes, since an absolute path may hold blanks.
    const bool quoted = ref.nameBegin > 0 && text[ref.nameBegin - 1] == '"';
    rewritten += text.substr(copied, ref.nameBegin - copied);
    rewritten += quoted ? absolute : "\"" + absolute + "\"";
    copied = ref.nameEnd;
  }
  rewritten += text.substr(copied);
  if (!CdrdaoTracksNameTheirMode(rewritten)) return nullptr;

  std::string temp = TempFolder() + "/obrin-toc-XXXXXX.toc";
  int fd = mkstemps(temp.data(), 4);
  if (fd < 0) return nullptr;
  close(fd);
  CdioPtr cdio;
  if (WriteWholeFile(temp, rewritten)) cdio.reset(cdio_open_cdrdao(temp.c_str()));
  unlink(temp.c_str());
  return cdio;
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

void IgnoreParanoiaProgress(long /*position*/, paranoia_cb_mode_t /*mode*/) {}

class CdioSession : public CdSession {
 public:
  CdioSession(CdioPtr cdio, bool realDrive, const TocBuffer& toc, uint32_t leadOut)
      : cdio_(std::move(cdio)), realDrive_(realDrive), toc_(toc), leadOut_(leadOut) {}

  ~CdioSession() override {
    if (paranoia_) cdio_paranoia_free(paranoia_);
    if (drive_) cdio_cddap_close_no_free_cdio(drive_);
  }

  bool ReadToc(TocBuffer& toc) override {
    toc = toc_;
    return true;
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
    if (cdio_read_audio_sectors(cdio_.get(), TrackBufferData(&buffer), buffer.startSector,
                                buffer.sectorCount) != DRIVER_OP_SUCCESS) {
      libError = kCdErrRead;
      return false;
    }
    return true;
  }

  // Jitter- and scratch-corrected reads; when libcdio-paranoia cannot take the drive, plain
  // reads stand in.
  bool ReadParanoia(TrackBuffer& buffer, uint32_t& libError) {
    if (!paranoia_ && !paranoiaFailed_) StartParanoia();
    if (!paranoia_) return ReadPlain(buffer, libError);
    if (nextSector_ != static_cast<int64_t>(buffer.startSector)) {
      cdio_paranoia_seek(paranoia_, static_cast<int32_t>(buffer.startSector), SEEK_SET);
    }
    uint8_t* out = TrackBufferData(&buffer);
    for (uint32_t i = 0; i < buffer.sectorCount; ++i, out += kSectorBytes) {
      int16_t* samples =
          cdio_paranoia_read_limited(paranoia_, IgnoreParanoiaProgress, kParanoiaRetries);
      if (!samples) {
        nextSector_ = -1;
        libError = kCdErrRead;
        return false;
      }
      // Paranoia hands out samples in host order; the buffer holds them little-endian.
      for (size_t s = 0; s < kSectorBytes / 2; ++s) {
        const auto sample = static_cast<uint16_t>(samples[s]);
        out[2 * s] = static_cast<uint8_t>(sample);
        out[2 * s + 1] = static_cast<uint8_t>(sample >> 8);
      }
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
    cdio_paranoia_modeset(paranoia_, PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
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
};

std::unique_ptr<CdSession> MakeSession(CdioPtr cdio, bool realDrive) {
  if (!cdio) return nullptr;
  TocBuffer toc{};
  uint32_t leadOut = 0;
  if (!ReadCdioToc(cdio.get(), toc, leadOut)) return nullptr;
  return std::make_unique<CdioSession>(std::move(cdio), realDrive, toc, leadOut);
}

class DriveDevice : public CdDevice {
 public:
  DriveDevice(std::string path, std::string description)
      : path_(std::move(path)), description_(std::move(description)) {}
  std::string Description() const override { return description_; }
  std::string DeviceName() const override { return path_; }
  std::unique_ptr<CdSession> Open() override {
    CdioPtr cdio;
    {
      std::lock_guard lock(gOpenMutex);
      cdio.reset(cdio_open(path_.c_str(), DRIVER_DEVICE));
    }
    return MakeSession(std::move(cdio), true);
  }

 private:
  std::string path_;
  std::string description_;
};

class ImageDevice : public CdDevice {
 public:
  explicit ImageDevice(std::string path) : path_(std::move(path)) {}
  std::string Description() const override { return "Disc image " + path_; }
  std::string DeviceName() const override { return path_; }
  bool IsImage() const override { return true; }

  std::unique_ptr<CdSession> Open() override {
    // Refuse what is not a plain readable file before libcdio sees it: a folder, a FIFO
    // (which would block) or an empty file.
    if (!IsReadableFile(path_)) return nullptr;
    std::error_code error;
    const std::string folder = fs::absolute(path_, error).parent_path().string();
    if (error) return nullptr;
    const std::string extension = Lower(fs::path(path_).extension().string());
    CdioPtr cdio;
    {
      std::lock_guard lock(gOpenMutex);
      if (extension == ".cue") {
        cdio = OpenCue(path_, folder);
      } else if (extension == ".toc") {
        cdio = OpenCdrdaoToc(path_, folder);
      } else if (extension == ".nrg") {
        cdio.reset(cdio_open_nrg(path_.c_str()));
      } else {
        cdio.reset(cdio_open(path_.c_str(), DRIVER_UNKNOWN));
      }
    }
    return MakeSession(std::move(cdio), false);
  }

 private:
  std::string path_;
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

void SetCdImages(const std::vector<std::string>& imagePaths) {
  SetCdDevices(DiscoverCdDevices(imagePaths));
}
