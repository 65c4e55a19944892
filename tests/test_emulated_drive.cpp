// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// The emulated drive (tools/emudrive): obrin-rip, libcdio and libcdio-paranoia against the
// /dev/sr0 that libemudrive.so makes of a description and a disc image made by mkdisc.
// Faults guarded:
// - the drive not listed by its INQUIRY vendor, model and revision; its track list, disc ids or
//   WAV rip not the same as the image's
// - the read offset delivered with the wrong sign, or not taken back by --offset
// - an unreadable sector not ending its track "ERROR"; no disc, an open tray or a TOC that goes
//   backwards not refused with exit status 2; a bad description not named on stderr
// - MCN, ISRC, CD-Text, INQUIRY not as libcdio wants them; reads past the lead-in or lead-out
//   not refused 05/21/00; unreadable sectors not failing with their sense; a drive becoming
//   ready, an empty drive, an open tray, a media change, an eject not as a drive reports them
// - the malformed switches not malforming
// - SG_IO, read() of a data track, the kernel's permissions and transfer limit not served
// - the cache not returning the bytes it returned before, the read-ahead not filling it; C2
//   pointers not on exactly the damaged bytes (honest), set (missing) or accepted (none); reads
//   not costing the speed's time and a seek's
// - Q sub-channel: the wrong track, index or relative time in a pregap or at index 2, MCN and
//   ISRC frames missing, a CRC that does not check
#include <fcntl.h>
#include <link.h>
#include <linux/cdrom.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <cdio/cdio.h>
#include <cdio/cdtext.h>
#include <cdio/logging.h>
#include <cdio/mmc.h>
#include <gtest/gtest.h>

#include "config/settings.h"
#include "disc/cd_device.h"
#include "support/accuraterip_db.h"
#include "support/decode.h"
#include "support/http_server.h"
#include "support/process.h"
#include "support/test_env.h"

namespace {

constexpr size_t kSector = 2352;
// The test disc: three audio tracks and a data track, as mkdisc writes it.
constexpr int kStarts[] = {0, 1500, 2400, 3000};
constexpr int kLeadout = 3450;

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) hex += {digits[c >> 4], digits[c & 15]};
  return hex;
}

std::string Unhex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

std::string Fnv(const void* data, size_t size) {
  uint64_t h = 1469598103934665603ULL;
  for (size_t i = 0; i < size; ++i) {
    h = (h ^ static_cast<const uint8_t*>(data)[i]) * 1099511628211ULL;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

std::vector<std::string> Split(const std::string& text, char by) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, by);) parts.push_back(part);
  return parts;
}

