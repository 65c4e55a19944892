// The CD-access calls: over real libcdio on images made by mkdisc, and over the fake drive
// for the handle table, the error numbers and the retry option.
#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "disc/cd_device.h"
#include "disc/cdaccess.h"
#include "support/fake_drive.h"
#include "support/test_env.h"

namespace {

// Opens the device listed as `description`. Looked up by text, not position, so a real drive
// in the machine does not shift the images.
CdHandle OpenListed(const std::string& description) {
  DeviceList list{};
  for (int i = 0, n = GetCDList(&list); i < n; ++i) {
    const DeviceEntry& e = list.entries[i];
    if (description != e.identification) continue;
    const OpenRequest request{12, 1, e.hostAdapter, e.target, e.lun, {}};
    return GetCDHandle(&request);
  }
  ADD_FAILURE() << description << " is not in the device list";
  return kNoCdHandle;
}

CdHandle OpenImage(const std::string& path) {
  SetCdImages({path});
  return OpenListed("Disc image " + path);
}

std::shared_ptr<FakeDrive> InstallFake() {
  auto fake = std::make_shared<FakeDrive>();
  SetCdDevices({fake});
  return fake;
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
  if (r.result == 1) {
    r.bytes.assign(reinterpret_cast<const char*>(TrackBufferData(buffer.get())) + buffer->offset,
                   buffer->deliveredLength);
  } else {
    EXPECT_EQ(buffer->deliveredLength, 0u);
    r.libError = GetAspiLibError();
    r.aspiStatus = GetAspiLibAspiError();
  }
  return r;
}

std::string BinBytes(const std::string& bin, uint32_t start, uint32_t count) {
  return ReadFile(bin).substr(size_t{start} * kSectorBytes, size_t{count} * kSectorBytes);
}

class CdAccess : public ::testing::Test {
 protected:
  void TearDown() override { SetCdDevices({}); }
  TempDir dir_;
};

TEST_F(CdAccess, ImagesGiveTheTocAndBytesThatWereWritten) {
  const struct {
    std::string file;
    std::vector<std::string> args;
    std::vector<uint32_t> starts;  // tracks, then the lead-out
    uint8_t dataTrack;             // 0: none
  } cases[] = {
      {"three.cue", {"--seed", "7"}, {0, 4500, 7500, 13500}, 0},
      {"three.toc", {}, {0, 4500, 7500, 13500}, 0},
      {"single.cue", {"--lengths", "7"}, {0, 7}, 0},
      {"gaps.cue", {"--lengths", "10,0,20,5"}, {0, 10, 10, 30, 35}, 0},
      {"gaps.toc", {"--lengths", "10,0,20,5"}, {0, 10, 10, 30, 35}, 0},
      {"endsempty.cue", {"--lengths", "10,20,0"}, {0, 10, 30, 30}, 0},
      {"data.cue", {"--lengths", "30,40,50", "--data-track", "2"}, {0, 30, 70, 120}, 2},
      {"data.toc", {"--lengths", "30,40,50", "--data-track", "2"}, {0, 30, 70, 120}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    std::vector<std::string> args = {dir_ / c.file};
    args.insert(args.end(), c.args.begin(), c.args.end());
    MakeDisc(args);
    CdHandle handle = OpenImage(dir_ / c.file);
    TocBuffer toc{};
    ASSERT_EQ(ReadTOC(handle, &toc), 1);
    // Every audio sector, in blocks of 26 as the ripper reads them, is the bin's.
    std::string bytes;
    for (uint32_t s = 0; s < c.starts.back() && !c.dataTrack; s += 26) {
      bytes += Read(handle, s, std::min(26u, c.starts.back() - s)).bytes;
    }
    const std::string bin = dir_ / (std::filesystem::path(c.file).stem().string() + ".bin");
    EXPECT_TRUE(c.dataTrack || bytes == ReadFile(bin));
    EXPECT_EQ(CloseCDHandle(handle), 1);
    const size_t tracks = c.starts.size() - 1;
    EXPECT_EQ(toc.length, 2 + 8 * (tracks + 1));
    EXPECT_EQ(toc.firstTrack, 1);
    EXPECT_EQ(toc.lastTrack, tracks);
    for (size_t i = 0; i <= tracks; ++i) {
      EXPECT_EQ(TocEntryAddress(toc.entries[i]), c.starts[i]) << i;
      EXPECT_EQ(toc.entries[i].trackNumber, i < tracks ? i + 1 : 0xAA) << i;
      if (i < tracks && i + 1 == c.dataTrack) {
        EXPECT_EQ(toc.entries[i].adrControl & 0x04, 0x04);
      } else if (i < tracks) {
        EXPECT_EQ(toc.entries[i].adrControl, 0x10) << i;
      }
    }
    const TocEntry zero{};  // nothing after the lead-out
    EXPECT_EQ(std::memcmp(&toc.entries[tracks + 1], &zero, sizeof zero), 0);
  }
}

TEST_F(CdAccess, ShortTocImageNeverDeliversBytesItDoesNotHold) {
  // The TOC declares 200 sectors; the bin holds 170.
  MakeDisc({dir_ / "short.toc", "--lengths", "100,100", "--short", "30"});
  ASSERT_EQ(ReadFile(dir_ / "short.bin").size(), 170u * kSectorBytes);
  CdHandle handle = OpenImage(dir_ / "short.toc");
  TocBuffer toc{};
  ASSERT_EQ(ReadTOC(handle, &toc), 1);
  EXPECT_EQ(TocEntryAddress(toc.entries[2]), 200u);
  ReadResult upToEnd = Read(handle, 144, 26);
  ASSERT_EQ(upToEnd.result, 1);
  EXPECT_TRUE(upToEnd.bytes == BinBytes(dir_ / "short.bin", 144, 26));
  // Past the data, then past the lead-out as well.
  for (auto [start, count] :
       {std::pair{160u, 26u}, {169u, 2u}, {170u, 1u}, {199u, 1u}, {195u, 10u}}) {
    ReadResult r = Read(handle, start, count);
    EXPECT_EQ(r.result, 0) << start;
    EXPECT_EQ(r.libError, kCdErrPastEnd) << start;
    EXPECT_EQ(r.aspiStatus, kAspiError) << start;
  }
  CloseCDHandle(handle);
}

TEST_F(CdAccess, ImagesReadTheBinTheirSheetNamesFromTheSheetFolder) {
  namespace fs = std::filesystem;
  fs::create_directory(dir_ / "album");
  fs::create_directory(dir_ / "elsewhere");
  fs::create_directory(dir_ / "sheets");
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
  const std::string expected = BinBytes(dir_ / "album/disc.bin", 10, 26);

  const fs::path saved = fs::current_path();
  fs::current_path(dir_ / "elsewhere");
  for (const std::string& path : {dir_ / "album/disc.toc", std::string("../album/disc.toc"),
                                  dir_ / "album/decoy.cue", dir_ / "sheets/other.cue"}) {
    SCOPED_TRACE(path);
    CdHandle handle = OpenImage(path);
    EXPECT_TRUE(Read(handle, 10, 26).bytes == expected);
    CloseCDHandle(handle);
  }
  fs::current_path(saved);
}

TEST_F(CdAccess, BadImagesDoNotOpen) {
  MakeDisc({dir_ / "good.cue", "--lengths", "20"});
  std::filesystem::create_directory(dir_ / "folder.cue");
  // A bin of the sheet's own name sits beside nobin.cue: libcdio alone would read that.
  WriteFile(dir_ / "nobin.bin", ReadFile(dir_ / "good.bin"));
  WriteFile(dir_ / "noise.nrg", std::string(5000, '\x5A'));
  WriteFile(dir_ / "noise.img", std::string(5000, '\x17'));
  const std::pair<std::string, const char*> cases[] = {
      {"missing.cue", nullptr},
      {"missing.toc", nullptr},
      {"folder.cue", nullptr},
      {"noise.nrg", nullptr},
      {"noise.img", nullptr},
      {"empty.cue", ""},
      {"empty.toc", ""},
      {"nobin.cue", "FILE \"missing.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"},
      {"nobin.toc", "CD_DA\nTRACK AUDIO\nFILE \"missing.bin\" 0 00:00:20\n"},
      {"garbage.cue", "FILE \"good.bin\" BINARY\nthis is \x01\x02 not a cue sheet\nTRACK\n"},
      {"garbage.toc", "CD_DA\nTRACK AUDIO\nFILE \"good.bin\" twelve o'clock\n{{{\n"},
      {"twofiles.cue",
       "FILE \"good.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
       "FILE \"nobin.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"},
  };
  for (const auto& [name, content] : cases) {
    SCOPED_TRACE(name);
    if (content) WriteFile(dir_ / name, content);
    CdHandle handle = OpenImage(dir_ / name);
    EXPECT_EQ(handle, kNoCdHandle);
    TocBuffer toc;
    std::memset(&toc, 0x55, sizeof toc);
    EXPECT_NE(ReadTOC(handle, &toc), 1);
    EXPECT_EQ(GetAspiLibError(), kCdErrInvalidHandle);
    EXPECT_EQ(toc.length, 0);
  }
  EXPECT_NE(OpenImage(dir_ / "good.cue"), kNoCdHandle);
}

// --- the handle table and the error numbers, over the fake drive ---

TEST_F(CdAccess, HandlesThatDidNotOpenFailEveryCall) {
  auto fake = InstallFake();
  CdHandle closed = OpenListed(fake->Description());
  ASSERT_NE(closed, kNoCdHandle);
  ASSERT_EQ(CloseCDHandle(closed), 1);
  fake->SetCannotOpen(true);
  EXPECT_EQ(OpenListed(fake->Description()), kNoCdHandle);

  for (CdHandle handle : {kNoCdHandle, closed, CdHandle{4711}}) {
    SCOPED_TRACE(handle);
    ReadResult r = Read(handle, 0, 26);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.libError, kCdErrInvalidHandle);
    EXPECT_EQ(r.aspiStatus, kAspiNoDevice);
    TocBuffer toc{};
    EXPECT_EQ(ReadTOC(handle, &toc), 0);
    uint32_t words[8] = {};
    EXPECT_EQ(GetCDDBDiskID(handle, words, 5), 0);
    EXPECT_EQ(words[0], 0u);
    EXPECT_EQ(ModifyCDParms(handle, kCdParmReadRetries, 3), 0);
    EXPECT_EQ(CloseCDHandle(handle), 0);
    EXPECT_EQ(GetAspiLibError(), kCdErrInvalidHandle);
    EXPECT_EQ(GetAspiLibAspiError(), kAspiNoDevice);
  }
  EXPECT_TRUE(fake->Reads().empty());
  EXPECT_EQ(fake->Opens(), 1);
  EXPECT_EQ(fake->Closes(), 1);
}

TEST_F(CdAccess, BadRequestsAreRefusedBeforeTheDrive) {
  auto fake = InstallFake();
  auto image = std::make_shared<FakeDrive>();
  image->SetIsImage(true);
  SetCdDevices({fake, image});
  const struct {
    OpenRequest request;
    uint32_t libError;
  } opens[] = {
      {{11, 1, 1, 1, 0, {}}, kCdErrBadRequest},    {{12, 2, 1, 1, 0, {}}, kCdErrBadRequest},
      {{12, 1, 0, 1, 0, {}}, kCdErrInvalidHandle},  // right position, wrong adapter
      {{12, 1, 1, 2, 0, {}}, kCdErrInvalidHandle}, {{12, 1, 1, 1, 1, {}}, kCdErrInvalidHandle},
  };
  for (const auto& c : opens) {
    EXPECT_EQ(GetCDHandle(&c.request), kNoCdHandle);
    EXPECT_EQ(GetAspiLibError(), c.libError);
  }
  EXPECT_EQ(GetCDHandle(nullptr), kNoCdHandle);
  const OpenRequest good{12, 1, 1, 1, 0, {}};
  CdHandle handle = GetCDHandle(&good);
  EXPECT_NE(handle, kNoCdHandle);
  EXPECT_EQ(image->Opens(), 1);

  TrackBufferPtr buffer = AllocTrackBuffer(2);
  for (uint32_t count : {0u, 3u, 0x80000000u}) {
    buffer->sectorCount = count;
    EXPECT_EQ(ReadCDAudioLBA(handle, buffer.get()), 0);
    EXPECT_EQ(GetAspiLibError(), kCdErrBadRequest);
    EXPECT_EQ(GetAspiLibAspiError(), kAspiInvalidCommand);
  }
  EXPECT_EQ(ReadCDAudioLBA(handle, nullptr), 0);
  EXPECT_EQ(GetAspiLibError(), kCdErrBadRequest);
  EXPECT_EQ(ReadTOC(handle, nullptr), 0);
  EXPECT_TRUE(image->Reads().empty());
  buffer->sectorCount = 2;
  EXPECT_EQ(ReadCDAudioLBA(handle, buffer.get()), 1);
  CloseCDHandle(handle);
}

TEST_F(CdAccess, ErrorNumbersBelongToTheCallingThread) {
  auto fake = InstallFake();
  CdHandle handle = OpenListed(fake->Description());
  ASSERT_EQ(Read(4711, 0, 1).libError, kCdErrInvalidHandle);
  uint32_t other[3] = {};
  std::thread([&] {
    other[0] = GetAspiLibError();  // nothing failed on this thread yet
    Read(handle, 0, 0);            // a bad request
    other[1] = GetAspiLibError();
    other[2] = GetAspiLibAspiError();
  }).join();
  EXPECT_EQ(other[0], kCdOk);
  EXPECT_EQ(other[1], kCdErrBadRequest);
  EXPECT_EQ(other[2], kAspiInvalidCommand);
  EXPECT_EQ(GetAspiLibError(), kCdErrInvalidHandle);
  EXPECT_EQ(GetAspiLibAspiError(), kAspiNoDevice);
  // A success leaves the last failure's numbers alone.
  EXPECT_EQ(Read(handle, 0, 1).result, 1);
  EXPECT_EQ(GetAspiLibError(), kCdErrInvalidHandle);
  CloseCDHandle(handle);
}

TEST_F(CdAccess, HandlesOutliveAReplacedDeviceList) {
  auto fake = InstallFake();
  CdHandle handle = OpenListed(fake->Description());
  SetCdDevices({});
  fake.reset();  // the list and the test both let go of the device
  ReadResult r = Read(handle, 100, 3);
  ASSERT_EQ(r.result, 1);
  EXPECT_TRUE(r.bytes == FakeDrive::ExpectedAudio(100, 3));
  EXPECT_EQ(CloseCDHandle(handle), 1);
}

TEST_F(CdAccess, CloseDuringABlockedReadLetsTheReadFinish) {
  auto fake = InstallFake();
  fake->BlockReadAt(52);
  CdHandle handle = OpenListed(fake->Description());
  ReadResult result;
  std::thread worker([&] { result = Read(handle, 52, 26); });
  ASSERT_TRUE(fake->WaitUntilBlocked());
  EXPECT_EQ(CloseCDHandle(handle), 1);  // does not wait for the read
  EXPECT_EQ(fake->Closes(), 0);         // the session lives on under the read
  fake->ReleaseRead();
  worker.join();
  ASSERT_EQ(result.result, 1);
  EXPECT_TRUE(result.bytes == FakeDrive::ExpectedAudio(52, 26));
  EXPECT_EQ(fake->Closes(), 1);
  EXPECT_EQ(Read(handle, 52, 1).libError, kCdErrInvalidHandle);
}

TEST_F(CdAccess, OptionsAreCheckedAndPastTheEndIsNotRetried) {
  auto fake = InstallFake();
  fake->FailAlways(52, kCdErrPastEnd);
  CdHandle handle = OpenListed(fake->Description());
  EXPECT_EQ(ModifyCDParms(handle, kCdParmReadRetries, 11), 0);
  EXPECT_EQ(ModifyCDParms(handle, kCdParmParanoia, 2), 0);
  EXPECT_EQ(ModifyCDParms(handle, 36, 0), 0);
  ASSERT_EQ(ModifyCDParms(handle, kCdParmReadRetries, 10), 1);
  EXPECT_EQ(Read(handle, 52, 1).libError, kCdErrPastEnd);
  EXPECT_EQ(fake->Reads().size(), 1u);
  EXPECT_EQ(ModifyCDParms(handle, kCdParmParanoia, 1), 1);
  using Option = std::pair<int, uint32_t>;
  EXPECT_EQ(fake->OptionsSet(), (std::vector<Option>{{37, 10}, {38, 1}}));
  fake->SetOptionResult(false);
  EXPECT_EQ(ModifyCDParms(handle, kCdParmParanoia, 0), 0);
  CloseCDHandle(handle);
}

// An offset delivery passes through as it is (the capture tests cover that); bytes claimed
// outside the buffer are not believed.
TEST_F(CdAccess, DeliveryOutsideTheBufferIsRefused) {
  auto fake = InstallFake();
  fake->DeliverShifted(26, 8, 0);
  CdHandle handle = OpenListed(fake->Description());
  ReadResult r = Read(handle, 26, 26);
  EXPECT_EQ(r.result, 0);
  CloseCDHandle(handle);
}

// --- disc id ---

// The freedb reference algorithm, from minutes and seconds as freedb's docs write it.
uint32_t ReferenceDiscId(const std::vector<uint32_t>& lsns) {
  auto seconds = [](uint32_t lsn) {
    return int(lsn + 150) / 75 / 60 * 60 + int(lsn + 150) / 75 % 60;
  };
  const int tracks = static_cast<int>(lsns.size()) - 1;
  int n = 0;
  for (int i = 0; i < tracks; ++i) {
    for (int s = seconds(lsns[i]); s > 0; s /= 10) n += s % 10;
  }
  int t = seconds(lsns.back()) - seconds(lsns[0]);
  return static_cast<uint32_t>((n % 0xff) << 24 | t << 8 | tracks);
}

TEST(CddbDiscId, MatchesHandComputedAndReferenceValues) {
  const std::vector<std::vector<uint32_t>> tocs = {
      {0, 4500, 7500, 13500},
      {0, 13500},
      {0, 17832, 33570, 50012, 71890, 92001, 118734, 140250, 161000, 188455, 210333},
      {32, 20075, 44991, 71342, 99999, 123456, 333000},
  };
  for (const auto& lsns : tocs) {
    std::vector<CdTocTrack> tracks;
    for (size_t i = 0; i + 1 < lsns.size(); ++i) tracks.push_back({lsns[i], 0});
    TocBuffer toc;
    ASSERT_TRUE(FillTocBuffer(1, tracks, lsns.back(), toc));
    EXPECT_EQ(ComputeCddbDiscId(toc), ReferenceDiscId(lsns));
  }
  // Seconds 2, 62, 102: digit sum 13; 180 s long; 3 tracks.
  EXPECT_EQ(ReferenceDiscId(tocs[0]), 0x0D00B403u);
}

TEST_F(CdAccess, DiscIdBufferHoldsTheFreedbQuery) {
  auto fake = InstallFake();  // tracks at 0, 4500, 7500; lead-out 13500
  CdHandle handle = OpenListed(fake->Description());
  TocBuffer toc{};
  ASSERT_EQ(ReadTOC(handle, &toc), 1);
  std::vector<uint32_t> words(toc.length + 3, 0xFFFFFFFF);
  EXPECT_EQ(GetCDDBDiskID(handle, words.data(), toc.length), 1);
  EXPECT_EQ(std::vector<uint32_t>(words.begin(), words.begin() + 7),
            (std::vector<uint32_t>{0x0D00B403u, 3, 150, 4650, 7650, 182, 0xFFFFFFFF}));
  CloseCDHandle(handle);
}

// --- device list, buffers, TOC layout ---

TEST_F(CdAccess, DeviceListKeepsEightImages) {
  std::vector<std::string> paths;
  for (int i = 0; i < 10; ++i) paths.push_back(dir_ / ("image" + std::to_string(i) + ".cue"));
  paths[3] = "/" + std::string(200, 'x') + ".cue";  // longer than an entry holds
  SetCdImages(paths);
  DeviceList list{};
  ASSERT_EQ(GetCDList(&list), 8);
  EXPECT_EQ(list.count, 8);
  int images = 0;  // real drives, if this machine has any, come first
  for (int i = 0; i < 8; ++i) {
    const DeviceEntry& entry = list.entries[i];
    EXPECT_EQ(entry.target, i);
    EXPECT_EQ(entry.lun, 0);
    if (entry.hostAdapter == 1) {
      EXPECT_EQ(std::string(entry.identification),
                ("Disc image " + paths[images++]).substr(0, sizeof entry.identification - 1));
    }
  }
  EXPECT_GE(images, 1);
  EXPECT_EQ(DiscoverCdDevices(paths).size(), 8u);
}

TEST(TrackBuffer, AllocationIsZeroedWithItsCapacity) {
  TrackBufferPtr buffer = AllocTrackBuffer(26);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer->capacity, 26 * kSectorBytes);
  const uint8_t* data = TrackBufferData(buffer.get());
  EXPECT_EQ(std::count(data, data + buffer->capacity, 0), static_cast<long>(buffer->capacity));
  EXPECT_EQ(AllocTrackBuffer(UINT32_MAX / kSectorBytes + 1), nullptr);
}

