// The CD-access calls: over real libcdio on images made by mkdisc, and over the fake drive
// for the handle table, the error numbers and the retry option.
#include <unistd.h>

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

// Opens the device whose identification is `description`; kNoCdHandle when it is not listed
// or does not open. Looks the device up by text, not position, so a real drive in the
// machine does not shift the images.
CdHandle OpenListed(const std::string& description) {
  DeviceList list{};
  int count = GetCDList(&list);
  for (int i = 0; i < count; ++i) {
    if (description == list.entries[i].identification) {
      OpenRequest request{};
      request.size = 12;
      request.version = 1;
      request.hostAdapter = list.entries[i].hostAdapter;
      request.target = list.entries[i].target;
      request.lun = list.entries[i].lun;
      return GetCDHandle(&request);
    }
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

struct Toc {
  TocBuffer buffer{};
  int result = 0;
};

Toc ReadImageToc(const std::string& path) {
  Toc toc;
  CdHandle handle = OpenImage(path);
  toc.result = ReadTOC(handle, &toc.buffer);
  CloseCDHandle(handle);
  return toc;
}

std::vector<uint32_t> Starts(const TocBuffer& toc) {
  std::vector<uint32_t> starts;
  for (int i = 0; i <= toc.lastTrack - toc.firstTrack + 1; ++i) {
    starts.push_back(TocEntryAddress(toc.entries[i]));
  }
  return starts;
}

// Reads `count` sectors from `start`; the delivered bytes, or nullopt-like failure flag.
struct ReadResult {
  int result = 0;
  std::string bytes;
  uint32_t libError = 0;
  uint32_t aspiStatus = 0;
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

// --- TOCs of mkdisc images through libcdio ---

struct TocCase {
  std::string file;
  std::vector<std::string> args;
  std::vector<uint32_t> starts;  // tracks, then the lead-out
};

TEST_F(CdAccess, TocOfImagesMatchesWhatWasWritten) {
  const TocCase cases[] = {
      {"three.cue", {}, {0, 4500, 7500, 13500}},
      {"three.toc", {}, {0, 4500, 7500, 13500}},
      {"single.cue", {"--lengths", "7"}, {0, 7}},
      {"gaps.cue", {"--lengths", "10,0,20,5"}, {0, 10, 10, 30, 35}},
      {"gaps.toc", {"--lengths", "10,0,20,5"}, {0, 10, 10, 30, 35}},
      {"endsempty.cue", {"--lengths", "10,20,0"}, {0, 10, 30, 30}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    std::vector<std::string> args = {dir_ / c.file};
    args.insert(args.end(), c.args.begin(), c.args.end());
    MakeDisc(args);
    Toc toc = ReadImageToc(dir_ / c.file);
    ASSERT_EQ(toc.result, 1);
    const size_t tracks = c.starts.size() - 1;
    EXPECT_EQ(toc.buffer.length, 2 + 8 * (tracks + 1));
    EXPECT_EQ(toc.buffer.firstTrack, 1);
    EXPECT_EQ(toc.buffer.lastTrack, tracks);
    EXPECT_EQ(Starts(toc.buffer), c.starts);
    for (size_t i = 0; i < tracks; ++i) {
      EXPECT_EQ(toc.buffer.entries[i].trackNumber, i + 1);
      EXPECT_EQ(toc.buffer.entries[i].adrControl, 0x10);
    }
    EXPECT_EQ(toc.buffer.entries[tracks].trackNumber, 0xAA);
    // Nothing after the lead-out.
    const TocEntry zero{};
    EXPECT_EQ(std::memcmp(&toc.buffer.entries[tracks + 1], &zero, sizeof zero), 0);
  }
}

TEST_F(CdAccess, DataTrackCarriesTheDataBit) {
  for (const std::string name : {"data.cue", "data.toc"}) {
    SCOPED_TRACE(name);
    MakeDisc({dir_ / name, "--lengths", "30,40,50", "--data-track", "2"});
    Toc toc = ReadImageToc(dir_ / name);
    ASSERT_EQ(toc.result, 1);
    EXPECT_EQ(toc.buffer.entries[0].adrControl & 0x04, 0);
    EXPECT_EQ(toc.buffer.entries[1].adrControl & 0x04, 0x04);
    EXPECT_EQ(toc.buffer.entries[2].adrControl & 0x04, 0);
    EXPECT_EQ(Starts(toc.buffer), (std::vector<uint32_t>{0, 30, 70, 120}));
  }
}

// --- reads through libcdio ---

TEST_F(CdAccess, ReadsAreTheBinBytes) {
  for (const std::string name : {"disc.cue", "disc.toc"}) {
    SCOPED_TRACE(name);
    MakeDisc({dir_ / name, "--lengths", "60,40", "--seed", "7"});
    CdHandle handle = OpenImage(dir_ / name);
    ASSERT_NE(handle, kNoCdHandle);
    const std::string bin = dir_ / "disc.bin";
    // Across the track boundary, the very first sector, and the very last one.
    for (auto [start, count] : {std::pair{50u, 26u}, {0u, 1u}, {99u, 1u}, {74u, 26u}}) {
      ReadResult r = Read(handle, start, count);
      ASSERT_EQ(r.result, 1) << start;
      EXPECT_TRUE(r.bytes == BinBytes(bin, start, count)) << start;
    }
    EXPECT_EQ(Read(handle, 90, 26).libError, kCdErrPastEnd);
    EXPECT_EQ(CloseCDHandle(handle), 1);
  }
}

TEST_F(CdAccess, ShortTocImageNeverDeliversBytesItDoesNotHold) {
  // The TOC declares 200 sectors; the bin holds 170.
  MakeDisc({dir_ / "short.toc", "--lengths", "100,100", "--short", "30"});
  ASSERT_EQ(ReadFile(dir_ / "short.bin").size(), 170u * kSectorBytes);
  CdHandle handle = OpenImage(dir_ / "short.toc");
  ASSERT_NE(handle, kNoCdHandle);
  TocBuffer toc{};
  ASSERT_EQ(ReadTOC(handle, &toc), 1);
  EXPECT_EQ(TocEntryAddress(toc.entries[2]), 200u);

  ReadResult upToEnd = Read(handle, 144, 26);
  ASSERT_EQ(upToEnd.result, 1);
  EXPECT_TRUE(upToEnd.bytes == BinBytes(dir_ / "short.bin", 144, 26));

  for (auto [start, count] : {std::pair{160u, 26u}, {169u, 2u}, {170u, 1u}, {199u, 1u}}) {
    ReadResult r = Read(handle, start, count);
    EXPECT_EQ(r.result, 0) << start;
    EXPECT_EQ(r.libError, kCdErrPastEnd) << start;
    EXPECT_EQ(r.aspiStatus, kAspiError) << start;
  }
  // Beyond the lead-out as well.
  EXPECT_EQ(Read(handle, 195, 10).libError, kCdErrPastEnd);
  CloseCDHandle(handle);
}

class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& to) : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(to);
  }
  ~ScopedCwd() { std::filesystem::current_path(saved_); }

 private:
  std::filesystem::path saved_;
};

TEST_F(CdAccess, TocFileNamesAreRelativeToTheTocFolder) {
  std::filesystem::create_directory(dir_ / "album");
  std::filesystem::create_directory(dir_ / "elsewhere");
  MakeDisc({dir_ / "album/disc.toc", "--lengths", "20,30"});
  const std::string expected = BinBytes(dir_ / "album/disc.bin", 10, 26);
  // A decoy of the same name in the working directory must not be read instead.
  MakeDisc({dir_ / "elsewhere/disc.toc", "--lengths", "20,30", "--seed", "99"});

  for (const std::string& path : {dir_ / "album/disc.toc", std::string("../album/disc.toc")}) {
    SCOPED_TRACE(path);
    ScopedCwd cwd(dir_ / "elsewhere");
    CdHandle handle = OpenImage(path);
    ASSERT_NE(handle, kNoCdHandle);
    ReadResult r = Read(handle, 10, 26);
    ASSERT_EQ(r.result, 1);
    EXPECT_TRUE(r.bytes == expected);
    CloseCDHandle(handle);
  }
}

TEST_F(CdAccess, CueReadsTheBinItNames) {
  MakeDisc({dir_ / "disc.cue", "--lengths", "20,30"});
  MakeDisc({dir_ / "decoy.cue", "--lengths", "20,30", "--seed", "5"});
  std::filesystem::create_directory(dir_ / "sheets");
  // libcdio on its own would read decoy.bin for decoy.cue whatever FILE says.
  WriteFile(dir_ / "decoy.cue", ReadFile(dir_ / "disc.cue"));
  WriteFile(dir_ / "sheets/other.cue",
            "FILE \"../disc.bin\" BINARY\n" +
                ReadFile(dir_ / "disc.cue").substr(ReadFile(dir_ / "disc.cue").find('\n') + 1));
  const std::string expected = BinBytes(dir_ / "disc.bin", 15, 10);
  for (const std::string& path : {dir_ / "decoy.cue", dir_ / "sheets/other.cue"}) {
    SCOPED_TRACE(path);
    CdHandle handle = OpenImage(path);
    ASSERT_NE(handle, kNoCdHandle);
    ReadResult r = Read(handle, 15, 10);
    ASSERT_EQ(r.result, 1);
    EXPECT_TRUE(r.bytes == expected);
    CloseCDHandle(handle);
  }
}

TEST_F(CdAccess, BadImagesDoNotOpen) {
  MakeDisc({dir_ / "good.cue", "--lengths", "20"});
  std::filesystem::create_directory(dir_ / "folder.cue");
  WriteFile(dir_ / "empty.cue", "");
  WriteFile(dir_ / "empty.toc", "");
  // A bin of the sheet's own name sits beside it: libcdio alone would happily read that.
  WriteFile(dir_ / "nobin.cue",
            "FILE \"missing.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  WriteFile(dir_ / "nobin.bin", ReadFile(dir_ / "good.bin"));
  WriteFile(dir_ / "garbage.cue",
            "FILE \"good.bin\" BINARY\nthis is \x01\x02 not a cue sheet\nTRACK\n");
  WriteFile(dir_ / "garbage.toc", "CD_DA\nTRACK AUDIO\nFILE \"good.bin\" twelve o'clock\n{{{\n");
  WriteFile(dir_ / "nobin.toc", "CD_DA\nTRACK AUDIO\nFILE \"missing.bin\" 0 00:00:20\n");
  WriteFile(dir_ / "twofiles.cue",
            "FILE \"good.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "FILE \"nobin.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n");
  WriteFile(dir_ / "noise.nrg", std::string(5000, '\x5A'));
  WriteFile(dir_ / "noise.img", std::string(5000, '\x17'));

  for (const std::string name :
       {"missing.cue", "missing.toc", "folder.cue", "empty.cue", "empty.toc", "nobin.cue",
        "garbage.cue", "garbage.toc", "nobin.toc", "twofiles.cue", "noise.nrg", "noise.img"}) {
    SCOPED_TRACE(name);
    const std::string path = dir_ / name;
    CdDeviceList devices = DiscoverCdDevices({path});
    ASSERT_FALSE(devices.empty());
    EXPECT_EQ(devices.back()->Description(), "Disc image " + path);
    EXPECT_EQ(devices.back()->Open(), nullptr);

    CdHandle handle = OpenImage(path);
    EXPECT_EQ(handle, kNoCdHandle);
    TocBuffer toc;
    std::memset(&toc, 0x55, sizeof toc);
    EXPECT_NE(ReadTOC(handle, &toc), 1);
    EXPECT_EQ(GetAspiLibError(), kCdErrInvalidHandle);
    EXPECT_EQ(toc.length, 0);
  }
  EXPECT_NE(OpenImage(dir_ / "good.cue"), kNoCdHandle);
}

// --- the handle table and the error numbers ---

TEST_F(CdAccess, HandlesThatDidNotOpenFailEveryCall) {
  auto fake = InstallFake();
  CdHandle closed = OpenListed(fake->Description());
  ASSERT_NE(closed, kNoCdHandle);
  ASSERT_EQ(CloseCDHandle(closed), 1);
  fake->SetCannotOpen(true);
  CdHandle refused = OpenListed(fake->Description());
  EXPECT_EQ(refused, kNoCdHandle);

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

TEST_F(CdAccess, OpenRequestMustNameAListedDevice) {
  auto fake = InstallFake();
  auto image = std::make_shared<FakeDrive>();
  image->SetIsImage(true);
  SetCdDevices({fake, image});
  DeviceList list{};
  ASSERT_EQ(GetCDList(&list), 2);
  EXPECT_EQ(list.count, 2);
  EXPECT_EQ(list.entries[0].hostAdapter, 0);
  EXPECT_EQ(list.entries[1].hostAdapter, 1);
  EXPECT_EQ(list.entries[1].target, 1);

  const OpenRequest good{12, 1, 1, 1, 0, {}};
  struct Case {
    OpenRequest request;
    uint32_t libError;
  } cases[] = {
      {{11, 1, 1, 1, 0, {}}, kCdErrBadRequest},    {{12, 2, 1, 1, 0, {}}, kCdErrBadRequest},
      {{12, 1, 0, 1, 0, {}}, kCdErrInvalidHandle},  // right position, wrong adapter
      {{12, 1, 1, 2, 0, {}}, kCdErrInvalidHandle}, {{12, 1, 1, 1, 1, {}}, kCdErrInvalidHandle},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetCDHandle(&c.request), kNoCdHandle);
    EXPECT_EQ(GetAspiLibError(), c.libError);
  }
  EXPECT_EQ(GetCDHandle(nullptr), kNoCdHandle);
  CdHandle handle = GetCDHandle(&good);
  EXPECT_NE(handle, kNoCdHandle);
  EXPECT_EQ(image->Opens(), 1);
  EXPECT_EQ(fake->OpenAttempts(), 0);
  CloseCDHandle(handle);
}

TEST_F(CdAccess, BadReadRequestsAreRefusedBeforeTheDrive) {
  auto fake = InstallFake();
  CdHandle handle = OpenListed(fake->Description());
  TrackBufferPtr buffer = AllocTrackBuffer(2);
  buffer->startSector = 0;
  for (uint32_t count : {0u, 3u, 0x80000000u}) {
    buffer->sectorCount = count;
    EXPECT_EQ(ReadCDAudioLBA(handle, buffer.get()), 0);
    EXPECT_EQ(GetAspiLibError(), kCdErrBadRequest);
    EXPECT_EQ(GetAspiLibAspiError(), kAspiInvalidCommand);
  }
  EXPECT_EQ(ReadCDAudioLBA(handle, nullptr), 0);
  EXPECT_EQ(GetAspiLibError(), kCdErrBadRequest);
  EXPECT_EQ(ReadTOC(handle, nullptr), 0);
  EXPECT_TRUE(fake->Reads().empty());
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

TEST_F(CdAccess, MalformedTocPassesThroughAndKeepsTheIdSane) {
  auto fake = InstallFake();
  TocBuffer raw;
  std::memset(&raw, 0, sizeof raw);
  raw.length = 10;
  raw.firstTrack = 5;
  raw.lastTrack = 2;  // below the first
  SetTocEntryAddress(raw.entries[0], 3000);
  fake->SetRawToc(raw);
  CdHandle handle = OpenListed(fake->Description());
  TocBuffer toc;
  ASSERT_EQ(ReadTOC(handle, &toc), 1);
  EXPECT_EQ(std::memcmp(&toc, &raw, sizeof toc), 0);
  uint32_t words[13];
  std::memset(words, 0xFF, sizeof words);
  EXPECT_EQ(GetCDDBDiskID(handle, words, toc.length), 1);
  EXPECT_EQ(words[0], 0u);  // no tracks, no length
  EXPECT_EQ(words[1], 0u);
  EXPECT_EQ(words[2], (3000u + 150) / 75);
  EXPECT_EQ(words[3], 0xFFFFFFFFu);
  CloseCDHandle(handle);
}

// --- options ---

TEST_F(CdAccess, OptionsAreCheckedAndPassedOn) {
  auto fake = InstallFake();
  CdHandle handle = OpenListed(fake->Description());
  EXPECT_EQ(ModifyCDParms(handle, kCdParmReadRetries, 3), 1);
  EXPECT_EQ(ModifyCDParms(handle, kCdParmParanoia, 1), 1);
  EXPECT_EQ(ModifyCDParms(handle, kCdParmReadRetries, 11), 0);
  EXPECT_EQ(ModifyCDParms(handle, kCdParmParanoia, 2), 0);
  EXPECT_EQ(ModifyCDParms(handle, 36, 0), 0);
  using Option = std::pair<int, uint32_t>;
  EXPECT_EQ(fake->OptionsSet(), (std::vector<Option>{{37, 3}, {38, 1}}));
  fake->SetOptionResult(false);
  EXPECT_EQ(ModifyCDParms(handle, kCdParmParanoia, 0), 0);
  CloseCDHandle(handle);
}

TEST_F(CdAccess, RetryOptionAddsAttemptsInsideOneCall) {
  auto fake = InstallFake();
  fake->FailAttempts(26, 1, 3);
  fake->FailAlways(52, kCdErrPastEnd);
  CdHandle handle = OpenListed(fake->Description());

  // Without retries each call is one attempt.
  EXPECT_EQ(Read(handle, 26, 26).libError, kCdErrRead);
  ASSERT_EQ(ModifyCDParms(handle, kCdParmReadRetries, 1), 1);
  EXPECT_EQ(Read(handle, 26, 26).result, 0);  // attempts 2 and 3
  ReadResult ok = Read(handle, 26, 26);       // attempt 4 succeeds
  ASSERT_EQ(ok.result, 1);
  EXPECT_TRUE(ok.bytes == FakeDrive::ExpectedAudio(26, 26));
  EXPECT_EQ(fake->Reads().size(), 4u);

  // Reading past the end is not retried.
  ASSERT_EQ(ModifyCDParms(handle, kCdParmReadRetries, 10), 1);
  EXPECT_EQ(Read(handle, 52, 1).libError, kCdErrPastEnd);
  EXPECT_EQ(fake->Reads().size(), 5u);
  CloseCDHandle(handle);
}

TEST_F(CdAccess, ShiftedDeliveryIsReportedAsIs) {
  auto fake = InstallFake();
  fake->DeliverShifted(0, 4, 4);
  CdHandle handle = OpenListed(fake->Description());
  TrackBufferPtr buffer = AllocTrackBuffer(26);
  buffer->sectorCount = 26;
  ASSERT_EQ(ReadCDAudioLBA(handle, buffer.get()), 1);
  EXPECT_EQ(buffer->offset, 4);
  EXPECT_EQ(buffer->deliveredLength, 26 * kSectorBytes - 4);
  // A session that claims bytes outside the buffer is not believed.
  fake->DeliverShifted(26, 8, 0);
  buffer->startSector = 26;
  EXPECT_EQ(ReadCDAudioLBA(handle, buffer.get()), 0);
  EXPECT_EQ(buffer->deliveredLength, 0u);
  CloseCDHandle(handle);
}

// --- disc id ---

// The freedb reference algorithm, written from minutes and seconds as freedb's docs do.
uint32_t ReferenceDiscId(const std::vector<uint32_t>& lsns) {
  auto sum = [](int n) {
    int ret = 0;
    while (n > 0) {
      ret += n % 10;
      n /= 10;
    }
    return ret;
  };
  const int tracks = static_cast<int>(lsns.size()) - 1;
  int n = 0;
  for (int i = 0; i < tracks; ++i) {
    int frames = static_cast<int>(lsns[i]) + 150;
    n += sum(frames / 75 / 60 * 60 + frames / 75 % 60);
  }
  int last = static_cast<int>(lsns.back()) + 150, first = static_cast<int>(lsns[0]) + 150;
  int t = (last / 75 / 60 * 60 + last / 75 % 60) - (first / 75 / 60 * 60 + first / 75 % 60);
  return static_cast<uint32_t>((n % 0xff) << 24 | t << 8 | tracks);
}

TocBuffer MakeToc(const std::vector<uint32_t>& lsns) {
  std::vector<CdTocTrack> tracks;
  for (size_t i = 0; i + 1 < lsns.size(); ++i) tracks.push_back({lsns[i], 0});
  TocBuffer toc;
  EXPECT_TRUE(FillTocBuffer(1, tracks, lsns.back(), toc));
  return toc;
}

TEST(CddbDiscId, MatchesHandComputedAndReferenceValues) {
  // Starts 0, 4500, 7500, lead-out 13500: seconds 2, 62, 102; digit sum 13; 180 s long.
  EXPECT_EQ(ComputeCddbDiscId(MakeToc({0, 4500, 7500, 13500})), 0x0D00B403u);
  const std::vector<std::vector<uint32_t>> tocs = {
      {0, 13500},
      {0, 17832, 33570, 50012, 71890, 92001, 118734, 140250, 161000, 188455, 210333},
      {32, 20075, 44991, 71342, 99999, 123456, 333000},
  };
  for (const auto& lsns : tocs) EXPECT_EQ(ComputeCddbDiscId(MakeToc(lsns)), ReferenceDiscId(lsns));
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
  // A short buffer gets only what fits.
  uint32_t small[3] = {0, 0, 0xABCD};
  EXPECT_EQ(GetCDDBDiskID(handle, small, -1), 1);
  EXPECT_EQ(small[0], 0x0D00B403u);
  EXPECT_EQ(small[1], 3u);
  EXPECT_EQ(small[2], 0xABCDu);
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
  // Real drives, if this machine has any, come first.
  int images = 0;
  for (int i = 0; i < 8; ++i) {
    const DeviceEntry& entry = list.entries[i];
    EXPECT_EQ(entry.target, i);
    EXPECT_EQ(entry.lun, 0);
    EXPECT_LT(std::strlen(entry.identification), sizeof entry.identification);
    if (entry.hostAdapter == 1) {
      EXPECT_EQ(std::string(entry.identification),
                ("Disc image " + paths[images]).substr(0, sizeof entry.identification - 1));
      ++images;
    }
  }
  EXPECT_GE(images, 1);
  EXPECT_EQ(DiscoverCdDevices(paths).size(), 8u);
}

TEST(TrackBuffer, AllocationIsZeroedWithItsCapacity) {
  TrackBufferPtr buffer = AllocTrackBuffer(26);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer->capacity, 26 * kSectorBytes);
  EXPECT_EQ(buffer->deliveredLength, 0u);
  const uint8_t* data = TrackBufferData(buffer.get());
  EXPECT_EQ(std::count(data, data + buffer->capacity, 0), static_cast<long>(buffer->capacity));
  EXPECT_EQ(AllocTrackBuffer(UINT32_MAX / kSectorBytes + 1), nullptr);
}

TEST(TocLayout, NinetyNineTracksFillEveryEntry) {
  std::vector<CdTocTrack> tracks(99);
  for (uint32_t i = 0; i < 99; ++i) tracks[i] = {i * 100, i == 5 ? uint8_t{0x06} : uint8_t{0}};
  TocBuffer toc;
  ASSERT_TRUE(FillTocBuffer(1, tracks, 9900, toc));
  EXPECT_EQ(toc.length, 2 + 8 * 100);
  EXPECT_EQ(toc.lastTrack, 99);
  EXPECT_EQ(toc.entries[5].adrControl, 0x16);
  EXPECT_EQ(toc.entries[98].trackNumber, 99);
  EXPECT_EQ(toc.entries[99].trackNumber, 0xAA);
  EXPECT_EQ(TocEntryAddress(toc.entries[99]), 9900u);
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&toc);
  EXPECT_EQ(raw[0], 0x22);  // 802, little-endian
  EXPECT_EQ(raw[1], 0x03);
  EXPECT_EQ(raw[4 + 8 * 99 + 4], 0x00);  // 9900 = 0x26AC, big-endian
  EXPECT_EQ(raw[4 + 8 * 99 + 6], 0x26);
  EXPECT_EQ(raw[4 + 8 * 99 + 7], 0xAC);

  tracks.emplace_back();
  EXPECT_FALSE(FillTocBuffer(1, tracks, 10000, toc));
  EXPECT_EQ(toc.length, 0);
  EXPECT_FALSE(FillTocBuffer(2, std::vector<CdTocTrack>(99), 10000, toc));
  EXPECT_FALSE(FillTocBuffer(1, {}, 0, toc));
}

}  // namespace