// CRC of a CD-Text pack or a Q frame: CCITT polynomial, stored inverted.
uint16_t Crc16(const uint8_t* p, int n) {
  uint16_t crc = 0;
  for (int i = 0; i < n; ++i) {
    crc ^= static_cast<uint16_t>(p[i] << 8);
    for (int b = 0; b < 8; ++b) {
      crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
  }
  return static_cast<uint16_t>(~crc);
}

// Raw CD-Text of one block: titles (0x80) and performers (0x81) of the disc (item 0) and its
// tracks, then the three size packs (0x8F) libcdio insists on.
std::string CdTextPacks(const std::vector<std::string>& titles,
                        const std::vector<std::string>& performers) {
  std::string packs;
  int sequence = 0, counts[16] = {};
  const auto add = [&](uint8_t type, uint8_t track, uint8_t position, const char* text) {
    uint8_t p[18] = {type, track, static_cast<uint8_t>(sequence++), position};
    std::memcpy(p + 4, text, 12);
    const uint16_t crc = Crc16(p, 16);
    p[16] = static_cast<uint8_t>(crc >> 8);
    p[17] = static_cast<uint8_t>(crc);
    packs.append(reinterpret_cast<const char*>(p), 18);
    ++counts[type & 15];
  };
  for (const auto* list : {&titles, &performers}) {
    std::string stream;
    std::vector<std::pair<size_t, int>> starts;  // where each item's text begins
    for (size_t i = 0; i < list->size(); ++i) {
      starts.emplace_back(stream.size(), static_cast<int>(i));
      stream += (*list)[i] + '\0';
    }
    stream.resize((stream.size() + 11) / 12 * 12, '\0');
    for (size_t at = 0; at < stream.size(); at += 12) {
      size_t item = 0;
      while (item + 1 < starts.size() && starts[item + 1].first <= at) ++item;
      const size_t position = std::min<size_t>(at - starts[item].first, 15);
      add(list == &titles ? 0x80 : 0x81, static_cast<uint8_t>(item), static_cast<uint8_t>(position),
          stream.data() + at);
    }
  }
  counts[15] = 3;
  uint8_t size[36] = {0x00, 1, static_cast<uint8_t>(titles.size() - 1)};
  for (int i = 0; i < 16; ++i) size[4 + i] = static_cast<uint8_t>(counts[i]);
  size[20] = static_cast<uint8_t>(sequence + 2);  // the last sequence number, size packs included
  size[28] = 0x09;                                // English
  for (int i = 0; i < 3; ++i) {
    add(0x8F, static_cast<uint8_t>(i), 0, reinterpret_cast<char*>(size) + 12 * i);
  }
  return packs;
}

// --- The probe: this program again, started under the emulated drive ---
//
// With EMUDRIVE_PROBE set, the program runs those steps against /dev/sr0 through libcdio and
// the cdrom ioctls, one line of output each, and exits before any test starts:
//   hw                   INQUIRY through cdio_get_hwinfo: vendor|model|revision
//   cdtext               the disc's title and performer and track 1's title, or "none"
//   read:LBA:N           cdio_read_audio_sectors: "ok HASH" or "fail KK/AA/QQ"
//   cmd:CDB:LEN          an MMC command (hex CDB) reading LEN bytes: "ok HEX" or "fail ..."
//   sgio:CDB:LEN         the same through SG_IO: "ok HEX" or "check KK/AA/QQ"
//   data:OFFSET:N        read() of N bytes at OFFSET of the device: "ok HASH" or an errno
//   status | changed     CDROM_DRIVE_STATUS, CDROM_MEDIA_CHANGED
//   obrin-eject          Obrin's own eject of the drive it finds at /dev/sr0

std::string LastSense(CdIo_t* cdio) {
  cdio_mmc_request_sense_t* sense = nullptr;
  const int length = mmc_last_cmd_sense(cdio, &sense);
  char text[16] = "none";
  if (length >= 14 && sense) {
    const auto* s = reinterpret_cast<const uint8_t*>(sense);
    std::snprintf(text, sizeof text, "%02X/%02X/%02X", s[2] & 15, s[12], s[13]);
  }
  std::free(sense);
  return std::string("fail ") + text;
}

std::string Trim(const char* text) {
  std::string s(text);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string ProbeStep(CdIo_t* cdio, const std::string& step) {
  const std::vector<std::string> f = Split(step, ':');
  if (f[0] == "hw") {
    cdio_hwinfo_t hw{};
    if (!cdio_get_hwinfo(cdio, &hw)) return "fail";
    return Trim(hw.psz_vendor) + "|" + Trim(hw.psz_model) + "|" + Trim(hw.psz_revision);
  }
  if (f[0] == "cdtext") {
    cdtext_t* text = cdio_get_cdtext(cdio);
    if (!text) return "none";
    const auto get = [&](cdtext_field_t field, track_t track) {
      const char* value = cdtext_get_const(text, field, track);
      return std::string(value ? value : "");
    };
    return get(CDTEXT_FIELD_TITLE, 0) + "/" + get(CDTEXT_FIELD_PERFORMER, 0) + "/" +
           get(CDTEXT_FIELD_TITLE, 1);
  }
  if (f[0] == "read") {
    const int count = std::stoi(f[2]);
    std::string data(count * kSector, '\0');
    if (cdio_read_audio_sectors(cdio, data.data(), std::stoi(f[1]), static_cast<uint32_t>(count)) !=
        DRIVER_OP_SUCCESS) {
      return LastSense(cdio);
    }
    return "ok " + Fnv(data.data(), data.size());
  }
  if (f[0] == "cmd") {
    const std::string cdbBytes = Unhex(f[1]);
    mmc_cdb_t cdb{};
    std::memcpy(cdb.field, cdbBytes.data(), std::min(cdbBytes.size(), sizeof cdb.field));
    std::string data(std::stoul(f[2]), '\0');
    if (mmc_run_cmd(cdio, 10000, &cdb, SCSI_MMC_DATA_READ, static_cast<unsigned>(data.size()),
                    data.data()) != DRIVER_OP_SUCCESS) {
      return LastSense(cdio);
    }
    return "ok " + Hex(data);
  }
  const int fd = open("/dev/sr0", O_RDONLY | O_NONBLOCK);
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  if (f[0] == "sgio") {
    std::string cdb = Unhex(f[1]), data(std::stoul(f[2]), '\0');
    uint8_t sense[32] = {};
    sg_io_hdr_t h{};
    h.interface_id = 'S';
    h.dxfer_direction = SG_DXFER_FROM_DEV;
    h.cmd_len = static_cast<unsigned char>(cdb.size());
    h.cmdp = reinterpret_cast<unsigned char*>(cdb.data());
    h.dxfer_len = static_cast<unsigned>(data.size());
    h.dxferp = data.data();
    h.mx_sb_len = sizeof sense;
    h.sbp = sense;
    if (ioctl(fd, SG_IO, &h) != 0) return std::strerror(errno);
    char text[32];
    std::snprintf(text, sizeof text, "check %02X/%02X/%02X", sense[2] & 15, sense[12], sense[13]);
    return h.status == 0 ? "ok " + Hex(data) : text;
  }
  if (f[0] == "data") {
    std::string data(std::stoul(f[2]), '\0');
    lseek(fd, std::stol(f[1]), SEEK_SET);
    const ssize_t got = read(fd, data.data(), data.size());
    if (got < 0) return std::strerror(errno);
    return "ok " + Fnv(data.data(), static_cast<size_t>(got));
  }
  if (f[0] == "status" || f[0] == "changed") {
    const int result =
        ioctl(fd, f[0] == "status" ? CDROM_DRIVE_STATUS : CDROM_MEDIA_CHANGED, CDSL_CURRENT);
    return std::to_string(result);
  }
  if (f[0] == "obrin-eject") {  // as the window's Eject does it, through Obrin's devices
    SetCdDevices(DiscoverCdDevices({}));
    const auto device = FindCdDevice("/dev/sr0");
    return device && device->Eject() ? "ok" : "fail";
  }
  return "unknown step " + step;
}

bool RunProbeIfAsked() {
  const char* steps = std::getenv("EMUDRIVE_PROBE");
  if (!steps) return false;
  cdio_log_set_handler([](cdio_log_level_t, const char* message) {
    std::fprintf(stderr, "libcdio: %s\n", message);
  });
  CdIo_t* cdio = cdio_open("/dev/sr0", DRIVER_DEVICE);
  if (!cdio) {
    std::printf("no drive\n");
    std::exit(0);
  }
  for (const std::string& step : Split(steps, ' ')) {
    std::printf("%s\n", ProbeStep(cdio, step).c_str());
  }
  cdio_destroy(cdio);
  std::fflush(stdout);
  std::exit(0);
}

[[maybe_unused]] const bool kProbed = RunProbeIfAsked();

// --- The tests' side ---

std::string SelfPath() {
  return std::filesystem::read_symlink("/proc/self/exe").string();
}

class EmulatedDrive : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDisc(
        {dir_ / "disc.cue", "--lengths", "1500,900,600,450", "--data-track", "4", "--seed", "3"});
    image_ = ReadFile(dir_ / "disc.bin");
    ASSERT_EQ(image_.size(), kLeadout * kSector);
  }

  // Writes the description (the disc, then `extra`) and gives the environment a child needs.
  std::vector<std::string> Describe(const std::vector<std::string>& extra, bool dataTrack = true) {
    std::string text = "image " + dir_ / "disc.bin" + "\n";
    // An extra "track N ..." line stands in for that track's own, in its place.
    std::vector<bool> used(extra.size(), false);
    for (int i = 0; i < (dataTrack ? 4 : 3); ++i) {
      const std::string own = "track " + std::to_string(i + 1) + " ";
      std::string line = own + std::to_string(kStarts[i]) + (i == 3 ? " data" : "");
      for (size_t e = 0; e < extra.size(); ++e) {
        if (extra[e].rfind(own, 0) == 0) line = extra[e], used[e] = true;
      }
      text += line + "\n";
    }
    for (size_t e = 0; e < extra.size(); ++e) {
      if (!used[e]) text += extra[e] + "\n";
    }
    WriteFile(dir_ / "drive.txt", text);
    std::filesystem::remove(log_);
    return {"LD_PRELOAD=" + EmulatedDrivePreload(), "OBRIN_EMUDRIVE=" + dir_ / "drive.txt",
            "OBRIN_EMUDRIVE_LOG=" + log_};
  }

  CommandResult ObrinRip(const std::vector<std::string>& args,
                         const std::vector<std::string>& env) {
    std::vector<std::string> argv{"obrin-rip"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, env);
  }

  // A WAV rip with its log and cue sheet into FOLDER/A, the files named by track number.
  CommandResult RipTo(const std::string& folder, std::vector<std::string> args,
                      const std::vector<std::string>& env) {
    args.insert(args.end(), {"--format", "wav", "--log", "--album", "A", "--template", "$n",
                             "--output", dir_ / folder});
    return ObrinRip(args, env);
  }

  std::vector<std::string> Probe(const std::string& steps, const std::vector<std::string>& extra) {
    std::vector<std::string> env = Describe(extra);
    env.push_back("EMUDRIVE_PROBE=" + steps);
    const CommandResult r = RunCommand({SelfPath()}, env);
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    return Split(r.out, '\n');
  }

  // The log's lines of one kind and name ("mmc READ_CD"), split into their fields.
  std::vector<std::vector<std::string>> LogLines(const std::string& prefix) {
    std::vector<std::vector<std::string>> lines;
    for (const std::string& line : Split(ReadFile(log_), '\n')) {
      if (line.rfind(prefix + " ", 0) == 0) lines.push_back(Split(line, ' '));
    }
    return lines;
  }

  // The image's audio of `count` sectors from `lba`.
  std::string Audio(size_t lba, size_t count) const {
    return image_.substr(lba * kSector, count * kSector);
  }

  ScopedConfigHome config_;  // children inherit it
  TempDir dir_;
  const std::string log_ = dir_ / "drive.log";
  std::string image_;
};

