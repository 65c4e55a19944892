// Disc images that do not open say why; cue file types, BOM-led sheets and NRG images; the
// session gap of enhanced CDs; libcdio-paranoia's skips.
#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "disc/cd_device.h"
#include "disc/paranoia_block.h"
#include "disc/track_list.h"
#include "support/fake_drive.h"
#include "support/test_env.h"

namespace {

// Opens the only device, the image at `path`; the handle, or the reason it did not open.
CdHandle OpenImage(const std::string& path, std::string& why) {
  SetCdDevices(DiscoverCdDevices({path}));
  DeviceList list{};
  const int count = GetCDList(&list);
  const OpenRequest request{12, 1, 1, static_cast<uint8_t>(count - 1), 0, {}};
  const CdHandle handle = GetCDHandle(&request);
  why = GetCDHandleErrorText();
  return handle;
}

std::string ReadAll(CdHandle handle, uint32_t sectors) {
  TrackBufferPtr buffer = AllocTrackBuffer(sectors);
  buffer->sectorCount = sectors;
  if (ReadCDAudioLBA(handle, buffer.get()) != 1) return "read failed";
  return std::string(reinterpret_cast<const char*>(TrackBufferData(buffer.get())),
                     buffer->deliveredLength);
}

class DiscImages : public ::testing::Test {
 protected:
  void SetUp() override { MakeDiscAt(dir_ / "a.cue", {"--lengths", "150,100"}); }
  void TearDown() override { SetCdDevices({}); }
  std::string Sheet(const std::string& fileLine) {
    const std::string cue = ReadFile(dir_ / "a.cue");
    return fileLine + "\n" + cue.substr(cue.find('\n') + 1);
  }
  TempDir dir_;
  ScopedConfigHome config_;
};

TEST_F(DiscImages, EveryImageFailureNamesTheImageAndWhatIsWrong) {
  std::filesystem::create_directory(dir_ / "folder.cue");
  ASSERT_EQ(mkfifo((dir_ / "fifo.cue").c_str(), 0600), 0);
  WriteFile(dir_ / "short.bin", ReadFile(dir_ / "a.bin").substr(0, 100 * 2352));
  MakeDiscAt(dir_ / "bad.nrg", {"--lengths", "30"});
  std::string nrg = ReadFile(dir_ / "bad.nrg");
  nrg[180 * 2352 + 4] = '\x7F';  // the CUEX chunk's length
  WriteFile(dir_ / "bad.nrg", nrg);
  const struct {
    std::string image, sheet, message;
  } cases[] = {
      {"missing.cue", "", "it does not exist"},
      {"folder.cue", "", "it is a directory"},
      {"fifo.cue", "", "it is not a regular file"},
      {"nobin.cue", Sheet("FILE \"none.bin\" BINARY"),
       "its data file " + dir_ / "none.bin" + " does not exist"},
      {"short.cue", Sheet("FILE \"short.bin\" BINARY"),
       "its data file " + dir_ / "short.bin" +
           " is too short: it holds 100 sectors, but track 2 starts at sector 150"},
      {"two.cue", Sheet("FILE \"a.bin\" BINARY") + "FILE \"b.bin\" BINARY\n",
       "the cue sheet names more than one data file; only images with a single one can be read"},
      {"windows.cue", Sheet("FILE \"C:\\Rips\\a.bin\" BINARY"),
       "its data file \"C:\\Rips\\a.bin\" is a Windows path; name the file relative to the cue "
       "sheet"},
      {"wave.cue", Sheet("FILE \"a.bin\" WAVE"),
       "its data file has the type WAVE; only BINARY and MOTOROLA can be read"},
      {"bad.nrg", "", "it is not a valid NRG image: chunk CUEX runs past its table"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.image);
    if (!c.sheet.empty()) WriteFile(dir_ / c.image, c.sheet);
    const CommandResult r = RunCommand({"obrin-rip", "--image", dir_ / c.image, "--list"},
                                       {"XDG_CONFIG_HOME=" + config_.path()});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.err,
              "obrin-rip: Cannot open disc image " + dir_ / c.image + ": " + c.message + "\n");
  }
}

TEST_F(DiscImages, BomLedSheetsMotorolaDataAndNrgImagesReadTheAudio) {
  const std::string audio = ReadFile(dir_ / "a.bin");
  std::string swapped = audio;
  for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
  WriteFile(dir_ / "swapped.bin", swapped);
  WriteFile(dir_ / "bom.cue", "\xEF\xBB\xBF" + Sheet("FILE \"a.bin\" BINARY"));
  WriteFile(dir_ / "motorola.cue", Sheet("FILE \"swapped.bin\" MOTOROLA"));
  MakeDiscAt(dir_ / "disc.nrg", {"--lengths", "150,100"});
  for (const std::string image : {"bom.cue", "motorola.cue", "disc.nrg"}) {
    SCOPED_TRACE(image);
    std::string why;
    const CdHandle handle = OpenImage(dir_ / image, why);
    ASSERT_NE(handle, kNoCdHandle) << why;
    EXPECT_TRUE(ReadAll(handle, 250) == audio);
    CloseCDHandle(handle);
  }
}

