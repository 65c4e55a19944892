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
  void OpenFrame(const std::string& lengths) {
    cue_ = MakeDiscAt(dir_ / "disc.cue", {"--lengths", lengths});
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
    int select, ripping, command, playedRow;  // select -1: as it was; played -1: nothing
  };
  const Row rows[] = {{-1, 0, IDC_PLAY, -1},      {-1, 0, IDC_NEXT, -1},
                      {-1, 0, IDC_PREVIOUS, -1},  {1, 0, IDC_PLAY, 1},
                      {-1, 0, IDC_NEXT, 2},       {-1, 0, IDC_NEXT, 0},
                      {-1, 0, IDC_PREVIOUS, 2},   {-1, 0, IDC_PREVIOUS, 1},
                      {-1, 0, IDC_STOP_PLAY, -1}, {0, 1, IDC_PLAY, -1}};
  OpenFrame("300,200,150");
  for (const Row& row : rows) {
    std::remove(played_.c_str());
    if (row.select >= 0) frame_->listView()->topLevelItem(row.select)->setSelected(true);
    ripSettings.ripping = row.ripping;
    ASSERT_TRUE(frame_->OnCommand(row.command));
    ripSettings.ripping = 0;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return MciStatusMode(frame_->playDeviceId()) != MciMode::kPlaying; }, 30000));
    SCOPED_TRACE(row.command);
    EXPECT_EQ(frame_->playDeviceOpen(), row.playedRow >= 0);
    if (row.playedRow < 0) {
      EXPECT_FALSE(FileExists(played_));
      continue;
    }
    EXPECT_EQ(frame_->playTrack(), row.playedRow + 1);
    const TrackRecord& t = ripSettings.tracks[size_t(row.playedRow)];
    ExpectPlayed(ReadFile(played_), TrackBytes(t.startSector, t.lengthSectors));
  }
  EXPECT_EQ(shown_, std::vector<std::string>{"Obrin: Please select a song!"});
  // Play during the rip was still a request: a failed disc read keeps the rows.
  std::remove(cue_.c_str());
  frame_->ReloadDisc();
  EXPECT_EQ(Rows(), 3);
}

TEST_F(PlaybackTest, FormatChangeAndEjectStopPlaybackFirst) {
  struct Row {
    int command, noCdDrives, rowsAfterReload;  // an ejected image reads as no disc
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
    bool rewrite;  // else removed
    int interval, rows;
  };
  const Row rows[] = {{true, 2000, 3}, {false, 1500, 0}};
  for (const Row& row : rows) {
    frame_->timer1().stop();
    if (row.rewrite) {
      MakeDiscAt(cue_, {"--lengths", "100,100,100"});
    } else {
      std::remove(cue_.c_str());
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return frame_->timer1().isActive(); }, 10000));
    EXPECT_EQ(frame_->timer1().interval(), row.interval) << row.rewrite;
    EXPECT_TRUE(QTest::qWaitFor([&] { return !frame_->timer1().isActive(); }, 10000));
    EXPECT_EQ(Rows(), row.rows) << row.rewrite;
  }
}

TEST_F(PlaybackTest, MciPlaysReadsAndRefuses) {
  struct Row {
    std::vector<std::string> disc;  // mkdisc's arguments
    const char* audio;              // "": the file plugin
    uint32_t track, start;
    bool opens, plays;
    MciNotice notice;  // kAborted: stopped at once
  };
  const Row rows[] = {
      {{"a.cue", "--lengths", "300,200"}, "", 2, 300, true, true, MciNotice::kSuccessful},
      {{"b.cue", "--lengths", "9000"}, "", 1, 0, true, true, MciNotice::kAborted},
      {{"c.cue", "--lengths", "300"}, "obrin_no_such_pcm", 1, 0, false, false, {}},
      {{"d.toc", "--lengths", "300,200", "--short", "50"},
       "",
       2,
       300,
       true,
       true,
       MciNotice::kFailure},
      {{"e.cue", "--lengths", "300,200", "--data-track", "2"}, "", 2, 300, true, false, {}},
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
    if (row.notice == MciNotice::kAborted) MciStop(device);
    if (plays) {
      EXPECT_EQ(ended.get_future().get(), row.notice);
    }
    MciClose(device);
    if (!plays) continue;
    const uint32_t sectors = (MciMsfMinute(msf) * 60 + MciMsfSecond(msf)) * 75 + MciMsfFrame(msf);
    const std::string track = TrackBytes(row.start, sectors), played = ReadFile(played_);
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
    std::string folder, opened;
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
      EXPECT_TRUE(
          QTest::qWaitFor([&] { return ReadFile(dir_ / "opened") == row.opened + "\n"; }, 10000))
          << ReadFile(dir_ / "opened");
    }
    EXPECT_EQ(shown_, row.shown);
  }
  setenv("PATH", savedPath.c_str(), 1);

  // The built file is a real compiled help file: its directory finds the pages.
  chmFile* chm = chm_open(builtHelp.c_str());
  ASSERT_NE(chm, nullptr);
  chmUnitInfo unit;
  for (const char* name : {"/index.html", "/formats.html", "/errors.html", "/playback.html"}) {
    ASSERT_EQ(chm_resolve_object(chm, name, &unit), CHM_RESOLVE_SUCCESS) << name;
  }
  std::string page(unit.length, '\0');
  chm_retrieve_object(chm, &unit, reinterpret_cast<unsigned char*>(page.data()), 0,
                      static_cast<LONGINT64>(unit.length));
  chm_close(chm);
  EXPECT_NE(page.find("Play this song?"), std::string::npos);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
