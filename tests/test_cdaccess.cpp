// The CD-access calls over real libcdio on images made by mkdisc, and over the fake drive.
// Faults guarded (a short bin's missing bytes are guarded end to end in test_obrin_rip):
// - an image's TOC (starts, 99 tracks), disc id (freedb's) or audio not what mkdisc wrote
// - a .toc's relative FILE names resolved against the working folder (libcdio trap)
// - a cue naming a missing bin reading <cue>.bin instead (libcdio trap)
// - images of several data files opened, then read from the first file only (libcdio trap)
// - a handle that did not open, or was closed, answering a call; more than eight devices
// - error numbers shared between threads, or cleared by a success
#include <filesystem>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "disc/cd_device.h"
#include "support/fake_drive.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

// Opens the last device listed: the only one, or the image after any real drives.
CdHandle OpenLast(const std::string& image = "") {
  if (!image.empty()) SetCdImages({image});
  DeviceList list{};
  const int n = GetCDList(&list);
  const DeviceEntry& e = list.entries[n > 0 ? n - 1 : 0];
  const OpenRequest request{12, 1, e.hostAdapter, e.target, e.lun, {}};
  return n > 0 ? GetCDHandle(&request) : kNoCdHandle;
}

// The bytes a read delivered; nothing when it failed (having delivered nothing).
std::optional<std::string> Read(CdHandle handle, uint32_t start, uint32_t count) {
  TrackBufferPtr buffer = AllocTrackBuffer(count);
  buffer->startSector = start;
  buffer->sectorCount = count;
  const int result = ReadCDAudioLBA(handle, buffer.get());
  EXPECT_TRUE(result == 1 || buffer->deliveredLength == 0);
  if (result != 1) return std::nullopt;
  const char* data = reinterpret_cast<const char*>(TrackBufferData(buffer.get()));
  return std::string(data + buffer->offset, buffer->deliveredLength);
}

TEST(CdAccess, ImagesGiveTheTocAndAudioThatWereWritten) {
  TempDir dir;
  // The disc ids are worked out after freedb's documents from the tracks' starts in seconds.
  const std::tuple<std::string, std::vector<uint32_t>, uint32_t> cases[] = {
      {"three.cue", {4500, 3000, 6000}, 0x0D00B403},  // 2, 62, 102 s; 180 s long; 3 tracks
      {"gaps.toc", {10, 0, 20, 5}, 0x08000004},
      {"full.cue", std::vector<uint32_t>(99, 2), 0x1C000263}};  // a digit sum past 255
  for (const auto& [file, lengths, id] : cases) {
    SCOPED_TRACE(file);
    std::string list;
    for (uint32_t l : lengths) list += (list.empty() ? "" : ",") + std::to_string(l);
    MakeDisc({dir / file, "--lengths", list});
    const CdHandle handle = OpenLast(dir / file);
    TocBuffer toc{};
    EXPECT_EQ(ReadTOC(handle, &toc), 1);
    EXPECT_EQ(ComputeCddbDiscId(toc), id);
    // Each entry (0xAA: the lead-out), then the audio in blocks of 26 as the ripper reads it.
    uint32_t end = 0;
    for (uint32_t i = 0, n = lengths.size(); i <= n; end += i < n ? lengths[i] : 0, ++i) {
      const TocEntry& e = toc.entries[i];
      EXPECT_EQ((std::vector<uint32_t>{TocEntryAddress(e), e.adrControl, e.trackNumber}),
                (std::vector<uint32_t>{end, 0x10, i < n ? i + 1 : 0xAA}));
    }
    std::string bytes;
    for (uint32_t s = 0; s < end; s += 26) {
      bytes += Read(handle, s, std::min(26u, end - s)).value_or("");
    }
    EXPECT_TRUE(bytes == ReadFile(fs::path(dir / file).replace_extension("bin")));
    CloseCDHandle(handle);
  }
}