// Equal bytes, or where they first differ: a failure never prints megabytes of audio.
::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
  return ::testing::AssertionFailure() << got.size() << " bytes, " << want.size()
                                       << " wanted; the first difference at byte " << at;
}

std::string WavData(const std::string& path) {
  const std::string wav = ReadFile(path);
  return wav.size() >= 44 ? wav.substr(44) : "";
}

// The file called `name` somewhere under `folder` (the album folder is named by the rip).
std::string FindFile(const std::string& folder, const std::string& name) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.path().filename() == name) return entry.path().string();
  }
  ADD_FAILURE() << "no " << name << " under " << folder;
  return folder + "/" + name;
}

TEST_F(EmulatedDrive, ObrinRipReadsItAsTheImage) {
  const auto env = Describe({"vendor PLEXTOR", "model DVDR   PX-716A", "revision 1.11"});
  const CommandResult drives = ObrinRip({"--drives"}, env);
  EXPECT_EQ(drives.out, "0\tPLEXTOR DVDR PX-716A 1.11\n") << drives.err;
  for (const char* action : {"--list", "--disc-info"}) {
    SCOPED_TRACE(action);
    const CommandResult drive = ObrinRip({action}, env);
    const CommandResult image = ObrinRip({action, "--image", dir_ / "disc.cue"}, {});
    EXPECT_EQ(drive.exitStatus, 0) << drive.err;
    EXPECT_EQ(drive.out, image.out);
  }
  ASSERT_EQ(ObrinRip({"--format", "wav", "--output", dir_ / "drive"}, env).exitStatus, 0);
  ASSERT_EQ(
      ObrinRip({"--format", "wav", "--output", dir_ / "image", "--image", dir_ / "disc.cue"}, {})
          .exitStatus,
      0);
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_ / "image")) {
    if (!entry.is_regular_file()) continue;
    const auto relative = std::filesystem::relative(entry.path(), dir_ / "image");
    EXPECT_TRUE(SameBytes(ReadFile((std::filesystem::path(dir_ / "drive") / relative).string()),
                          ReadFile(entry.path().string())))
        << relative;
    ++files;
  }
  EXPECT_EQ(files, 3);
  // Audio comes by READ CD alone, from the audio tracks only.
  const auto reads = LogLines("mmc READ_CD");
  EXPECT_GT(reads.size(), 3000u / 25);
  for (const auto& read : reads) {
    ASSERT_EQ(read.size(), 7u);
    EXPECT_EQ(read[4], "ok");
    EXPECT_GE(std::stoi(read[2]), 0);
    EXPECT_LE(std::stoi(read[2]) + std::stoi(read[3]), kStarts[3]);
  }
}

// A drive whose correction is +48 delivers every sector 48 samples early: the last audio
// track's last 48 samples lie in the data track, where the rip has silence. (Taken back
// elsewhere on a disc without a data track: TheOffsetFoundIsKeptForTheDriveModel.)
TEST_F(EmulatedDrive, ReadOffsetStopsAtTheDataTrack) {
  const auto env = Describe({"offset-correction +48"});
  ASSERT_EQ(RipTo("c", {"--tracks", "3", "--offset", "48"}, env).exitStatus, 0);
  EXPECT_TRUE(SameBytes(WavData(FindFile(dir_ / "c", "03.wav")),
                        Audio(2400, 600).substr(0, 600 * kSector - 192) + std::string(192, '\0')));
}

TEST_F(EmulatedDrive, FaultsAndEmptyDrivesAsObrinRipReportsThem) {
  // A track with unreadable sectors ends "ERROR"; the others rip, track 1 too, although
  // libcdio-paranoia's 1200-sector reads for its last block run into the unreadable ones.
  auto env = Describe({"unreadable 1900-1903"});
  const CommandResult rip =
      ObrinRip({"--format", "wav", "--output", dir_ / "out", "--template", "$n"}, env);
  EXPECT_EQ(rip.exitStatus, 1);
  const std::vector<std::string> rows = Split(rip.out, '\n');
  ASSERT_EQ(rows.size(), 3u) << rip.out;
  EXPECT_EQ(Split(rows[0], '\t')[1], "Completed");
  EXPECT_EQ(Split(rows[1], '\t')[1], "ERROR");
  EXPECT_EQ(Split(rows[2], '\t')[1], "Completed");
  bool refused = false;
  for (const auto& read : LogLines("mmc READ_CD")) refused |= read[4] == "03/11/00";
  EXPECT_TRUE(refused);

  // An empty drive is listed but holds no disc; so does one whose TOC cannot be right.
  const std::pair<const char*, const char*> empty[] = {
      {"disc absent", "No disc in drive EMUDRIVE Virtual CD-ROM 1.00"},
      {"disc tray-open", "No disc in drive EMUDRIVE Virtual CD-ROM 1.00 (its tray is open)"},
      {"malformed toc-backwards", "no disc in drive 0 (EMUDRIVE Virtual CD-ROM 1.00)"}};
  for (const auto& [state, message] : empty) {
    SCOPED_TRACE(state);
    env = Describe({state});
    EXPECT_EQ(ObrinRip({"--drives"}, env).out, "0\tEMUDRIVE Virtual CD-ROM 1.00\n");
    const CommandResult list = ObrinRip({"--list"}, env);
    EXPECT_EQ(list.exitStatus, 2);
    EXPECT_EQ(list.err, "obrin-rip: " + std::string(message) + "\n");
  }

  // A description that does not parse says where, and there is no drive.
  env = Describe({"speed fast"});
  const CommandResult bad = ObrinRip({"--drives"}, env);
  EXPECT_EQ(bad.out, "");
  EXPECT_NE(bad.err.find("emudrive: " + dir_ / "drive.txt" + ":6: 'fast' is not a speed"),
            std::string::npos)
      << bad.err;
}

