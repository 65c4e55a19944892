// The CD-access calls: over real libcdio on images made by mkdisc, and over the fake drive.
// Faults guarded:
// - an image's TOC bytes (layout, starts, data-track flag, 99 tracks) or audio are not mkdisc's
// - a read past the end of a short bin delivers bytes libcdio never read (libcdio trap)
// - a .toc's relative FILE names are resolved against the working directory (libcdio trap)
// - a cue naming a missing bin reads <cue>.bin; images of several files open (libcdio traps)
// - a handle that did not open, or was closed, does not fail every call
// - error numbers are shared between threads or overwritten by a success
// - closing a handle waits for a read in progress, or pulls the session from under it
// - the disc id is not freedb's; more than eight devices are listed
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <thread>

#include <gtest/gtest.h>

#include "disc/cd_device.h"
#include "disc/cdaccess.h"
#include "support/fake_drive.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

// Opens the device listed as `description`: by text, so a real drive does not shift images.
CdHandle OpenListed(const std::string& description) {
  DeviceList list{};
  for (int i = 0, n = GetCDList(&list); i < n; ++i) {
    const DeviceEntry& e = list.entries[i];
    const OpenRequest request{12, 1, e.hostAdapter, e.target, e.lun, {}};
    if (description == e.identification) return GetCDHandle(&request);
  }
  return kNoCdHandle;
}

CdHandle OpenImage(const std::string& path) {
  SetCdImages({path});
  return OpenListed("Disc image " + path);
}

struct ReadResult {
  int result = 0;
  std::string bytes;  // what was delivered on success
  uint32_t libError = 0, aspiStatus = 0;
};

ReadResult Read(CdHandle handle, uint32_t start, uint32_t count) {
  ReadResult r;
  TrackBufferPtr buffer = AllocTrackBuffer(count);
  buffer->startSector = start;
  buffer->sectorCount = count;
  r.result = ReadCDAudioLBA(handle, buffer.get());
  const char* data = reinterpret_cast<const char*>(TrackBufferData(buffer.get()));
  r.bytes.assign(data + buffer->offset, buffer->deliveredLength);
  EXPECT_TRUE(r.result == 1 || buffer->deliveredLength == 0);
  r.libError = GetAspiLibError();
  r.aspiStatus = GetAspiLibAspiError();
  return r;
}

std::string BinBytes(const std::string& bin, uint32_t start, uint32_t count) {
  return ReadFile(bin).substr(size_t{start} * kSectorBytes, size_t{count} * kSectorBytes);
}

// The TOC as the contract lays it out: length (little-endian), first and last track, then per
// entry 0, ADR and control, number (0xAA: lead-out), 0, start sector (big-endian).
std::string TocBytes(const std::vector<uint32_t>& lengths, size_t dataTrack) {
  std::string b(sizeof(TocBuffer), '\0');
  const size_t tracks = lengths.size(), length = 2 + 8 * (tracks + 1);
  b[0] = static_cast<char>(length), b[1] = static_cast<char>(length >> 8);
  b[2] = 1, b[3] = static_cast<char>(tracks);
  size_t start = 0;
  for (size_t i = 0; i <= tracks; start += i < tracks ? lengths[i] : 0, ++i) {
    char* e = &b[4 + 8 * i];
    e[1] = i + 1 == dataTrack ? 0x14 : 0x10;
    e[2] = static_cast<char>(i < tracks ? i + 1 : 0xAA);
    for (int k = 0; k < 4; ++k) e[4 + k] = static_cast<char>(start >> (24 - 8 * k));
  }
  return b;
}

class CdAccess : public ::testing::Test {
 protected:
  void TearDown() override { SetCdDevices({}); }
  TempDir dir_;
};