TEST(CdAccess, ImagesReadTheBinTheirSheetNamesOrDoNotOpen) {
  TempDir dir;
  for (const char* folder : {"album", "work", "folder.cue"}) fs::create_directory(dir / folder);
  // The disc, and decoys where libcdio alone would look: the working folder, and <cue>.bin.
  MakeDisc({dir / "album/disc.toc", "--lengths", "20,30"});
  MakeDisc({dir / "work/disc.toc", "--lengths", "20,30", "--seed", "9"});
  MakeDisc({dir / "album/decoy.cue", "--lengths", "20,30", "--seed", "5"});
  MakeDisc({dir / "album/nobin.cue", "--lengths", "20,30", "--seed", "6"});
  const std::string audio = " BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
  const std::string second = "FILE \"decoy.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n";
  const std::string toc = "CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" 0 00:00:10\n";
  // The sheet, the text written there (unless empty), whether it opens.
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"../album/disc.toc", "", true},
      {"../album/decoy.cue", "FILE \"disc.bin\"" + audio, true},
      {"../other.cue", "FILE \"album/disc.bin\"" + audio, true},
      {"../album/nobin.cue", "FILE \"missing.bin\"" + audio, false},
      {"../album/nobin.toc", "CD_DA\nTRACK AUDIO\nFILE \"missing.bin\" 0 00:00:20\n", false},
      {"../album/two.cue", "FILE \"disc.bin\"" + audio + second, false},
      {"../album/two.toc", toc + "TRACK AUDIO\nFILE \"decoy.bin\" 0 00:00:10\n", false},
      {"../album/garbage.toc", toc + "FILE \"disc.bin\" twelve o'clock\n{{{\n", false},
      {"../noise.nrg", std::string(5000, 'Z'), false},
      {"../missing.cue", "", false},
      {"../folder.cue", "", false},
  };
  const std::string expected =
      ReadFile(dir / "album/disc.bin").substr(10 * kSectorBytes, 26 * kSectorBytes);
  const fs::path saved = fs::current_path();
  fs::current_path(dir / "work");
  for (const auto& [sheet, text, opens] : cases) {
    SCOPED_TRACE(sheet);
    if (!text.empty()) WriteFile(sheet, text);
    const CdHandle handle = OpenLast(sheet);
    EXPECT_EQ(handle != kNoCdHandle, opens);
    EXPECT_TRUE(!opens || Read(handle, 10, 26) == expected);
    CloseCDHandle(handle);
  }
  fs::current_path(saved);
  EXPECT_EQ(DiscoverCdDevices(std::vector<std::string>(9, "x.cue")).size(), 8u);
}

TEST(CdAccess, HandlesThatDidNotOpenFailEveryCallAndErrorsArePerThread) {
  auto fake = std::make_shared<FakeDrive>();
  SetCdDevices({fake});
  const CdHandle open = OpenLast(), closed = OpenLast();
  ASSERT_EQ(CloseCDHandle(closed), 1);
  fake->SetCannotOpen(true);
  for (CdHandle handle : {OpenLast(), closed, CdHandle{4711}}) {
    SCOPED_TRACE(handle);
    EXPECT_FALSE(Read(handle, 0, 26));
    EXPECT_EQ(GetAspiLibAspiError(), kAspiNoDevice);
    EXPECT_EQ(
        (std::vector<int>{ReadTOC(handle, nullptr), GetCDDBDiskID(handle, nullptr, 5),
                          ModifyCDParms(handle, kCdParmReadRetries, 3), CloseCDHandle(handle)}),
        std::vector<int>(4, 0));
    EXPECT_EQ(GetAspiLibError(), kCdErrInvalidHandle);
  }
  uint32_t other[2] = {};
  std::thread([&] {
    other[0] = GetAspiLibError();  // nothing failed on this thread yet
    TrackBufferPtr buffer = AllocTrackBuffer(2);
    buffer->sectorCount = 3;  // more than the buffer holds
    ReadCDAudioLBA(open, buffer.get());
    other[1] = GetAspiLibError();
  }).join();
  EXPECT_EQ(other[0], kCdOk);
  EXPECT_EQ(other[1], kCdErrBadRequest);
  EXPECT_TRUE(Read(open, 0, 1));  // a success leaves the last failure's numbers alone
  EXPECT_EQ(GetAspiLibError(), kCdErrInvalidHandle);
  CloseCDHandle(open);
}

}  // namespace