// READ CD of one sector at `lba`: byte 9 (what of the sector, C2), byte 10 (sub-channel).
std::string ReadCd(int lba, int byte9, int byte10, size_t length) {
  char cdb[64];
  std::snprintf(cdb, sizeof cdb, "cmd:be04%08x000001%02x%02x00:%zu", static_cast<unsigned>(lba),
                byte9, byte10, length);
  return cdb;
}

TEST_F(EmulatedDrive, ServesLibcdioAsADriveWould) {
  const std::string zeros = Fnv(std::string(kSector, '\0').data(), kSector);
  const std::string first = Fnv(image_.data(), kSector);
  const std::string last = Fnv(image_.data() + (kLeadout - 1) * kSector, kSector);
  WriteFile(dir_ / "text.cdt",
            CdTextPacks({"Album", "One", "Two", "Three"}, {"Band", "Band", "Band", "Band"}));
  const std::string cdtext = "cdtext " + dir_ / "text.cdt";
  const std::string user =
      image_.substr(3000 * kSector + 16, 2048) + image_.substr(3001 * kSector + 16, 2048);
  const struct {
    std::vector<std::string> description;
    std::string steps;
    std::vector<std::string> expected;
  } cases[] = {
      // (What a well-formed INQUIRY, MCN, ISRC and CD-Text give Obrin: the rips below.)
      {{"malformed short-inquiry", "malformed cdtext-no-size", cdtext},
       "hw cdtext",
       {"||", "none"}},
      // The lead-in and lead-out (after an audio track 4): refused past what the drive reaches;
      // audio reads of a data track refused as such. (The lead-in by READ CD itself: libcdio
      // asks for the whole disc when given a negative sector.)
      {{},
       ReadCd(-1, 0xF8, 0, kSector) + " read:0:1 read:3000:1",
       {"fail 05/21/00", "ok " + first, "fail 05/64/00"}},
      {{"track 4 3000"}, "read:3449:1 read:3450:1", {"ok " + last, "fail 05/21/00"}},
      {{"track 4 3000", "overread-leadin 2", "overread-leadout 1"},
       ReadCd(-2, 0xF8, 0, kSector) + " " + ReadCd(-3, 0xF8, 0, kSector) + " read:3450:1",
       {"ok " + Hex(std::string(kSector, '\0')), "fail 05/21/00", "ok " + zeros}},
      {{"unreadable 100-101 03/11/05", "unreadable 200"},
       "read:98:2 read:99:2 read:199:1 read:199:2",
       {"ok " + Fnv(image_.data() + 98 * kSector, 2 * kSector), "fail 03/11/05",
        "ok " + Fnv(image_.data() + 199 * kSector, kSector), "fail 03/11/00"}},
      // Spin-up, an empty drive, an open tray, a disc just inserted, an eject.
      {{"becoming-ready 2"},
       "status tur tur tur status",
       {"3", "fail 02/04/01", "fail 02/04/01", "ok ", "4"}},
      {{"disc absent"}, "status tur", {"1", "fail 02/3A/00"}},
      {{"disc tray-open"}, "status tur", {"2", "fail 02/3A/02"}},
      {{"media-changed"}, "changed changed tur tur", {"1", "0", "fail 06/28/00", "ok "}},
      {{}, "obrin-eject status tur", {"ok", "2", "fail 02/3A/02"}},
      // SG_IO, read() of a data track, what the kernel lets through.
      {{},
       "sgio:12000000240000:36 sgio" + ReadCd(-1, 0xF8, 0, kSector).substr(3),
       {"ok " + Hex(std::string("\x05\x80\x00\x02\x1f\0\0\0EMUDRIVEVirtual CD-ROM  1.00", 36)),
        "check 05/21/00"}},
      {{},
       "data:6144000:4096 data:0:2048",
       {"ok " + Fnv(user.data(), user.size()), std::strerror(EIO)}},
      {{"permissions denied"}, "hw", {"no drive"}},
      {{}, "cmd:bb00ffffffff000000000000:0", {"fail none"}},
      {{"permissions root"}, "cmd:bb00ffffffff000000000000:0", {"ok "}},
      {{"max-transfer 4704"},
       "read:0:2 read:0:3",
       {"ok " + Fnv(image_.data(), 2 * kSector), "fail none"}},
  };
  for (const auto& c : cases) {
    std::string steps = c.steps;
    for (size_t at; (at = steps.find("tur")) != std::string::npos;) {
      steps.replace(at, 3, "cmd:000000000000:0");
    }
    SCOPED_TRACE(steps);
    EXPECT_EQ(Probe(steps, c.description), c.expected);
  }
}