TEST_F(CdAccess, ImagesGiveTheTocAndBytesThatWereWritten) {
  const struct {
    std::string file;
    std::vector<uint32_t> lengths;
    size_t dataTrack;  // 0: none
  } cases[] = {{"three.cue", {4500, 3000, 6000}, 0},
               {"gaps.toc", {10, 0, 20, 5}, 0},
               {"full.cue", std::vector<uint32_t>(99, 2), 0},
               {"data.cue", {30, 40, 50}, 2},
               {"data.toc", {30, 40, 50}, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    std::string lengths;
    for (uint32_t l : c.lengths) lengths += (lengths.empty() ? "" : ",") + std::to_string(l);
    std::vector<std::string> args = {dir_ / c.file, "--lengths", lengths, "--seed", "7"};
    if (c.dataTrack) args.insert(args.end(), {"--data-track", std::to_string(c.dataTrack)});
    MakeDisc(args);
    CdHandle handle = OpenImage(dir_ / c.file);
    TocBuffer toc{};
    ASSERT_EQ(ReadTOC(handle, &toc), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&toc), sizeof toc),
              TocBytes(c.lengths, c.dataTrack));
    // Every sector, in blocks of 26 as the ripper reads them, is the bin's.
    const uint32_t total = std::accumulate(c.lengths.begin(), c.lengths.end(), 0u);
    std::string bytes;
    for (uint32_t s = 0; s < total && !c.dataTrack; s += 26) {
      bytes += Read(handle, s, std::min(26u, total - s)).bytes;
    }
    EXPECT_TRUE(c.dataTrack || bytes == ReadFile(fs::path(dir_ / c.file).replace_extension("bin")));
    EXPECT_EQ(CloseCDHandle(handle), 1);
  }
}

TEST_F(CdAccess, AShortBinNeverDeliversBytesItDoesNotHold) {
  MakeDisc({dir_ / "short.toc", "--lengths", "100,100", "--short", "30"});  // a 170-sector bin
  CdHandle handle = OpenImage(dir_ / "short.toc");
  EXPECT_TRUE(Read(handle, 144, 26).bytes == BinBytes(dir_ / "short.bin", 144, 26));
  for (auto [start, count] : {std::pair{160u, 26u}, {169u, 2u}, {170u, 1u}, {195u, 10u}}) {
    const ReadResult r = Read(handle, start, count);
    EXPECT_EQ(r.result, 0) << start;
    EXPECT_EQ(r.libError, kCdErrPastEnd) << start;
    EXPECT_EQ(r.aspiStatus, kAspiError) << start;
  }
  CloseCDHandle(handle);
}

TEST_F(CdAccess, ImagesReadTheBinTheirSheetNamesFromTheSheetFolder) {
  for (const char* folder : {"album", "elsewhere", "sheets"}) fs::create_directory(dir_ / folder);
  MakeDisc({dir_ / "album/disc.toc", "--lengths", "20,30"});
  MakeDisc({dir_ / "album/disc.cue", "--lengths", "20,30"});
  // Decoys of the same name in the working directory and beside the sheet, which libcdio
  // alone would read whatever the sheet says.
  MakeDisc({dir_ / "elsewhere/disc.toc", "--lengths", "20,30", "--seed", "99"});
  MakeDisc({dir_ / "album/decoy.cue", "--lengths", "20,30", "--seed", "5"});
  const std::string cue = ReadFile(dir_ / "album/disc.cue");
  WriteFile(dir_ / "album/decoy.cue", cue);
  WriteFile(dir_ / "sheets/other.cue",
            "FILE \"../album/disc.bin\" BINARY\n" + cue.substr(cue.find('\n') + 1));
  const fs::path saved = fs::current_path();
  fs::current_path(dir_ / "elsewhere");
  for (const std::string& path :
       {std::string("../album/disc.toc"), dir_ / "album/decoy.cue", dir_ / "sheets/other.cue"}) {
    SCOPED_TRACE(path);
    CdHandle handle = OpenImage(path);
    EXPECT_TRUE(Read(handle, 10, 26).bytes == BinBytes(dir_ / "album/disc.bin", 10, 26));
    CloseCDHandle(handle);
  }
  fs::current_path(saved);
}

