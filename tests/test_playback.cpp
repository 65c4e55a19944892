// Playback through ALSA's file plugin, eject, device changes, the help file and the links.
#include <chm_lib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QtCore/qtestsupport_core.h>
#include <cstdio>
#include <future>

#include <QApplication>

#include "app/main_frame.h"
#include "app/message_box.h"
#include "config/settings.h"
#include "disc/cd_device.h"
#include "disc/track_list.h"
#include "platform/mci.h"
#include "support/recording_host.h"
#include "support/test_env.h"
#include "ui/commands.h"
#include "ui/obrin_view.h"

namespace {

class PlaybackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("OBRIN_AUDIO_DEVICE", ("file:FILE=" + played_ + ",FORMAT=raw").c_str(), 1);
    SetMessageBoxHandler([this](const MessageBoxRequest& r) {
      shown_.push_back((r.caption + ": " + r.text).toStdString());
      return QMessageBox::Ok;
    });
  }
  void TearDown() override {
    frame_.reset();
    SetMessageBoxHandler({});
    SetCdImages({});
    unsetenv("OBRIN_AUDIO_DEVICE");
  }
  void MakeDisc(const std::string& lengths, const std::string& file = "disc.cue") {
    cue_ = MakeDiscAt(dir_ / file, {"--lengths", lengths});
  }
  void OpenFrame(const std::string& lengths) {
    MakeDisc(lengths);
    SetCdImages({cue_});
    PrepareRipSettings(dir_ / "out/", Mp3);
    frame_ = std::make_unique<CMainFrame>();
    frame_->timer1().stop();
    frame_->ReloadDisc();
  }
  int Rows() const { return frame_->listView()->topLevelItemCount(); }
  std::string TrackBytes(uint32_t start, uint32_t sectors) const {
    const std::string bin = ReadFile(cue_.substr(0, cue_.size() - 3) + "bin");
    return bin.substr(size_t{start} * kSectorBytes, size_t{sectors} * kSectorBytes);
  }
  std::string RowBytes(int row) const {
    const TrackRecord& t = ripSettings.tracks[size_t(row)];
    return TrackBytes(t.startSector, t.lengthSectors);
  }
  bool WaitForQuiet() {
    return QTest::qWaitFor(
        [&] { return MciStatusMode(frame_->playDeviceId()) != MciMode::kPlaying; }, 30000);
  }
  // What ALSA received is `expected`, then at most the silence that pads its last period.
  static void ExpectPlayed(const std::string& played, const std::string& expected) {
    ASSERT_GE(played.size(), expected.size());
    EXPECT_TRUE(played.compare(0, expected.size(), expected) == 0);
    EXPECT_EQ(played.find_first_not_of('\0', expected.size()), std::string::npos);
    EXPECT_LT(played.size() - expected.size(), size_t{kSectorBytes} * 4);
  }

  ScopedConfigHome config_;
  TempDir dir_;
  const std::string played_ = dir_ / "played.raw";
  std::string cue_;
  std::vector<std::string> shown_;
  std::unique_ptr<CMainFrame> frame_;
};

TEST_F(PlaybackTest, PlayPreviousAndNextPlayExactlyOneTrack) {
  struct Row {
    int select;  // -1: none
    int command;
    int playedRow;  // -1: nothing plays
  };
  const Row rows[] = {{-1, IDC_NEXT, -1},    {-1, IDC_PREVIOUS, -1}, {1, IDC_PLAY, 1},
                      {-1, IDC_NEXT, 2},     {-1, IDC_NEXT, 0},      {-1, IDC_PREVIOUS, 2},
                      {-1, IDC_PREVIOUS, 1}, {0, IDC_STOP_PLAY, -1}};
  OpenFrame("300,200,150");
  for (const Row& row : rows) {
    std::remove(played_.c_str());
    if (row.select >= 0) frame_->listView()->topLevelItem(row.select)->setSelected(true);
    ASSERT_TRUE(frame_->OnCommand(row.command));
    ASSERT_TRUE(WaitForQuiet());
    SCOPED_TRACE(row.command);
    if (row.playedRow < 0) {
      EXPECT_FALSE(FileExists(played_));
      continue;
    }
    EXPECT_TRUE(frame_->playDeviceOpen());
    EXPECT_EQ(frame_->playTrack(), row.playedRow + 1);
    ExpectPlayed(ReadFile(played_), RowBytes(row.playedRow));
  }
  EXPECT_FALSE(frame_->playDeviceOpen());
  EXPECT_EQ(shown_, std::vector<std::string>{});
}