TEST_F(EmulatedDrive, CacheC2TimingAndQSubChannel) {
  // A flaky sector read, read again (from the cache), pushed out of it by as many sectors as the
  // cache holds, read from the surface.
  const std::string c2 = ReadCd(10, 0xFA, 0, kSector + 294);
  const std::string steps = c2 + " " + c2 + " read:20:100 " + c2;
  const std::string sector = image_.substr(10 * kSector, kSector);
  for (const char* mode : {"honest", "missing"}) {
    SCOPED_TRACE(mode);
    const auto out = Probe(steps, {"flaky 10 0.01", "cache 100", std::string("c2 ") + mode});
    ASSERT_EQ(out.size(), 4u);
    for (int i : {0, 3}) ASSERT_EQ(out[i].substr(0, 3), "ok ") << out[i];
    const std::string firstRead = Unhex(out[0].substr(3)), lastRead = Unhex(out[3].substr(3));
    EXPECT_EQ(out[1], out[0]);  // the cache gives back the damage it delivered
    EXPECT_NE(lastRead.substr(0, kSector), firstRead.substr(0, kSector));
    int damaged = 0;
    for (size_t i = 0; i < kSector; ++i) {
      const bool differs = firstRead[i] != sector[i];
      const bool flagged = (static_cast<uint8_t>(firstRead[kSector + i / 8]) >> (7 - i % 8)) & 1;
      damaged += differs;
      EXPECT_EQ(flagged, differs && std::string(mode) == "honest") << i;
    }
    EXPECT_GT(damaged, 0);
    const auto reads = LogLines("mmc READ_CD");
    ASSERT_EQ(reads.size(), 4u);
    EXPECT_EQ(reads[1][5], "cached=1");
    EXPECT_EQ(reads[3][5], "cached=0");
  }
  // Without C2 support the drive refuses the request, and page 2A says so.
  const auto none = Probe(c2 + " cmd:5a002a00000000002000:32", {"c2 none"});
  EXPECT_EQ(none[0], "fail 05/24/00");
  EXPECT_EQ(Unhex(none[1].substr(3))[8 + 5] & 0x10, 0);
  EXPECT_EQ(Unhex(Probe("cmd:5a002a00000000002000:32", {})[0].substr(3))[8 + 5] & 0x10, 0x10);
  // Read-ahead fills the cache with the 8 sectors past what was asked.
  Probe("read:20:5 read:25:10", {"cache 100", "readahead 8"});
  const auto ahead = LogLines("mmc READ_CD");
  ASSERT_EQ(ahead.size(), 2u);
  EXPECT_EQ(ahead[0][5], "cached=0");
  EXPECT_EQ(ahead[1][5], "cached=8");

  // Time: at 75x a sector costs 1/5625 s; a read that does not start where the last one ended
  // costs a 12 ms seek more.
  Probe("read:0:25 read:25:25 read:1000:1", {"speed 75", "seek-ms 12"});
  const auto timed = LogLines("mmc READ_CD");
  ASSERT_EQ(timed.size(), 3u);
  EXPECT_EQ(timed[0][6], "ms=4");
  EXPECT_EQ(timed[1][6], "ms=4");
  EXPECT_EQ(timed[2][6], "ms=12");

  // Q: track 2's pregap (index 0 from 1350), its index 2 at 1800, ISRC and MCN frames.
  const auto q =
      Probe(ReadCd(1400, 0xF8, 2, kSector + 16) + " " + ReadCd(1800, 0xF8, 2, kSector + 16) + " " +
                ReadCd(1850, 0xF8, 2, kSector + 16) + " " + ReadCd(1899, 0xF8, 2, kSector + 16),
            {"index 2 0 1350", "index 2 2 1800", "isrc 2 GBAYE9900001", "mcn 0724384960528"});
  ASSERT_EQ(q.size(), 4u);
  std::vector<std::string> frames;
  for (const auto& line : q) {
    ASSERT_EQ(line.substr(0, 3), "ok ") << line;
    const std::string frame = Unhex(line.substr(3)).substr(kSector, 12);
    const auto* bytes = reinterpret_cast<const uint8_t*>(frame.data());
    EXPECT_EQ(Crc16(bytes, 10), bytes[10] << 8 | bytes[11]);
    frames.push_back(Hex(frame.substr(0, 10)));
  }
  // ADR 1: track 02, index 00, 00:01:25 left of the pregap, at 00:20:50 (1400 + 150 sectors).
  EXPECT_EQ(frames[0], "01020000012500002050");
  EXPECT_EQ(frames[1], "01020200040000002600");  // index 02, 00:04:00 into the track
  // The ISRC: five characters of 6 bits (digits 0-9, letters from 0x11), then 7 BCD digits.
  EXPECT_EQ(frames[2].substr(0, 18), "035d24695499000010");
  EXPECT_EQ(frames[3].substr(0, 16), "0207243849605280");  // the MCN in BCD
}

}  // namespace

// --- Reading a drive honestly ---

// A disc whose last audio track ends at the lead-out (no data track), for the drive's edges.
class DriveReading : public EmulatedDrive {
 protected:
  // The AccurateRip database: a server here that knows no disc, so every track is read again.
  void SetUp() override {
    EmulatedDrive::SetUp();
    std::filesystem::create_directories(std::filesystem::path(config_.iniPath()).parent_path());
    std::string ini = FreshSettingsFile(dir_ / "out/");
    for (const char* server : {kDefaultAccurateRipServer, kCtdbDefaultServer}) {
      const size_t at = ini.find(server);
      ASSERT_NE(at, std::string::npos) << server;
      ini.replace(at, std::strlen(server), database_.Url());
    }
    WriteFile(config_.iniPath(), ini);
  }
  HttpTestServer database_{[](const std::string&) { return HttpTestReply{404, ""}; }};
  std::vector<std::string> Plain(const std::vector<std::string>& extra) {
    std::vector<std::string> lines = {"leadout 3000"};
    lines.insert(lines.end(), extra.begin(), extra.end());
    return Describe(lines, false);
  }
  std::string Log(const std::string& folder) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
      if (entry.path().extension() == ".log") return ReadFile(entry.path().string());
    }
    return {};
  }
};