TEST_F(CdAccess, BadImagesDoNotOpen) {
  MakeDisc({dir_ / "good.cue", "--lengths", "20"});
  fs::create_directory(dir_ / "folder.cue");
  // A bin of the sheet's own name sits beside nobin.cue: libcdio alone would read that.
  WriteFile(dir_ / "nobin.bin", ReadFile(dir_ / "good.bin"));
  const std::string track = "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
  const std::pair<std::string, std::string> cases[] = {
      {"missing.cue", ""},
      {"folder.cue", ""},
      {"empty.toc", ""},
      {"noise.nrg", std::string(5000, '\x5A')},
      {"nobin.cue", "FILE \"missing.bin\" BINARY\n" + track},
      {"nobin.toc", "CD_DA\nTRACK AUDIO\nFILE \"missing.bin\" 0 00:00:20\n"},
      {"garbage.toc", "CD_DA\nTRACK AUDIO\nFILE \"good.bin\" twelve o'clock\n{{{\n"},
      {"twofiles.cue", "FILE \"good.bin\" BINARY\n" + track + "FILE \"nobin.bin\" BINARY\n" +
                           "  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"},
      {"twofiles.toc",
       "CD_DA\nTRACK AUDIO\nFILE \"good.bin\" 0 00:00:10\n"
       "TRACK AUDIO\nFILE \"nobin.bin\" 0 00:00:10\n"},
  };
  for (const auto& [name, content] : cases) {
    SCOPED_TRACE(name);
    if (name.rfind("missing", 0) != 0 && name != "folder.cue") WriteFile(dir_ / name, content);
    EXPECT_EQ(OpenImage(dir_ / name), kNoCdHandle);
  }
  EXPECT_NE(OpenImage(dir_ / "good.cue"), kNoCdHandle);
}

TEST_F(CdAccess, HandlesThatDidNotOpenFailEveryCall) {
  auto fake = std::make_shared<FakeDrive>();
  SetCdDevices({fake});
  CdHandle closed = OpenListed(fake->Description());
  ASSERT_EQ(CloseCDHandle(closed), 1);
  fake->SetCannotOpen(true);
  EXPECT_EQ(OpenListed(fake->Description()), kNoCdHandle);
  for (CdHandle handle : {kNoCdHandle, closed, CdHandle{4711}}) {
    SCOPED_TRACE(handle);
    const ReadResult r = Read(handle, 0, 26);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.libError, kCdErrInvalidHandle);
    EXPECT_EQ(r.aspiStatus, kAspiNoDevice);
    TocBuffer toc;
    std::memset(&toc, 0x55, sizeof toc);
    EXPECT_EQ(ReadTOC(handle, &toc), 0);
    EXPECT_EQ(toc.length, 0);
    uint32_t words[8] = {};
    EXPECT_EQ(GetCDDBDiskID(handle, words, 5), 0);
    EXPECT_EQ(ModifyCDParms(handle, kCdParmReadRetries, 3), 0);
    EXPECT_EQ(CloseCDHandle(handle), 0);
    EXPECT_EQ(GetAspiLibError(), kCdErrInvalidHandle);
  }
  EXPECT_TRUE(fake->Reads().empty());
  EXPECT_EQ(fake->Closes(), 1);
}

TEST_F(CdAccess, ErrorNumbersBelongToTheCallingThread) {
  auto fake = std::make_shared<FakeDrive>();
  SetCdDevices({fake});
  CdHandle handle = OpenListed(fake->Description());
  ASSERT_EQ(Read(4711, 0, 1).libError, kCdErrInvalidHandle);
  uint32_t other[3] = {};
  std::thread([&] {
    other[0] = GetAspiLibError();  // nothing failed on this thread yet
    TrackBufferPtr buffer = AllocTrackBuffer(2);
    buffer->sectorCount = 3;  // more than the buffer holds
    ReadCDAudioLBA(handle, buffer.get());
    other[1] = GetAspiLibError();
    other[2] = GetAspiLibAspiError();
  }).join();
  EXPECT_EQ(other[0], kCdOk);
  EXPECT_EQ(other[1], kCdErrBadRequest);
  EXPECT_EQ(other[2], kAspiInvalidCommand);
  EXPECT_EQ(Read(handle, 0, 1).result, 1);  // a success leaves the last failure's numbers
  EXPECT_EQ(GetAspiLibError(), kCdErrInvalidHandle);
  EXPECT_EQ(GetAspiLibAspiError(), kAspiNoDevice);
  EXPECT_TRUE(fake->Reads().size() == 1);
  CloseCDHandle(handle);
}