TEST_F(DiscImages, DamagedNrgChunkTablesAreRefusedBeforeLibcdio) {
  MakeDiscAt(dir_ / "good.nrg", {"--lengths", "30,20"});
  const std::string good = ReadFile(dir_ / "good.nrg");
  const size_t table = 200 * 2352;  // the pregap and both tracks
  const struct {
    size_t at;
    std::string bytes, problem;
  } cases[] = {
      {good.size() - 12, "NERX", "it has no NRG footer"},
      {good.size() - 4, "\xFF\xFF", "its footer points outside the file"},
      {table + 4, "\x7F", "chunk CUEX runs past its table"},
      {table, "XUEX", "it holds no track chunk"},
      {table + 8 + 4 * 8 + 4, "\x7F", "chunk CUEX holds a track entry that cannot be read"},
      {good.size() - 20, "X", "its chunk table has no END! chunk"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problem);
    std::string damaged = good;
    damaged.replace(c.at, c.bytes.size(), c.bytes);
    WriteFile(dir_ / "damaged.nrg", damaged);
    std::string why;
    EXPECT_EQ(OpenImage(dir_ / "damaged.nrg", why), kNoCdHandle);
    EXPECT_EQ(why, "Cannot open disc image " + dir_ / "damaged.nrg" +
                       ": it is not a valid NRG image: " + c.problem);
  }
}

TEST(EnhancedCd, TheLastAudioTrackEndsBeforeTheSessionGapOfAFollowingDataTrack) {
  const struct {
    std::vector<FakeTrack> tracks;
    std::vector<uint32_t> lengths;
  } cases[] = {
      {{{0, 1000}, {1000, 20000}, {32400, 5000, true}}, {1000, 20000}},
      {{{0, 20000}, {31400, 100, true}, {31500, 100, true}}, {20000}},
      {{{0, 1000}, {1000, 11400}, {12400, 100, true}}, {1000, 11400}},  // too close for a gap
      {{{0, 5000, true}, {5000, 20000}}, {20000}},
      {{{0, 20000}, {20000, 500, true}, {20500, 13000}}, {20000, 13000}},
  };
  for (const auto& c : cases) {
    auto drive = std::make_shared<FakeDrive>();
    drive->SetTracks(c.tracks);
    SetCdDevices({drive});
    RipSettings settings;
    ASSERT_EQ(EnumerateCdDrives(settings), 1);
    ASSERT_EQ(BuildTrackList(settings, 0), 0);
    std::vector<uint32_t> lengths;
    for (const auto& track : settings.tracks) lengths.push_back(track.lengthSectors);
    EXPECT_EQ(lengths, c.lengths) << c.tracks.size() << " tracks from " << c.tracks[0].length;
  }
  SetCdDevices({});
}

TEST(ParanoiaBlock, ASkipOrAReadErrorReportedDuringABlockFailsIt) {
  const struct {
    std::vector<paranoia_cb_mode_t> modes;  // reported while the second sector is read
    bool nothingRead;
    bool ok;
  } cases[] = {
      {{}, false, true},
      {{PARANOIA_CB_READ, PARANOIA_CB_VERIFY, PARANOIA_CB_FIXUP_EDGE, PARANOIA_CB_DRIFT},
       false,
       true},
      {{PARANOIA_CB_SKIP}, false, false},
      {{PARANOIA_CB_READ, PARANOIA_CB_READERR}, false, false},
      {{}, true, false},
  };
  std::vector<int16_t> samples(kSectorBytes / 2, 0x1234);
  std::vector<uint8_t> out(3 * kSectorBytes);
  for (const auto& c : cases) {
    int calls = 0;
    auto read = [&](ParanoiaCallback callback) -> int16_t* {
      if (++calls != 2) return samples.data();
      for (auto mode : c.modes) callback(588 * 2, mode);
      return c.nothingRead ? nullptr : samples.data();
    };
    EXPECT_EQ(ReadParanoiaBlock(read, 3, out.data()), c.ok) << c.modes.size();
    // The next block starts clean.
    calls = 10;
    EXPECT_TRUE(ReadParanoiaBlock(read, 3, out.data()));
    EXPECT_EQ(out[3 * kSectorBytes - 2], 0x34);
    EXPECT_EQ(out[3 * kSectorBytes - 1], 0x12);
  }
}

}  // namespace