// A drive whose cache holds a whole short track answers a second read from it, damage and
// all: a secure read must get past it. Track 3 (600 sectors) has four sectors that read
// differently each time from the disc; the cache holds 2000 sectors.
TEST_F(DriveReading, ACacheLargerThanTheTrackCannotPassDamageAsProven) {
  const std::string good = Audio(2400, 600);
  const struct {
    const char* c2;
    double damage;
    const char* status;  // empty: either, as long as "Completed" is the disc's audio
  } rows[] = {
      {"honest", 0.01, "ERROR"},        // flags that stay set: suspicious positions
      {"honest", 0.0005, "Completed"},  // flags that re-reads from the disc clear
      {"missing", 0.01, ""},            // the drive lies: only re-reads from the disc tell
      {"none", 0.01, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.c2) + " " + std::to_string(row.damage));
    const auto env = Plain({"cache 2000", "readahead 64", std::string("c2 ") + row.c2,
                            "flaky 2500-2503 " + std::to_string(row.damage)});
    std::filesystem::remove_all(dir_ / "out");
    const CommandResult r = RipTo("out", {"--tracks", "3", "--secure"}, env);
    const std::string status = Split(r.out, '\t')[1];
    if (*row.status) {
      EXPECT_EQ(status, row.status);
    }
    EXPECT_EQ(r.exitStatus, status == "Completed" ? 0 : 1) << r.err;
    // A completed track is the disc's audio; an ERROR one keeps its last read.
    const std::string wav = WavData(FindFile(dir_ / "out", "03.wav"));
    EXPECT_EQ(wav.size(), good.size());
    if (status == "Completed") {
      EXPECT_TRUE(wav == good);
    }
    const std::string log = Log(dir_ / "out");
    EXPECT_NE(log.find("\n  Drive: \"EMUDRIVE Virtual CD-ROM 1.00\"\n"), std::string::npos);
    EXPECT_NE(log.find(" sectors, defeated\n"), std::string::npos) << log;
    EXPECT_NE(log.find(std::string(row.c2) == "none" ? "\n  C2: not used" : "\n  C2: used\n"),
              std::string::npos);
    EXPECT_EQ(log.find("Suspicious positions: [\"0:01.25-0:01.28\"]") != std::string::npos,
              std::string(row.status) == "ERROR")
        << log;
  }
  // The cache test's answer: about the cache less the drive's read-ahead, never more.
  const std::string log = Log(dir_ / "out");
  const size_t at = log.find("Cache: ");
  ASSERT_NE(at, std::string::npos);
  const int cache = std::stoi(log.substr(at + 7));
  EXPECT_GE(cache, 1700);
  EXPECT_LE(cache, 2000);
  // Without secure reading the cache hands paranoia back the damage: the rip is "Completed"
  // with it, which is why the cache must be dealt with.
  std::filesystem::remove_all(dir_ / "out");
  const auto env = Plain({"cache 2000", "readahead 64", "flaky 2500-2503 0.01"});
  ASSERT_EQ(RipTo("out", {"--tracks", "3"}, env).exitStatus, 0);
  EXPECT_FALSE(WavData(FindFile(dir_ / "out", "03.wav")) == good);
}

// A read offset that reaches past the disc's end tries the lead-out once; a drive that
// refuses gets silence there, and the log says how much. The sums are the same either way.
TEST_F(DriveReading, TheEdgesAReadOffsetNeedsAreTriedOnce) {
  const struct {
    const char* overread;
    int offset;
    const char* line;
  } rows[] = {
      {"overread-leadout 0", 48, "Overread: not possible, 48 samples of silence at the end"},
      {"overread-leadout 2", 48, "Overread: read from the lead-out"},
      {"overread-leadin 0", -30, "Overread: not possible, 30 samples of silence at the start"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.overread);
    const auto env = Plain({row.overread, "offset-correction " + std::to_string(row.offset)});
    std::filesystem::remove_all(dir_ / "out");
    const std::string track = row.offset > 0 ? "3" : "1";
    const CommandResult r =
        RipTo("out", {"--tracks", track, "--offset", std::to_string(row.offset)}, env);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    // What the drive would have delivered there (the image's bytes past the lead-out, the
    // first samples of the disc in its sector -1) when it reads it, else silence.
    std::string expected = row.offset > 0 ? Audio(2400, 600) : Audio(0, 1500);
    if (std::string(row.overread) == "overread-leadout 0") {
      expected.replace(600 * kSector - 192, 192, 192, '\0');
    }
    if (std::string(row.overread) == "overread-leadin 0") expected.replace(0, 120, 120, '\0');
    EXPECT_TRUE(WavData(FindFile(dir_ / "out", "0" + track + ".wav")) == expected);
    EXPECT_NE(Log(dir_ / "out").find(std::string("\n    ") + row.line + "\n"), std::string::npos)
        << Log(dir_ / "out");
  }
}

// Unreadable sectors cost each failing command 3 s: the track's failing reads stop after 30 s
// of them (without a limit libcdio-paranoia would retry for minutes).
TEST_F(DriveReading, UnreadableSectorsEndTheirTrackWithinItsTimeForErrors) {
  const auto env = Plain({"unreadable 2500-2503", "fail-ms 3000"});
  const CommandResult r =
      ObrinRip({"--format", "wav", "--tracks", "3", "--output", dir_ / "out"}, env);
  EXPECT_EQ(r.exitStatus, 1);
  int failed = 0;
  for (const auto& read : LogLines("mmc READ_CD")) failed += read[4] == "03/11/00";
  EXPECT_GE(failed, 1);
  EXPECT_LE(failed, 30 / 3 + 2);
}

// A drive spinning up answers "becoming ready" to its first commands: it is waited for, then
// read; the last track, which ends at the lead-out, rips whole; --jobs makes no difference.
TEST_F(DriveReading, ADriveBecomingReadyIsReadOnceItIs) {
  const auto env = Plain({"becoming-ready 6", "ready-retry-ms 50"});
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(jobs);
    std::filesystem::remove_all(dir_ / "out");
    const CommandResult r = ObrinRip(
        {"--format", "flac", "--jobs", jobs, "--template", "$n", "--output", dir_ / "out"}, env);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(DecodeFlac(FindFile(dir_ / "out", "03.flac")), std::optional(Audio(2400, 600)));
  }
}

// Replies no drive should give, each to every step of a rip: a clear refusal or a best
// reading, never a crash or a hang.
TEST_F(DriveReading, MalformedRepliesAreRefusedOrReadAsWellAsCanBe) {
  WriteFile(dir_ / "text.cdt", CdTextPacks({"Album", "One", "Two", "Three"}, {"Band"}));
  for (const char* malformed :
       {"short-inquiry 5", "toc-backwards", "cdtext-no-size", "short-read", "short-read 100"}) {
    SCOPED_TRACE(malformed);
    const auto env = Plain({std::string("malformed ") + malformed, "cdtext " + dir_ / "text.cdt"});
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--drives"},
             {"--list"},
             {"--disc-info"},
             {"--format", "flac", "--tracks", "1", "--secure", "--output", dir_ / "out"}}) {
      ChildProcess child;
      ChildOptions options;
      options.env = env;
      options.timeout = std::chrono::seconds(60);
      std::vector<std::string> argv{"obrin-rip"};
      argv.insert(argv.end(), args.begin(), args.end());
      ASSERT_TRUE(child.Start(argv, options));
      const CommandResult r = child.Wait();
      EXPECT_FALSE(child.timedOut()) << args[0];
      EXPECT_LE(r.exitStatus, 2) << args[0] << ": " << r.err;
      if (r.exitStatus == 2) {
        EXPECT_NE(r.err.find("obrin-rip: "), std::string::npos) << r.err;
      }
    }
  }
}