TEST_F(CdAccess, CloseDuringABlockedReadLetsTheReadFinish) {
  auto fake = std::make_shared<FakeDrive>();
  SetCdDevices({fake});
  fake->BlockReadAt(52);
  CdHandle handle = OpenListed(fake->Description());
  ReadResult result;
  std::thread worker([&] { result = Read(handle, 52, 26); });
  ASSERT_TRUE(fake->WaitUntilBlocked());
  EXPECT_EQ(CloseCDHandle(handle), 1);  // does not wait for the read
  EXPECT_EQ(fake->Closes(), 0);         // the session lives on under the read
  fake->ReleaseRead();
  worker.join();
  EXPECT_TRUE(result.bytes == FakeDrive::ExpectedAudio(52, 26));
  EXPECT_EQ(fake->Closes(), 1);
}

// freedb's reference algorithm, from minutes and seconds as its documents write it.
uint32_t ReferenceDiscId(const std::vector<uint32_t>& lsns) {
  auto seconds = [](uint32_t lsn) { return (lsn + 150) / 75 / 60 * 60 + (lsn + 150) / 75 % 60; };
  uint32_t n = 0, tracks = static_cast<uint32_t>(lsns.size()) - 1;
  for (uint32_t i = 0; i < tracks; ++i) {
    for (uint32_t s = seconds(lsns[i]); s > 0; s /= 10) n += s % 10;
  }
  return (n % 0xff) << 24 | (seconds(lsns.back()) - seconds(lsns[0])) << 8 | tracks;
}

TEST_F(CdAccess, DiscIdIsFreedbsAndTheQueryHoldsItsFields) {
  for (const std::vector<uint32_t>& lsns : std::vector<std::vector<uint32_t>>{
           {0, 17832, 33570, 50012, 71890, 92001, 118734, 140250, 161000, 188455, 210333},
           {32, 20075, 44991, 71342, 99999, 123456, 333000}}) {
    std::vector<CdTocTrack> tracks;
    for (size_t i = 0; i + 1 < lsns.size(); ++i) tracks.push_back({lsns[i], 0});
    TocBuffer toc;
    ASSERT_TRUE(FillTocBuffer(1, tracks, lsns.back(), toc));
    EXPECT_EQ(ComputeCddbDiscId(toc), ReferenceDiscId(lsns));
  }
  auto fake = std::make_shared<FakeDrive>();  // tracks at 0, 4500, 7500; lead-out 13500
  SetCdDevices({fake});
  CdHandle handle = OpenListed(fake->Description());
  std::vector<uint32_t> words(8, 0xFFFFFFFF);
  EXPECT_EQ(GetCDDBDiskID(handle, words.data(), 4), 1);
  // Seconds 2, 62, 102: digit sum 13; 180 s long; 3 tracks. Then frame offsets, disc seconds.
  EXPECT_EQ(words,
            (std::vector<uint32_t>{0x0D00B403u, 3, 150, 4650, 7650, 182, 0xFFFFFFFF, 0xFFFFFFFF}));
  CloseCDHandle(handle);
}

TEST_F(CdAccess, DeviceListKeepsEightImages) {
  std::vector<std::string> paths;
  for (int i = 0; i < 10; ++i) paths.push_back(dir_ / ("image" + std::to_string(i) + ".cue"));
  paths[0] = "/" + std::string(200, 'x') + ".cue";  // longer than an entry holds
  EXPECT_EQ(DiscoverCdDevices(paths).size(), 8u);
  SetCdImages(paths);
  DeviceList list{};
  ASSERT_EQ(GetCDList(&list), 8);
  EXPECT_EQ(list.count, 8);
  // Real drives, if this machine has any, come first.
  const DeviceEntry& image = *std::find_if(list.entries, list.entries + 8,
                                           [](const DeviceEntry& e) { return e.hostAdapter; });
  EXPECT_EQ(std::string(image.identification), ("Disc image " + paths[0]).substr(0, 116));
}

}  // namespace