TEST_F(PlaybackTest, PlayRefusalsAndTheRequestThatKeepsTheRows) {
  OpenFrame("300,200");
  frame_->OnCommand(IDC_PLAY);
  EXPECT_EQ(shown_, std::vector<std::string>{"Obrin: Please select a song!"});
  frame_->listView()->topLevelItem(0)->setSelected(true);
  ripSettings.ripping = 1;
  frame_->OnCommand(IDC_PLAY);
  ripSettings.ripping = 0;
  EXPECT_EQ(shown_.size(), 1u);
  EXPECT_FALSE(frame_->playDeviceOpen());
  EXPECT_FALSE(FileExists(played_));
  std::remove(cue_.c_str());
  frame_->ReloadDisc();
  EXPECT_EQ(Rows(), 2);
}

TEST_F(PlaybackTest, FormatChangeAndEjectStopPlaybackFirst) {
  struct Row {
    int command;
    bool noCdDrives;
    int rowsAfterReload;  // an ejected image reads as no disc
  };
  const Row rows[] = {{ID_FORMAT_WAV, false, 2}, {IDC_EJECT, true, 2}, {IDC_EJECT, false, 0}};
  OpenFrame("300,200");
  for (const Row& row : rows) {
    frame_->listView()->topLevelItem(0)->setSelected(true);
    frame_->Play();
    ASSERT_TRUE(frame_->playDeviceOpen());
    frame_->noCdDrives = row.noCdDrives;
    frame_->OnCommand(row.command);
    EXPECT_EQ(frame_->playDeviceOpen(), row.noCdDrives) << row.command;
    frame_->StopPlayback();
    frame_->noCdDrives = false;
    frame_->ReloadDisc();
    EXPECT_EQ(Rows(), row.rowsAfterReload) << row.command;
  }
}

TEST_F(PlaybackTest, DeviceChangesRestartTimer1AndAChangedImageReloads) {
  OpenFrame("300,200");
  frame_->WatchDevices({cue_});
  frame_->OnCommand(IDC_EJECT);
  frame_->ReloadDisc();
  ASSERT_EQ(Rows(), 0);
  struct Row {
    const char* action;
    int interval;
    int rows;
  };
  const Row rows[] = {{"rewrite", 2000, 3}, {"remove", 1500, 0}};
  for (const Row& row : rows) {
    frame_->timer1().stop();
    if (row.action == std::string("rewrite")) {
      MakeDisc("100,100,100");
    } else {
      std::remove(cue_.c_str());
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return frame_->timer1().isActive(); }, 10000));
    EXPECT_EQ(frame_->timer1().interval(), row.interval) << row.action;
    EXPECT_TRUE(QTest::qWaitFor([&] { return !frame_->timer1().isActive(); }, 10000));
    EXPECT_EQ(Rows(), row.rows) << row.action;
  }
}