// What paranoia is for: sectors that read wrong now and then from the disc (no cache to
// hand the damage back) come out right; and the drive's CD-Text names the disc as the same
// disc's cue sheet does.
TEST_F(DriveReading, FlakySectorsAreRecoveredAndCdTextNamesTheDisc) {
  WriteFile(dir_ / "text.cdt", CdTextPacks({"Album", "One", "Two", "Three"}, {"Band"}));
  const auto env = Plain({"flaky 2500-2503 0.0005", "cdtext " + dir_ / "text.cdt"});
  ASSERT_EQ(RipTo("out", {"--tracks", "3"}, env).exitStatus, 0);
  EXPECT_TRUE(WavData(FindFile(dir_ / "out", "03.wav")) == Audio(2400, 600));
  MakeDisc({dir_ / "named.cue", "--lengths", "1500,900,600", "--seed", "3", "--title", "Album",
            "--performer", "Band", "--track-title", "1=One", "--track-title", "2=Two",
            "--track-title", "3=Three"});
  const CommandResult drive = ObrinRip({"--disc-info"}, env);
  const CommandResult image = ObrinRip({"--disc-info", "--image", dir_ / "named.cue"}, {});
  EXPECT_EQ(drive.out, image.out) << drive.err;
  EXPECT_NE(drive.out.find("Album: Album\nPerformer: Band\nTrack 01: One\n"), std::string::npos)
      << drive.out;
}

// Only codes of their form count: an MCN of zeros is none, and an ISRC that two tracks share
// is a drive's fault, kept for neither. Pre-emphasis from the TOC brings a warning. (Good
// codes in the listing, the rip's cue sheet and log: IndexesAndCodesAgreeWithTheSameDiscAsAnImage.)
TEST_F(DriveReading, CodesNotOfTheirFormAreLeftOutAndPreEmphasisIsSaid) {
  const auto env = Plain({"mcn 0000000000000", "isrc 1 USABC1200001", "isrc 2 GBAYE9900001",
                          "isrc 3 USABC1200001", "track 2 1500 preemphasis"});
  const CommandResult info = ObrinRip({"--disc-info"}, env);
  EXPECT_EQ(info.out.substr(info.out.find("AccurateRip:")),
            "AccurateRip: 003-00001af4-000056b9-0d002803\nCTDB: rCHVM06oMRb5nzoSDB3xiFFU.pA-\n"
            "ISRC 02: GBAYE9900001\n")
      << info.err;
  EXPECT_NE(info.err.find("obrin-rip: track 02 is pre-emphasised"), std::string::npos);
  EXPECT_NE(info.err.find("the drive gives the ISRC USABC1200001 for tracks 01 and 03, which "
                          "cannot share one: it is kept for none of them"),
            std::string::npos)
      << info.err;
}

// A drive model's read offset: --find-offset on the drive, when one offset matches, keeps it
// in the model's own section, and later rips of that drive use it without --offset.
TEST_F(DriveReading, TheOffsetFoundIsKeptForTheDriveModel) {
  const auto env = Plain({"offset-correction +48", "vendor PLEXTOR", "model DVDR   PX-716A"});
  ASSERT_EQ(RipTo("true", {"--offset", "48"}, env).exitStatus, 0);
  std::vector<std::pair<uint8_t, uint32_t>> sums;
  for (int track = 1; track <= 3; ++track) {
    const std::string wav = dir_ / ("true/A/0" + std::to_string(track) + ".wav");
    sums.emplace_back(5, AccurateRipSum("--accuraterip-v1", wav, track, 3));
  }
  const std::string dbar = DbarEntry(sums);
  HttpTestServer server([&](const std::string&) { return HttpTestReply{200, dbar}; });
  std::string ini = ReadFile(config_.iniPath());
  const size_t at = ini.find(database_.Url());
  ASSERT_NE(at, std::string::npos) << ini;
  WriteFile(config_.iniPath(), ini.replace(at, database_.Url().size(), server.Url()));
  const CommandResult found = ObrinRip({"--find-offset"}, env);
  EXPECT_EQ(found.exitStatus, 0) << found.err;
  EXPECT_EQ(found.out, "Read offset +48: 3 of 3 tracks match (confidence 5)\n");
  EXPECT_EQ(found.err,
            "obrin-rip: read offset 48 saved as [Drive PLEXTOR DVDR PX-716A] ReadOffset\n");
  EXPECT_NE(ReadFile(config_.iniPath()).find("[Drive PLEXTOR DVDR PX-716A]\nReadOffset=48\n"),
            std::string::npos);
  ASSERT_EQ(RipTo("later", {"--tracks", "1"}, env).exitStatus, 0);
  EXPECT_TRUE(WavData(dir_ / "later/A/01.wav") == Audio(0, 1500));
  EXPECT_NE(Log(dir_ / "later").find("  Read offset: 48\n"), std::string::npos);
}