TEST(TocLayout, NinetyNineTracksFillEveryEntry) {
  std::vector<CdTocTrack> tracks(99);
  for (uint32_t i = 0; i < 99; ++i) tracks[i] = {i * 100, i == 5 ? uint8_t{0x06} : uint8_t{0}};
  TocBuffer toc;
  ASSERT_TRUE(FillTocBuffer(1, tracks, 9900, toc));
  EXPECT_EQ(toc.lastTrack, 99);
  EXPECT_EQ(toc.entries[5].adrControl, 0x16);
  EXPECT_EQ(toc.entries[99].trackNumber, 0xAA);
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&toc);
  // Length 802 little-endian; lead-out 9900 = 0x26AC big-endian.
  EXPECT_EQ(std::vector<uint8_t>(raw, raw + 2), (std::vector<uint8_t>{0x22, 0x03}));
  EXPECT_EQ(std::vector<uint8_t>(raw + 4 + 8 * 99 + 4, raw + 4 + 8 * 99 + 8),
            (std::vector<uint8_t>{0, 0, 0x26, 0xAC}));

  tracks.emplace_back();
  EXPECT_FALSE(FillTocBuffer(1, tracks, 10000, toc));
  EXPECT_EQ(toc.length, 0);
  EXPECT_FALSE(FillTocBuffer(2, std::vector<CdTocTrack>(99), 10000, toc));
  EXPECT_FALSE(FillTocBuffer(1, {}, 0, toc));
}

}  // namespace