TEST_F(PlaybackTest, MciPlaysReadsAndRefuses) {
  struct Row {
    std::vector<std::string> disc;  // mkdisc's arguments
    const char* audio;              // "": the file plugin
    uint32_t track;
    bool stopAtOnce;
    bool opens;
    bool plays;
    MciNotice notice;
  };
  const Row rows[] = {
      {{"a.cue", "--lengths", "300,200"}, "", 2, false, true, true, MciNotice::kSuccessful},
      {{"b.cue", "--lengths", "9000"}, "", 1, true, true, true, MciNotice::kAborted},
      {{"c.cue", "--lengths", "300"}, "obrin_no_such_pcm", 1, false, false, false, {}},
      {{"d.toc", "--lengths", "300,200", "--short", "50"},
       "",
       2,
       false,
       true,
       true,
       MciNotice::kFailure},
      {{"e.cue", "--lengths", "300,200", "--data-track", "2"}, "", 2, false, true, false, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.disc[0]);
    cue_ = MakeDiscAt(dir_ / row.disc[0], {row.disc.begin() + 1, row.disc.end()});
    SetCdImages({cue_});
    if (*row.audio) setenv("OBRIN_AUDIO_DEVICE", row.audio, 1);
    const MciDeviceId device = MciOpenCdAudio(cue_, true);
    setenv("OBRIN_AUDIO_DEVICE", ("file:FILE=" + played_ + ",FORMAT=raw").c_str(), 1);
    ASSERT_EQ(device != kNoMciDevice, row.opens);
    if (!row.opens) continue;
    uint32_t msf = 0;
    ASSERT_TRUE(MciSetTimeFormatTmsf(device) && MciStatusLength(device, row.track, msf));
    std::promise<MciNotice> ended;
    const uint32_t to =
        MciMakeTmsf(row.track, MciMsfMinute(msf), MciMsfSecond(msf), MciMsfFrame(msf));
    const bool plays = MciPlay(device, MciMakeTmsf(row.track, 0, 0, 0), to,
                               [&](MciNotice n) { ended.set_value(n); });
    ASSERT_EQ(plays, row.plays);
    if (row.stopAtOnce) MciStop(device);
    if (plays) {
      EXPECT_EQ(ended.get_future().get(), row.notice);
    }
    MciClose(device);
    if (!plays) continue;
    RipSettings disc;
    EnumerateCdDrives(disc);
    ASSERT_EQ(BuildTrackList(disc, 0), 0);
    const uint32_t sectors = (MciMsfMinute(msf) * 60 + MciMsfSecond(msf)) * 75 + MciMsfFrame(msf);
    const std::string track = TrackBytes(disc.tracks[row.track - 1].startSector, sectors);
    const std::string played = ReadFile(played_);
    if (row.notice == MciNotice::kSuccessful) {
      ExpectPlayed(played, track);
    } else {
      EXPECT_LT(played.size(), track.size());
      EXPECT_EQ(played, track.substr(0, played.size()));
    }
  }
}

TEST_F(PlaybackTest, HelpFileAndLinksOpenThroughXdgOpen) {
  const std::string bin = dir_ / "bin";
  ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
  WriteFile(bin + "/xdg-open", "#!/bin/sh\necho \"$1\" >> \"" + (dir_ / "opened") + "\"\n");
  chmod((bin + "/xdg-open").c_str(), 0755);
  const std::string savedPath = std::getenv("PATH");
  setenv("PATH", (bin + ":" + savedPath).c_str(), 1);
  OpenFrame("300");
  struct Row {
    int command;
    std::string folder;
    std::string opened;
    std::vector<std::string> shown;
  };
  const std::string builtHelp = GetProgramFolder() + "help.chm";
  const Row rows[] = {
      {ID_HELP_FILE, GetProgramFolder(), builtHelp, {}},
      {ID_HELP_FILE, dir_ / "", "", {"Error: Don't open help file!"}},
      {ID_HOME_PAGE, "", CMainFrame::kHomePage, {}},
      {ID_SEND_MAIL, "", CMainFrame::kMailAddress, {}},
  };
  for (const Row& row : rows) {
    std::remove((dir_ / "opened").c_str());
    shown_.clear();
    frame_->programFolder = row.folder;
    ASSERT_TRUE(frame_->OnCommand(row.command));
    if (!row.opened.empty()) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return FileExists(dir_ / "opened"); }, 10000));
      EXPECT_EQ(ReadFile(dir_ / "opened"), row.opened + "\n");
    }
    EXPECT_EQ(shown_, row.shown);
  }
  setenv("PATH", savedPath.c_str(), 1);

  // The built file is a real compiled help file: its directory lists the pages.
  chmFile* chm = chm_open(builtHelp.c_str());
  ASSERT_NE(chm, nullptr);
  std::vector<std::string> pages;
  chm_enumerate(
      chm, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES,
      [](chmFile*, chmUnitInfo* unit, void* context) {
        static_cast<std::vector<std::string>*>(context)->push_back(unit->path);
        return CHM_ENUMERATOR_CONTINUE;
      },
      &pages);
  chmUnitInfo unit;
  ASSERT_EQ(chm_resolve_object(chm, "/playback.html", &unit), CHM_RESOLVE_SUCCESS);
  std::string page(unit.length, '\0');
  chm_retrieve_object(chm, &unit, reinterpret_cast<unsigned char*>(page.data()), 0,
                      static_cast<LONGINT64>(unit.length));
  chm_close(chm);
  for (const char* name : {"/index.html", "/formats.html", "/errors.html", "/obrin-rip.html"}) {
    EXPECT_NE(std::find(pages.begin(), pages.end(), name), pages.end()) << name;
  }
  EXPECT_NE(page.find("Play this song?"), std::string::npos);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