// A disc with pregaps on tracks 2 and 3, an index 02 on track 3, ISRCs on two tracks, an MCN
// and a pre-emphasised track says the same through a drive as the same disc as a cue sheet
// does, however the drive gives its Q: as it should, in binary, half of it corrupt, or only
// as raw P-W. A drive that gives no Q says so and keeps the TOC's positions.
TEST_F(DriveReading, IndexesAndCodesAgreeWithTheSameDiscAsAnImage) {
  WriteFile(dir_ / "audio.bin", image_.substr(0, 3000 * kSector));
  WriteFile(dir_ / "audio.cue",
            "CATALOG 0724384960528\nFILE \"audio.bin\" BINARY\n"
            "  TRACK 01 AUDIO\n    ISRC USABC1200001\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    FLAGS PRE\n    INDEX 00 00:19:25\n    INDEX 01 00:20:00\n"
            "  TRACK 03 AUDIO\n    ISRC GBAYE9900001\n    INDEX 00 00:31:45\n"
            "    INDEX 01 00:32:00\n    INDEX 02 00:35:10\n");
  const std::vector<std::string> disc = {
      "index 2 0 1450",      "index 3 0 2370",      "index 3 2 2635",          "mcn 0724384960528",
      "isrc 1 USABC1200001", "isrc 3 GBAYE9900001", "track 2 1500 preemphasis"};
  const CommandResult image = ObrinRip({"--image", dir_ / "audio.cue", "--disc-info"}, {});
  ASSERT_EQ(image.exitStatus, 0) << image.err;
  for (const char* line : {"Catalog: 0724384960528\n", "ISRC 01: USABC1200001\n",
                           "ISRC 03: GBAYE9900001\n", "Track 02 index 00: 00:19:25\n",
                           "Track 03 index 00: 00:31:45\nTrack 03 index 02: 00:35:10\n"}) {
    EXPECT_NE(image.out.find(line), std::string::npos) << line << image.out;
  }
  ASSERT_EQ(RipTo("image", {"--image", dir_ / "audio.cue"}, {}).exitStatus, 0);
  const std::string imageCue = ReadFile(dir_ / "image/A/A.cue");
  EXPECT_EQ(imageCue,
            "REM DISCID 0D002803\nCATALOG 0724384960528\nTITLE \"A\"\nFILE \"01.wav\" WAVE\n"
            "  TRACK 01 AUDIO\n    ISRC USABC1200001\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    FLAGS PRE\n    INDEX 00 00:19:25\n"
            "FILE \"02.wav\" WAVE\n    INDEX 01 00:00:00\n"
            "  TRACK 03 AUDIO\n    ISRC GBAYE9900001\n    INDEX 00 00:11:45\n"
            "FILE \"03.wav\" WAVE\n    INDEX 01 00:00:00\n    INDEX 02 00:03:10\n");
  for (const char* q : {"q bcd", "q binary", "q-corrupt 0.5", "q raw-only"}) {
    SCOPED_TRACE(q);
    std::vector<std::string> lines = disc;
    lines.push_back(q);
    const auto env = Plain(lines);
    const CommandResult info = ObrinRip({"--disc-info"}, env);
    EXPECT_EQ(info.out, image.out) << info.err;
    EXPECT_EQ(info.err.find("cannot share"), std::string::npos) << info.err;
    if (std::string(q) == "q bcd") {
      ASSERT_EQ(RipTo("drive", {}, env).exitStatus, 0);
      EXPECT_EQ(ReadFile(dir_ / "drive/A/A.cue"), imageCue);
      const std::string log = Log(dir_ / "drive");
      for (const char* lines : {"    Pregap: \"0:00.50\"\n    Pre-emphasis: yes\n",
                                "    ISRC: \"GBAYE9900001\"\n    Pregap: \"0:00.30\"\n"
                                "    Index 02: \"0:03.10\"\n"}) {
        EXPECT_NE(log.find(lines), std::string::npos) << lines << log;
      }
    }
  }
  std::vector<std::string> lines = disc;
  lines.push_back("q none");
  const CommandResult none = ObrinRip({"--disc-info"}, Plain(lines));
  EXPECT_EQ(none.out.find("index"), std::string::npos) << none.out;
  EXPECT_EQ(none.out.find("ISRC"), std::string::npos) << none.out;
  EXPECT_NE(none.err.find("obrin-rip: the drive gives no usable Q sub-channel"), std::string::npos)
      << none.err;
}

// Music before track 1's index 1 (the disc's first 32 seconds) is a track of its own,
// "Track 00", ripped bit for bit and placed in the cue sheet as track 1's INDEX 00; silence
// there, or --no-htoa, leaves it out, and the cue sheet then gives the pregap as PREGAP.
TEST_F(DriveReading, TheHiddenTrackBeforeTrackOneIsTrackZero) {
  std::string silent = image_;
  std::fill(silent.begin(), silent.begin() + 2400 * kSector, '\0');
  WriteFile(dir_ / "silent.bin", silent);
  const std::vector<std::string> layout = {"track 1 2400", "track 2 2600", "track 3 2800"};
  const auto env = Plain(layout);
  const CommandResult list = ObrinRip({"--list"}, env);
  EXPECT_EQ(list.out.substr(0, list.out.find('\t')), "Hidden Track") << list.out;
  ASSERT_EQ(RipTo("all", {}, env).exitStatus, 0);
  EXPECT_TRUE(SameBytes(WavData(dir_ / "all/A/00.wav"), Audio(0, 2400)));
  EXPECT_TRUE(SameBytes(WavData(dir_ / "all/A/01.wav"), Audio(2400, 200)));
  const std::string cue = ReadFile(dir_ / "all/A/A.cue");
  EXPECT_EQ(cue.substr(cue.find("FILE")),
            "FILE \"00.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
            "FILE \"01.wav\" WAVE\n    INDEX 01 00:00:00\n"
            "FILE \"02.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"
            "FILE \"03.wav\" WAVE\n  TRACK 03 AUDIO\n    INDEX 01 00:00:00\n");
  const std::string log = Log(dir_ / "all");
  EXPECT_NE(log.find("  0:\n    File: \"00.wav\"\n    Status: \"Completed\"\n    Hidden: true\n"
                     "    Copy CRC: "),
            std::string::npos)
      << log;
  // The same disc as a cue sheet rips to the same sheet.
  WriteFile(dir_ / "hidden.cue",
            "FILE \"audio.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
            "    INDEX 01 00:32:00\n  TRACK 02 AUDIO\n    INDEX 01 00:34:50\n"
            "  TRACK 03 AUDIO\n    INDEX 01 00:37:25\n");
  WriteFile(dir_ / "audio.bin", image_.substr(0, 3000 * kSector));
  ASSERT_EQ(RipTo("image", {"--image", dir_ / "hidden.cue"}, {}).exitStatus, 0);
  EXPECT_EQ(ReadFile(dir_ / "image/A/A.cue"), cue);

  ASSERT_EQ(RipTo("zero", {"--tracks", "0"}, env).exitStatus, 0);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "zero/A/00.wav"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "zero/A/01.wav"));
  const auto left = [&](const std::string& folder, const std::vector<std::string>& args,
                        const std::vector<std::string>& description, const char* note) {
    SCOPED_TRACE(folder);
    const CommandResult r = RipTo(folder, args, Plain(description));
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find(note), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir_ / (folder + "/A/00.wav")));
    EXPECT_TRUE(SameBytes(WavData(dir_ / (folder + "/A/01.wav")), Audio(2400, 200)));
    const std::string sheet = ReadFile(dir_ / (folder + "/A/A.cue"));
    EXPECT_NE(sheet.find("FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    PREGAP 00:32:00\n"
                         "    INDEX 01 00:00:00\n"),
              std::string::npos)
        << sheet;
    EXPECT_NE(Log(dir_ / folder).find(note), std::string::npos);
  };
  left("asked", {"--no-htoa"}, layout, "is a hidden track, left out as asked");
  std::vector<std::string> quiet = layout;
  quiet.push_back("image " + dir_ / "silent.bin");
  left("silent", {}, quiet, "the pregap of track 1 (00:32:00) is digital silence");
  EXPECT_EQ(ObrinRip({"--tracks", "0"}, Plain(quiet)).exitStatus, 2);
}
