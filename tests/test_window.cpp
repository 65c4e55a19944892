// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// The window, its dialogs and playback on Qt's offscreen platform, and the real program under
// Xvfb. Faults guarded:
// - a control misplaced, unnamed or not following the width; the minimum size; Escape closing
// - accelerators or popup items reaching the wrong command; the format radio mark and column
// - progress of a rebuilt list landing on the new rows; the AccurateRip column not shown (or
//   moving the five) when rips are verified
// - a rip with no disc or no ticked track; a command, double-click or the format button
//   acting during a rip
// - the Rip button and drive box not following the rip; Stop while an error box is open
//   hanging; closing during a rip leaving the worker running
// - the sheet storing unopened pages or values its lists cannot show, Apply lit by keys, the
//   Ogg mode boxes not one choice, Default/Apply/Cancel storing the wrong values
// - the output folder without its separator, stored or reloaded on Cancel
// - the ID3 editor's length limits and Cancel storing
// - tips: piece size, comments and blank-led lines shown, no wrap, a changed file not read
//   from the top, bad places in the profile, Escape storing the start-up box
// - playback past its track, Next/Previous not wrapping, a play request during a rip lost,
//   playback left on over a format change or eject, an ejected image still loading
// - MCI: a stop or read failure reported as success; a missing audio device or data track taken
// - device changes not restarting timer 1 at its period; help file and links not opened
// - no drive refusing the start, a second instance starting, a stale lock refusing it
// - command-line errors accepted; images not taken from the command line
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <future>
#include <map>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QShortcut>
#include <QSignalSpy>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTimer>
#include <QUrl>
#include <QtTest/QTest>

#include "app/about_dlg.h"
#include "app/app_options.h"
#include "app/config_sheet.h"
#include "app/id3_tag_dlg.h"
#include "app/main_frame.h"
#include "app/message_box.h"
#include "app/obrin_app.h"
#include "app/output_path_dlg.h"
#include "app/profile_store.h"
#include "app/tip_of_day_dlg.h"
#include "disc/cd_device.h"
#include "playback/mci.h"
#include "rip/rip_log.h"
#include "rip/rip_status.h"
#include "support/gui/window_test.h"
#include "support/http_server.h"
#include "support/named_control.h"
#include "support/recording_host.h"
#include "support/test_env.h"
#include "ui/commands.h"
#include "ui/obrin_view.h"
#include "widgets/bitmap_button.h"
#include "widgets/popup_menu.h"

namespace {

// An xdg-open first on PATH, for the object's life, that appends its argument to `log`.
class FakeXdgOpen {
 public:
  explicit FakeXdgOpen(const TempDir& dir) : log(dir / "opened"), savedPath_(std::getenv("PATH")) {
    mkdir((dir / "bin").c_str(), 0755);
    WriteFile(dir / "bin/xdg-open", "#!/bin/sh\necho \"$1\" >> \"" + log + "\"\n");
    chmod((dir / "bin/xdg-open").c_str(), 0755);
    setenv("PATH", (dir / "bin:" + savedPath_).c_str(), 1);
  }
  ~FakeXdgOpen() { setenv("PATH", savedPath_.c_str(), 1); }
  const std::string log;

 private:
  const std::string savedPath_;
};

TEST_F(WindowTest, BarControlsFollowTheOuterWidth) {
  OpenFrame("300");
  struct Row {
    int width;
    const char* name;
    QRect rect;
  };
  std::vector<Row> rows = {
      {600, "Menu", {9, 8, 30, 31}},
      {600, "Help", {51, 15, 22, 22}},
      {600, "Configuration", {80, 11, 26, 25}},
      {600, "Output format", {116, 11, 26, 25}},
      {600, "CD drive", {215, 6, 185, 24}},
      {600, "Rip", {464, 3, 60, 27}},
      {600, "Output folder", {407, 4, 17, 17}},
      {600, "Home page", {524, 4, 20, 20}},
      {600, "E-mail", {547, 4, 20, 20}},
      {900, "CD drive", {215, 6, 485, 24}},
      {900, "Rip", {764, 3, 60, 27}},
      {900, "E-mail", {847, 4, 20, 20}},
  };
  const char* playBar[] = {"Output folder", "Select all",     "Refresh",
                           "Edit ID3 tag",  "Previous track", "Next track",
                           "Eject",         "Play",           "Stop playback"};
  for (int i = 0; i < 9; ++i) rows.push_back({900, playBar[i], {707 + 20 * i, 4, 17, 17}});
  frame_->show();
  const int margins = frame_->frameGeometry().width() - frame_->width();
  for (const Row& row : rows) {
    frame_->resize(row.width - margins, 445);
    QWidget* control = Named<QWidget>(frame_.get(), row.name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->geometry(), row.rect) << row.name << " at W " << row.width;
    if (auto* button = qobject_cast<CBitmapButton*>(control)) {
      EXPECT_EQ(button->toolTip(), QLatin1String(row.name));
    }
  }
  EXPECT_EQ(frame_->listView()->accessibleName(), QLatin1String("Tracks"));
  frame_->resize(100, 100);
  EXPECT_EQ(frame_->frameGeometry().size(), QSize(600, 445));
  EXPECT_EQ(frame_->windowTitle(), QLatin1String("Obrin 2.0"));
}

TEST_F(WindowTest, AcceleratorsNameTheirCommandsAndEscapeDoesNothing) {
  OpenFrame("300");
  std::map<QString, int> commands;
  for (QShortcut* s : frame_->findChildren<QShortcut*>()) {
    commands[s->key().toString()] = s->property("command").toInt();
  }
  EXPECT_EQ(commands, (std::map<QString, int>{{"Ctrl+E", ID_EDIT_ID3},
                                              {"Ctrl+O", ID_OUTPUT_PATH},
                                              {"Ctrl+S", ID_CONFIGURATION},
                                              {"Ctrl+T", ID_TRACK_TITLES}}));
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
  QObject* frame = frame_.get();  // the filter is public on QObject
  EXPECT_TRUE(frame->eventFilter(frame_->listView(), &escape));
  EXPECT_FALSE(frame->eventFilter(frame_->listView(), &space));
}

TEST_F(WindowTest, FormatCommandsMoveTheRadioMarkAndTheFormatColumn) {
  OpenFrame("300");
  struct Row {
    int command;
    const char* checked;
    const char* rowFormat;
  };
  const Row rows[] = {{ID_FORMAT_WAV, "CD to Wav", "WAV - default sample rate"},
                      {ID_FORMAT_OGG, "CD to Ogg", "OGG VBR Q0.45 (141 kbps)"},
                      {ID_FORMAT_FLAC, "CD to Flac", "FLAC level 5"},
                      {ID_FORMAT_OPUS, "CD to Opus", "OPUS 160 kbps VBR"},
                      {ID_FORMAT_MP3, "CD to Mp3", "MP3 128-192 kbps VBR Q3"}};
  for (const Row& row : rows) {
    ASSERT_TRUE(frame_->OnCommand(row.command));
    emit frame_->formatPopup()->aboutToShow();
    QStringList checked;
    for (QAction* a : frame_->formatPopup()->actions()) {
      if (a->isChecked()) checked << a->text();
    }
    EXPECT_EQ(checked, QStringList{QLatin1String(row.checked)});
    EXPECT_EQ(Cell(0, 2), QLatin1String(row.rowFormat));
  }
  QStringList items;
  for (QAction* a : frame_->formatPopup()->actions()) items << a->text();
  EXPECT_EQ(items.join('|'), QLatin1String("CD to Mp3|CD to Wav|CD to Ogg|CD to Flac|CD to Opus"));
}

TEST_F(WindowTest, RowsAfterReloadAndProgressAndStaleProgressDropped) {
  OpenFrame("4500,3000");
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(QStringList({Cell(1, 0), Cell(1, 1), Cell(1, 3), Cell(1, 4)}),
            QStringList({"Track 02", "00:40", "Pending", QString::fromStdString(out_)}));
  EXPECT_TRUE(frame_->listView()->RowChecked(0) && frame_->listView()->RowChecked(1));
  GuiRipHost& host = frame_->ripHost();
  host.BeginJob(frame_->listGeneration());
  ripSettings.tracks[1].status = 42;
  host.PostProgress(ripSettings.tracks[1]);
  QCoreApplication::sendPostedEvents(frame_.get());
  EXPECT_EQ(Cell(1, 3), QLatin1String("42%"));
  // Progress still queued when the list is rebuilt refers to destroyed records.
  ripSettings.tracks[0].status = 55;
  host.PostProgress(ripSettings.tracks[0]);
  frame_->ReloadDisc();
  ripSettings.tracks[0].status = 33;  // what a stale event would show if it touched the row
  QCoreApplication::sendPostedEvents(frame_.get());
  EXPECT_EQ(Cell(0, 3), QLatin1String("Pending"));
  // The widths of the Windows original where the font lets the texts fit (a small one), more
  // where it does not (the desktop's default, twice its size): the Status column fits
  // "Completed", the Output Format column MP3's longest text. Verified rips add a sixth
  // column after the five, which keep their widths.
  CObrinView& view = *frame_->listView();
  const QFont font = view.font();
  for (const double scale : {0.5, 1.0, 2.0}) {
    QFont scaled = font;
    scaled.setPointSizeF(font.pointSizeF() * scale);
    view.setFont(scaled);
    view.header()->setFont(scaled);
    std::vector<int> widths[2];
    for (int32_t verify : {1, 0}) {
      ripSettings.verifyAccurateRip = verify;
      frame_->ReloadDisc();
      EXPECT_EQ(view.headerItem()->text(view.columnCount() - 1),
                verify ? "AccurateRip" : "Output Path");
      for (int c = 0; c < 5; ++c) widths[verify].push_back(view.columnWidth(c));
    }
    SCOPED_TRACE(scale);
    EXPECT_EQ(widths[0], widths[1]);
    EXPECT_TRUE(scale > 0.5 || widths[0] == (std::vector<int>{120, 70, 172, 70, 150}));
    EXPECT_GE(widths[0][3], view.WidthFor(3, QStringLiteral("Completed")));
    EXPECT_GE(widths[0][2], view.WidthFor(2, QStringLiteral("MP3 320-320 kbps VBR Q10")));
    EXPECT_GE(widths[0][2], 172);
    EXPECT_TRUE(scale < 2.0 || widths[0][3] > 70);
  }
  view.setFont(font);
  view.header()->setFont(font);
  ripSettings.verifyAccurateRip = 1;
  frame_->ReloadDisc();
  host.BeginJob(frame_->listGeneration());
  ripSettings.tracks[1].accurateRip = "Accurately ripped (confidence 4, v2)";
  host.PostProgress(ripSettings.tracks[1]);
  QCoreApplication::sendPostedEvents(frame_.get());
  EXPECT_EQ(Cell(1, 5), QLatin1String("Accurately ripped (confidence 4, v2)"));
  // With the CUETools database's verdict after it, in a column that fits both.
  ripSettings.tracks[1].ctdb = "Accurately ripped (199/200), offset -2939";
  host.PostProgress(ripSettings.tracks[1]);
  QCoreApplication::sendPostedEvents(frame_.get());
  EXPECT_EQ(Cell(1, 5), QLatin1String("Accurately ripped (confidence 4, v2); CTDB: Accurately "
                                      "ripped (199/200), offset -2939"));
  EXPECT_GE(view.columnWidth(5), view.WidthFor(5, Cell(1, 5)));
}

// Music before track 1's index 1 is a first row of its own, "Hidden Track", and progress
// reaches the rows of the records behind it; silence there adds no row.
TEST_F(WindowTest, AHiddenTrackBeforeTrackOneIsTheFirstRowOnlyWhenItHoldsAudio) {
  LoadDisc("4500,3000", Wav);
  std::string bin = ReadFile(dir_ / "disc.bin");
  for (const bool music : {true, false}) {
    SCOPED_TRACE(music);
    if (!music) std::fill(bin.begin(), bin.begin() + 150 * 2352, '\0');
    WriteFile(dir_ / "hidden.bin", bin);
    WriteFile(dir_ / "hidden.cue",
              "FILE \"hidden.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:02:00\n"
              "  TRACK 02 AUDIO\n    INDEX 01 01:00:00\n");
    SetCdImages({dir_ / "hidden.cue"});
    frame_ = std::make_unique<CMainFrame>();
    frame_->timer1().stop();
    frame_->ReloadDisc();
    ASSERT_EQ(Rows(), music ? 3 : 2);
    EXPECT_EQ(Cell(0, 0), music ? QLatin1String("Hidden Track") : QLatin1String("Track 01"));
    EXPECT_EQ(Cell(Rows() - 1, 0), QLatin1String("Track 02"));
    GuiRipHost& host = frame_->ripHost();
    host.BeginJob(frame_->listGeneration());
    ripSettings.tracks.back().status = 42;
    host.PostProgress(ripSettings.tracks.back());
    QCoreApplication::sendPostedEvents(frame_.get());
    EXPECT_EQ(Cell(Rows() - 1, 3), QLatin1String("42%"));
  }
}

TEST_F(WindowTest, RipRefusedWithoutATickedTrackOrADisc) {
  OpenFrame("300", Wav);
  frame_->listView()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
  frame_->OnRip();
  frame_->DeleteAllRows();
  frame_->OnRip();
  EXPECT_EQ(boxes_, (std::vector<std::string>{"Help: Please mark song that you like! ",
                                              "Help: No Audio CD found!"}));
  EXPECT_FALSE(frame_->ripButtonIsStop());
  EXPECT_EQ(ripSettings.ripping, 0);
}

TEST_F(WindowTest, CommandsOpenTheirDialogsAskOrAreRefusedDuringARip) {
  OpenFrame("300");
  constexpr int kDoubleClick = 0, kDoubleClickOnNothing = -1;
  const std::string busy = "Help: You are currently ripping.";
  struct Row {
    int command;
    bool ripping;
    bool accept;
    const char* dialog;  // "": none opened
    bool reload;
    std::vector<std::string> boxes;
  };
  const Row rows[] = {
      {ID_CONFIGURATION, false, false, "CConfigSheet", true, {}},
      {IDC_CONFIG, false, true, "CConfigSheet", true, {}},
      {IDC_CONFIG, true, false, "", false, {busy}},
      {ID_OUTPUT_PATH, false, false, "COutputPathDlg", false, {}},
      {IDC_OUTPUT_FOLDER, false, true, "COutputPathDlg", true, {"Help: Setting Completed!"}},
      {ID_OUTPUT_PATH, true, false, "", false, {busy}},
      {ID_EDIT_ID3, false, true, "CId3TagDlg", false, {}},
      {IDC_EDIT, true, false, "", false, {busy}},
      {ID_TIP_OF_DAY, false, true, "CTipOfDayDlg", false, {}},
      {IDC_TOOL, true, false, "", false, {busy}},
      {kDoubleClickOnNothing, false, false, "", false, {}},
      {kDoubleClick, false, false, "", false, {"Obrin: Play this song?"}},
      {kDoubleClick, true, false, "", false, {busy}},
  };
  for (const Row& row : rows) {
    frame_->listView()->clearSelection();
    if (row.command == kDoubleClick) frame_->listView()->topLevelItem(0)->setSelected(true);
    ripSettings.ripping = row.ripping ? 1 : 0;
    boxes_.clear();
    std::string opened;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      opened = dialog->metaObject()->className();
      if (auto* sheet = qobject_cast<CConfigSheet*>(dialog))
        sheet->mp3Page()->slider()->setValue(5);
      row.accept ? dialog->accept() : dialog->reject();
    });
    const uint64_t generation = frame_->listGeneration();
    bool viaPopup = false;  // the popup's items reach the same handlers as the buttons
    for (QAction* a : frame_->mainPopup()->actions()) {
      if (CommandOf(a) == row.command) viaPopup = (a->trigger(), true);
    }
    if (row.command <= kDoubleClick) {
      frame_->OnListDoubleClick();
    } else {
      ASSERT_TRUE(viaPopup || frame_->OnCommand(row.command));
    }
    QCoreApplication::processEvents();
    ripSettings.ripping = 0;
    EXPECT_EQ(opened, row.dialog) << row.command;
    EXPECT_EQ(frame_->listGeneration() != generation, row.reload) << row.command;
    EXPECT_EQ(boxes_, row.boxes) << row.command;
    EXPECT_FALSE(frame_->formatPopup()->isVisible());
  }
  EXPECT_EQ(Cell(0, 2), QLatin1String("MP3 128-192 kbps VBR Q6"));
}

TEST_F(WindowTest, StopWhileTheErrorBoxIsOpenDoesNotHang) {
  WriteFile(dir_ / "file", "x");
  OpenFrame("150,100", Wav, dir_ / "file/");
  answer_ = [&](const MessageBoxRequest& r) {
    if (r.caption == QLatin1String("Obrin error")) frame_->OnRip();  // Stop, box still open
  };
  frame_->OnRip();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !frame_->ripButtonIsStop(); }, 60000));
  EXPECT_EQ(ripFinished, 1);
  ASSERT_FALSE(boxes_.empty());
  EXPECT_EQ(boxes_[0].rfind("Obrin error: ", 0), 0u) << boxes_[0];
  EXPECT_EQ(Cell(1, 3), QLatin1String("Stopped"));
  EXPECT_EQ(frame_->button(IDC_RIP, BarId::kMain)->accessibleName(), QLatin1String("Rip"));
  EXPECT_TRUE(frame_->driveCombo()->isEnabled());
}

TEST_F(WindowTest, CloseDuringARipStopsTheJob) {
  OpenFrame("9000,9000");
  frame_->show();
  frame_->button(IDC_RIP, BarId::kMain)->click();
  EXPECT_EQ(frame_->button(IDC_RIP, BarId::kMain)->accessibleName(), QLatin1String("Stop"));
  EXPECT_FALSE(frame_->driveCombo()->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return ripSettings.tracks[0].status > 0; }, 60000));
  EXPECT_TRUE(frame_->close());
  EXPECT_EQ(boxes_, std::vector<std::string>{});
  EXPECT_EQ(ripFinished, 1);
  EXPECT_EQ(ripSettings.ripping, 0);
  EXPECT_NE(ripSettings.tracks[1].status, kStatusCompleted);
}

class DialogTest : public WindowTest {
 protected:
  void SetUp() override {
    LoadDisc("300", Mp3);
    SaveSettings(ripSettings);
  }
};

TEST_F(DialogTest, SheetOpenedOnWavStoresTheOpenedPagesOnlyAndWritesTheFile) {
  ripSettings.outputFormat = Wav;
  ripSettings.formats.mp3.bitrate = 40;     // beyond the list: stored back as it was
  ripSettings.formats.mp3.vbrQuality = 12;  // beyond the slider: the same
  CConfigSheet sheet;
  EXPECT_EQ(sheet.tabs()->currentIndex(), 1);
  EXPECT_TRUE(sheet.mp3Page()->pageInitialized && sheet.wavPage()->pageInitialized);
  EXPECT_FALSE(sheet.oggPage()->pageInitialized || sheet.applyButton()->isEnabled());
  ripSettings.formats.mp3 = Mp3Settings{.channels = 0};  // the page's copy comes back
  ripSettings.formats.ogg.vbrQuality = 4;                // never opened: kept
  std::remove(config_.iniPath().c_str());
  sheet.accept();
  const Mp3Settings& mp3 = ripSettings.formats.mp3;
  EXPECT_EQ(std::vector({mp3.channels, mp3.bitrate, mp3.vbrQuality}), std::vector({1, 40, 12}));
  EXPECT_EQ(ripSettings.formats.ogg.vbrQuality, 4);
  EXPECT_NE(Ini().find("bitrate=128 kbps\n"), std::string::npos) << Ini();
  EXPECT_NE(Ini().find("[OGG Setting]"), std::string::npos);
}

// FLAC's page: opened on when FLAC is the format, its list marks the default, Default and OK
// store the digit.
TEST_F(DialogTest, FlacPageOpensForFlacAndStoresTheLevel) {
  ripSettings.outputFormat = Flac;
  ripSettings.formats.flac.level = 8;
  CConfigSheet sheet;
  EXPECT_EQ(sheet.tabs()->currentIndex(), 3);
  EXPECT_EQ(sheet.tabs()->tabText(3), QLatin1String(" FLAC Setting "));
  auto* level = Named<QComboBox>(sheet.flacPage(), "Compression level");
  ASSERT_NE(level, nullptr);
  EXPECT_EQ(level->count(), 9);
  EXPECT_EQ(level->itemText(5) + level->currentText(), QLatin1String("5 (default)8"));
  Named<QPushButton>(sheet.flacPage(), "Default")->click();
  level->setCurrentIndex(level->currentIndex() - 2);
  sheet.accept();
  EXPECT_EQ(ripSettings.formats.flac.level, 3);
  EXPECT_NE(Ini().find("[FLAC Setting]\nlevel=3\n"), std::string::npos) << Ini();
}

// Opus's page likewise, its three lists stored as the file's texts.
TEST_F(DialogTest, OpusPageOpensForOpusAndStoresItsKeys) {
  ripSettings.outputFormat = Opus;
  ripSettings.formats.opus = {.bitrate = 0, .mode = kOpusCbr, .complexity = 3};
  CConfigSheet sheet;
  EXPECT_EQ(sheet.tabs()->currentIndex(), 4);
  EXPECT_EQ(sheet.tabs()->tabText(4), QLatin1String(" OPUS Setting "));
  auto* bitrate = Named<QComboBox>(sheet.opusPage(), "Bitrate");
  auto* mode = Named<QComboBox>(sheet.opusPage(), "Mode");
  auto* complexity = Named<QComboBox>(sheet.opusPage(), "Complexity");
  ASSERT_TRUE(bitrate && mode && complexity);
  EXPECT_EQ(bitrate->count() + mode->count() + complexity->count(), 481 + 3 + 11);
  EXPECT_EQ(bitrate->currentText() + "|" + mode->currentText() + "|" + complexity->currentText(),
            QLatin1String("32 kbps|CBR|3"));
  Named<QPushButton>(sheet.opusPage(), "Default")->click();
  EXPECT_EQ(bitrate->currentText() + "|" + mode->currentText() + "|" + complexity->currentText(),
            QLatin1String("160 kbps (default)|VBR|10 (default)"));
  mode->setCurrentIndex(kOpusConstrainedVbr);
  bitrate->setCurrentIndex(512 - kOpusMinKbps);
  sheet.accept();
  EXPECT_NE(Ini().find("[OPUS Setting]\nbitrate=512 kbps\nmode=Constrained VBR\ncomplexity=10\n"),
            std::string::npos)
      << Ini();
}

TEST_F(DialogTest, DefaultThenCancelOrApplyThenCancel) {
  for (const bool apply : {false, true}) {
    ripSettings.formats.mp3.bitrate = 3;
    SaveSettings(ripSettings);
    CConfigSheet sheet;
    Named<QPushButton>(sheet.mp3Page(), "Default")->click();
    EXPECT_TRUE(sheet.applyButton()->isEnabled());
    if (apply) sheet.applyButton()->click();
    EXPECT_EQ(sheet.applyButton()->isEnabled(), !apply);
    sheet.reject();
    EXPECT_EQ(ripSettings.formats.mp3.bitrate, apply ? 8 : 3);
    EXPECT_NE(Ini().find(apply ? "bitrate=128 kbps" : "bitrate=56 kbps"), std::string::npos);
  }
}

TEST_F(DialogTest, SliderLabelAndApplyOnlyOnMouseRelease) {
  ripSettings.outputFormat = Ogg;
  CConfigSheet sheet;
  CPage3Ogg* ogg = sheet.oggPage();
  EXPECT_EQ(ogg->qualityLabel()->text(), QLatin1String("0.45 (141 kbps)"));
  sheet.mp3Page()->slider()->setValue(9);
  EXPECT_EQ(sheet.mp3Page()->qualityLabel()->text(), QLatin1String("VBR quality 10"));
  QTest::keyClick(ogg->slider(), Qt::Key_Right);
  EXPECT_EQ(ogg->qualityLabel()->text(), QLatin1String("0.50 (155 kbps)"));
  EXPECT_EQ(ogg->values.vbrQuality, 10);
  EXPECT_FALSE(sheet.applyButton()->isEnabled());
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(ogg->slider(), &release);
  EXPECT_TRUE(sheet.applyButton()->isEnabled());
}

TEST_F(DialogTest, OggModeBoxesActAsOneChoice) {
  WriteFile(config_.iniPath(), "[Output]\nPath=" + out_ + "\n[OGG Setting]\nusecbr=TRUE\n");
  LoadDefaultSettings(ripSettings);
  LoadSettings(ripSettings);
  ripSettings.outputFormat = Ogg;
  CConfigSheet sheet;
  auto ticks = [&] {
    std::string t;
    for (const char* name : {"Enable Constant bitrate", "Enable Burstable bitrate", "Enable VBR"})
      t += Named<QCheckBox>(sheet.oggPage(), name)->isChecked() ? '1' : '0';
    return t;
  };
  EXPECT_EQ(ticks(), "101");  // as loaded, until the user picks a mode
  for (int click = 0; click < 2; ++click) {
    Named<QCheckBox>(sheet.oggPage(), "Enable Burstable bitrate")->click();
    EXPECT_EQ(ticks(), "010");
  }
  Named<QCheckBox>(sheet.oggPage(), "Enable VBR")->click();
  EXPECT_EQ(ticks(), "001");
  Named<QCheckBox>(sheet.oggPage(), "Enable Burstable bitrate")->click();
  sheet.accept();
  for (const char* line : {"usecbr=FALSE\n", "usebbr=TRUE\n", "usevbr=FALSE\n"}) {
    EXPECT_NE(Ini().find(line), std::string::npos) << line;
  }
}

TEST_F(DialogTest, OutputFolderBrowseSaveAndCancel) {
  struct Row {
    const char* picked;  // "" : the picker cancelled
    bool save;
    const char* shown;
    const char* stored;  // nullptr: the record's folder unchanged
  };
  const Row rows[] = {{"/music", true, "/music/", "/music/"},
                      {"/", true, "//", "//"},
                      {"", true, nullptr, nullptr},
                      {"/elsewhere", false, "/elsewhere/", nullptr}};
  for (const Row& row : rows) {
    ripSettings.outputPath = "/no/slash";
    SaveSettings(ripSettings);
    boxes_.clear();
    SetFolderPicker([&](QWidget*, const QString& title) {
      EXPECT_EQ(title, QLatin1String("Select a folder:"));
      return QString::fromLatin1(row.picked);
    });
    COutputPathDlg dialog;
    EXPECT_TRUE(dialog.pathBox()->isReadOnly());
    dialog.browseButton()->click();
    EXPECT_EQ(dialog.pathBox()->text(), QLatin1String(row.shown ? row.shown : "/no/slash"));
    row.save ? dialog.accept() : dialog.reject();
    const std::string stored = row.stored ? row.stored : "/no/slash";
    EXPECT_EQ(ripSettings.outputPath, stored);
    EXPECT_NE(Ini().find("Path=" + stored + "\n"), std::string::npos) << Ini();
    EXPECT_EQ(boxes_, std::vector<std::string>(row.save, "Help: Setting Completed!"));
  }
}

TEST_F(DialogTest, Id3EditorLimitsOkAndCancel) {
  {
    CId3TagDlg dialog;
    EXPECT_EQ(dialog.albumEdit()->text() + dialog.artistEdit()->text() + dialog.yearEdit()->text(),
              QString());
    EXPECT_EQ(dialog.genreCombo()->currentText(), QLatin1String("Other"));
    EXPECT_FALSE(dialog.enableBox()->isChecked());
    QTest::keyClicks(dialog.yearEdit(), QStringLiteral("19x45"));
    QTest::keyClicks(dialog.albumEdit(), QString(100, QLatin1Char('a')));
    dialog.artistEdit()->setText(QStringLiteral("Artist"));
    dialog.genreCombo()->setCurrentIndex(17);
    dialog.enableBox()->setChecked(true);
    dialog.accept();
  }
  EXPECT_EQ(ripSettings.discYear, "19x4");
  EXPECT_EQ(ripSettings.discAlbum, std::string(81, 'a'));
  EXPECT_EQ(ripSettings.discArtist + std::to_string(ripSettings.discGenre), "Artist17");
  EXPECT_EQ(ripSettings.id3Enabled, 1);
  CId3TagDlg again;
  EXPECT_EQ(again.yearEdit()->text(), QLatin1String("19x4"));
  again.yearEdit()->setText(QStringLiteral("2000"));
  again.enableBox()->setChecked(false);
  again.reject();
  EXPECT_EQ(ripSettings.discYear + std::to_string(ripSettings.id3Enabled), "19x41");
}

// Look up, against a server of the test's: two releases (the second picked) fill the boxes
// while the dialog stays live; OK takes the titles in; Cancel takes nothing; a 404 says so.
TEST_F(WindowTest, LookUpFillsTheEditorAndOkTakesTheTitles) {
  OpenFrame("300,377,200");
  const std::string reply =
      R"({"releases":[)" + std::string(R"({"title":"First","artist-credit":[]},)") +
      R"({"title":"Second","date":"2004-02","artist-credit":[{"name":"Ann"}],)"
      R"("media":[{"discs":[{"id":"eVKOMoWw5AO_pDBAt79bU1lhYPQ-"}],"tracks":[)"
      R"({"title":"S1"},{"title":"S2","artist-credit":[{"name":"Guest"}]},{"title":"S3"}]}]}]})";
  std::atomic<int> status = 200;
  HttpTestServer server([&](const std::string&) { return HttpTestReply{status, reply}; });
  ripSettings.musicBrainzServer = server.Url();
  QStringList offered;
  CId3TagDlg::SetReleaseChooser([&](QWidget*, const QStringList& releases) {
    offered = releases;
    return 1;
  });
  const auto lookUp = [](CId3TagDlg& dialog) {
    QSignalSpy finished(&dialog, &CId3TagDlg::lookUpFinished);
    dialog.lookUpButton()->click();
    EXPECT_FALSE(dialog.lookUpButton()->isEnabled());  // one request at a time
    EXPECT_TRUE(finished.wait(10000));
  };
  {
    CId3TagDlg dialog(frame_.get());
    lookUp(dialog);
    dialog.reject();
  }
  EXPECT_EQ(offered.join('|'), QStringLiteral("1:  \u2013 First|2: Ann \u2013 Second (2004)"));
  EXPECT_EQ(ripSettings.tracks[0].title + ripSettings.Album(), "Track 01");
  {
    CId3TagDlg dialog(frame_.get());
    lookUp(dialog);
    EXPECT_EQ(dialog.albumEdit()->text() + dialog.artistEdit()->text() + dialog.yearEdit()->text(),
              QStringLiteral("SecondAnn2004"));
    dialog.accept();
  }
  EXPECT_EQ(ripSettings.tracks[1].title + "/" + ripSettings.ArtistOf(ripSettings.tracks[1]) + "/" +
                ripSettings.Album(),
            "S2/Guest/Second");
  status = 404;
  CId3TagDlg dialog(frame_.get());
  lookUp(dialog);
  EXPECT_EQ(boxes_.back(), "ID3 Tag Editor: Disc not found in MusicBrainz");
  CId3TagDlg::SetReleaseChooser({});
}

// Unasked, a loaded disc makes no request; asked, one per disc, whose names outlast a rebuild
// of the list; a disc MusicBrainz does not know says so in the state bar, without a box.
TEST_F(WindowTest, TheDiscIsLookedUpAsItLoadsOnlyWhenAskedAndOncePerDisc) {
  const std::string reply =
      R"({"releases":[{"title":"Second","artist-credit":[{"name":"Ann"}],"media":[{"discs":)"
      R"([{"id":"eVKOMoWw5AO_pDBAt79bU1lhYPQ-"}],"tracks":[{"title":"S1"},{"title":"S2"},)"
      R"({"title":"S3"}]}]}]})";
  HttpTestServer server([&](const std::string& path) {
    return path.find("eVKOMoWw5AO_pDBAt79bU1lhYPQ-") != std::string::npos
               ? HttpTestReply{200, reply}
               : HttpTestReply{404, ""};
  });
  LoadDisc("300,377,200", Wav);
  ripSettings.musicBrainzServer = server.Url();
  frame_ = std::make_unique<CMainFrame>();
  frame_->timer1().stop();
  frame_->ReloadDisc();
  QCoreApplication::processEvents();
  EXPECT_TRUE(server.Paths().empty());
  EXPECT_EQ(Cell(0, 0), QLatin1String("Track 01"));

  ripSettings.lookUpOnLoad = 1;
  frame_->ReloadDisc();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(0, 0) == QLatin1String("S1"); }, 10000));
  EXPECT_EQ(frame_->stateBar()->StateText(), QString::fromUtf8("Ann \u2013 Second   0:11"));
  frame_->OnCommand(ID_FORMAT_MP3);  // the same disc again: named without asking
  EXPECT_EQ(QStringList({Cell(0, 0), Cell(1, 0), Cell(2, 0)}), QStringList({"S1", "S2", "S3"}));
  EXPECT_EQ(server.Paths().size(), 1u);

  SetCdImages({MakeDiscAt(dir_ / "other.cue", {"--lengths", "450"})});
  frame_->ReloadDisc();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return frame_->stateBar()->StateText().contains("Disc not found in MusicBrainz"); },
      10000));
  EXPECT_EQ(Cell(0, 0), QLatin1String("Track 01"));
  EXPECT_TRUE(boxes_.empty());
}

// A picture picked or dropped in the tag editor is checked at once and becomes the rips' cover
// on OK only, for the disc it was picked for: a rebuilt list keeps it, another disc does not.
TEST_F(WindowTest, CoverPickedOrDroppedTakenOnOkForThatDiscOnly) {
  OpenFrame("300");
  const std::string png = dir_ / "front.png", page = dir_ / "portal.png";
  ASSERT_TRUE(QImage(4, 3, QImage::Format_RGB32).save(QString::fromStdString(png), "PNG"));
  WriteFile(page, "<html>Log in</html>");
  std::string picked;
  CId3TagDlg::SetCoverPicker([&](QWidget*) { return QString::fromStdString(picked); });
  const auto edit = [&] { frame_->OnCommand(ID_EDIT_ID3); };
  for (const std::string& path : {page, png}) {
    picked = path;
    WithDialog<CId3TagDlg>(
        edit, [](CId3TagDlg& d) { d.coverButton()->click(); }, "Cancel");
  }
  EXPECT_EQ(boxes_.back(),
            "ID3 Tag Editor: Cover art not taken: refused: not a JPEG or PNG picture");
  EXPECT_EQ(ripSettings.coverFile, "");
  QString shown;
  WithDialog<CId3TagDlg>(edit, [&](CId3TagDlg& dialog) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(png))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &drop);
    shown = dialog.coverLabel()->text();
  });
  CId3TagDlg::SetCoverPicker({});
  EXPECT_EQ(shown, QStringLiteral("Cover: front.png"));
  EXPECT_EQ(ripSettings.coverFile, png);
  frame_->OnCommand(ID_FORMAT_WAV);
  EXPECT_EQ(ripSettings.coverFile, png);
  SetCdImages({MakeDiscAt(dir_ / "other.cue", {"--lengths", "450"})});
  frame_->ReloadDisc();
  EXPECT_EQ(ripSettings.coverFile, "");
}

TEST_F(DialogTest, TipsReadFromTheFileAndTheProfilesPlace) {
  const std::string tips = dir_ / "tips.txt", piece(999, 'x');
  struct Row {
    std::string content;             // "-": no file
    std::string profile;             // "@" ends in the file's own time stamp
    std::vector<std::string> shown;  // at opening, then after each Next
    bool next;
    std::vector<std::string> boxes;
  };
  const std::vector<Row> rows = {
      {"; c\n indented\n\tx\n\nA\nB\nC\n", "", {"A", "B", "C", "A"}, true, {}},
      {"A\r\n\r\nB\r\n", "", {"A", "B", "A"}, true, {}},
      {std::string("A\0B\n\0C\nD", 9), "", {"A", "D", "A"}, true, {}},
      {std::string(5000, 'x') + "\n",
       "",
       {piece, piece, piece, piece, piece, "xxxxx", piece},
       true,
       {}},
      {"; only\n \n\n", "", {""}, false, {}},
      {"A\nB\n", "[Tip]\nFilePos=-5\n@", {""}, true, {"Obrin: Trouble reading the tips file"}},
      {"A\nB\n", "[Tip]\nFilePos=99999999999999\n@", {"A"}, true, {}},
      {"A\nB\n", "[Tip]\nFilePos=2\n@", {"B"}, true, {}},
      {"A\nB\n", "[Tip]\nFilePos=2\nTimeStamp=another day\n", {"A"}, true, {}},
      {"A\nB\n", std::string("\0[[Tip\nFilePos=x=\xff\n", 19), {"A"}, true, {}},
      {"-", "", {CTipOfDayDlg::kNoFile}, false, {}},
  };
  for (const Row& row : rows) {
    std::remove(tips.c_str());
    if (row.content != "-") WriteFile(tips, row.content);
    TipsFile probe;
    std::string profile = row.profile;
    if (!profile.empty() && profile.back() == '@' && probe.Open(tips)) {
      profile.back() = '\n';
      profile.insert(profile.size() - 1, "TimeStamp=" + probe.TimeStamp());
    }
    WriteFile(ProfileFilePath().toStdString(), profile);
    boxes_.clear();
    CTipOfDayDlg dialog(nullptr, tips);
    // What a screen reader reads: the tip itself, also after Next Tip.
    QAccessibleInterface* tip = QAccessible::queryAccessibleInterface(dialog.findChild<QLabel*>());
    ASSERT_NE(tip, nullptr);
    for (size_t i = 0; i < row.shown.size(); ++i) {
      if (i > 0) dialog.nextButton()->click();
      EXPECT_EQ(dialog.tipText().toStdString(), row.shown[i]) << i << ": " << row.content;
      EXPECT_EQ(tip->text(QAccessible::Name), dialog.tipText());
    }
    EXPECT_EQ(dialog.nextButton()->isEnabled(), row.next) << row.content;
    EXPECT_EQ(boxes_, row.boxes) << row.content;
  }
  EXPECT_EQ(ReadFile(ProfileFilePath().toStdString()), "");  // no place kept without a file
}

// Every text a dialog shows reaches a screen reader: a label's accessible name is its text
// (no fixed name over a changing or longer one), the tips' painted heading the area's name.
TEST_F(DialogTest, EveryLabelsTextIsItsAccessibleName) {
  const std::string tips = dir_ / "tips.txt";
  WriteFile(tips, "A tip long enough to wrap over several lines of the dialog's area.\n");
  CTipOfDayDlg tip(nullptr, tips);
  CAboutDlg about;
  CId3TagDlg tags;
  CConfigSheet sheet;
  COutputPathDlg folder;
  for (QDialog* dialog : std::initializer_list<QDialog*>{&tip, &about, &tags, &sheet, &folder}) {
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
      if (label->text().isEmpty()) continue;
      QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(label);
      ASSERT_NE(reader, nullptr);
      EXPECT_EQ(reader->text(QAccessible::Name), label->text().remove('&'))
          << dialog->windowTitle().toStdString();
    }
  }
  EXPECT_NE(Named<QWidget>(&tip, CTipOfDayDlg::kHeading), nullptr);
}

TEST_F(DialogTest, TipsStartUpBoxKeptOnEscapeAndThePlaceMovesWithoutShowing) {
  const std::string tips = dir_ / "tips.txt";
  WriteFile(tips, "First\nSecond\nThird\n");
  for (const bool escape : {true, false}) {
    CTipOfDayDlg dialog(nullptr, tips);
    dialog.startUpBox()->setChecked(false);
    escape ? dialog.reject() : dialog.accept();
    EXPECT_EQ(GetProfileInt("Tip", "StartUp", 7), escape ? 7 : 1);
  }
  bool startUpShown = false;
  {
    QTimer closer;  // fires only inside a modal loop, and dies with this scope
    QObject::connect(&closer, &QTimer::timeout,
                     [&] { startUpShown = QApplication::activeModalWidget()->close(); });
    closer.start(0);
    CTipOfDayDlg::ShowAtStartup(nullptr, tips);
  }
  EXPECT_FALSE(startUpShown);
  EXPECT_EQ(CTipOfDayDlg(nullptr, tips).tipText(), QLatin1String("First"));
}

class PlaybackTest : public WindowTest {
 protected:
  PlaybackTest() {
    setenv("OBRIN_AUDIO_DEVICE", ("file:FILE=" + played_ + ",FORMAT=raw").c_str(), 1);
  }
  ~PlaybackTest() override { unsetenv("OBRIN_AUDIO_DEVICE"); }
  std::string TrackBytes(uint32_t start, uint32_t sectors) const {
    const std::string bin = ReadFile(cue_.substr(0, cue_.size() - 3) + "bin");
    return bin.substr(size_t{start} * kSectorBytes, size_t{sectors} * kSectorBytes);
  }
  const std::string played_ = dir_ / "played.raw";
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
    const std::string track = TrackBytes(t.startSector, t.lengthSectors),
                      played = ReadFile(played_);
    // The track, then at most the silence that pads ALSA's last period.
    ASSERT_GE(played.size(), track.size());
    EXPECT_TRUE(played.compare(0, track.size(), track) == 0);
    EXPECT_EQ(played.find_first_not_of('\0', track.size()), std::string::npos);
    EXPECT_LT(played.size() - track.size(), size_t{kSectorBytes} * 4);
  }
  EXPECT_EQ(boxes_, std::vector<std::string>{"Obrin: Please select a song!"});
  // Play during the rip was still a request: a failed disc read keeps the rows.
  std::remove(cue_.c_str());
  frame_->ReloadDisc();
  EXPECT_EQ(Rows(), 3);
}

TEST_F(PlaybackTest, FormatChangeAndEjectStopPlaybackAndDeviceChangesReload) {
  OpenFrame("300,200");
  frame_->WatchDevices({cue_});
  const std::pair<int, bool> commands[] = {
      {ID_FORMAT_WAV, false}, {IDC_EJECT, true}, {IDC_EJECT, false}};
  for (const auto& [command, noCdDrives] : commands) {
    frame_->listView()->topLevelItem(0)->setSelected(true);
    frame_->Play();
    ASSERT_TRUE(frame_->playDeviceOpen());
    frame_->noCdDrives = noCdDrives;
    frame_->OnCommand(command);
    EXPECT_EQ(frame_->playDeviceOpen(), noCdDrives) << command;  // no drives: no eject
    frame_->StopPlayback();
    frame_->noCdDrives = false;
  }
  frame_->ReloadDisc();
  ASSERT_EQ(Rows(), 0);  // an ejected image reads as no disc
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

TEST_F(PlaybackTest, MciPlaysStopsFailsOrRefuses) {
  struct Row {
    std::vector<std::string> disc;  // mkdisc's arguments
    const char* audio;              // "": the file plugin
    bool opens, plays;
    MciNotice notice;  // kAborted: stopped at once
  };
  const Row rows[] = {
      {{"a.cue", "--lengths", "300,200"}, "", true, true, MciNotice::kSuccessful},
      {{"b.cue", "--lengths", "300,9000"}, "", true, true, MciNotice::kAborted},
      {{"c.cue", "--lengths", "300,200"}, "obrin_no_such_pcm", false, false, {}},
      {{"d.toc", "--lengths", "300,200", "--short", "50"}, "", true, true, MciNotice::kFailure},
      {{"e.cue", "--lengths", "300,200", "--data-track", "2"}, "", true, false, {}},
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
    ASSERT_TRUE(MciSetTimeFormatTmsf(device) && MciStatusLength(device, 2, msf));
    std::promise<MciNotice> ended;
    const bool plays =
        MciPlay(device, MciMakeTmsf(2, 0, 0, 0),
                MciMakeTmsf(2, MciMsfMinute(msf), MciMsfSecond(msf), MciMsfFrame(msf)),
                [&](MciNotice n) { ended.set_value(n); });
    ASSERT_EQ(plays, row.plays);
    if (row.notice == MciNotice::kAborted) MciStop(device);
    const MciNotice notice = plays ? ended.get_future().get() : row.notice;
    MciClose(device);
    if (!plays) continue;
    EXPECT_EQ(notice, row.notice);
    const uint32_t sectors = (MciMsfMinute(msf) * 60 + MciMsfSecond(msf)) * 75 + MciMsfFrame(msf);
    const std::string track = TrackBytes(300, sectors), played = ReadFile(played_);
    const size_t compared = std::min(played.size(), track.size());
    EXPECT_EQ(played.substr(0, compared), track.substr(0, compared));
    EXPECT_EQ(played.size() >= track.size(), row.notice == MciNotice::kSuccessful);
  }
}

TEST_F(PlaybackTest, HelpFileAndLinksOpenThroughXdgOpen) {
  FakeXdgOpen xdgOpen(dir_);
  OpenFrame("300");
  struct Row {
    int command;
    std::string folder, opened;
    std::vector<std::string> boxes;
  };
  const std::string builtHelp = GetProgramFolder() + "help.chm";
  const Row rows[] = {
      {ID_HELP_FILE, GetProgramFolder(), builtHelp, {}},
      {ID_HELP_FILE, dir_ / "", "", {"Error: Don't open help file!"}},
      {ID_HOME_PAGE, "", CMainFrame::kHomePage, {}},
      {ID_SEND_MAIL, "", CMainFrame::kMailAddress, {}},
  };
  for (const Row& row : rows) {
    std::remove(xdgOpen.log.c_str());
    boxes_.clear();
    frame_->programFolder = row.folder;
    ASSERT_TRUE(frame_->OnCommand(row.command));
    if (!row.opened.empty()) {
      EXPECT_TRUE(
          QTest::qWaitFor([&] { return ReadFile(xdgOpen.log) == row.opened + "\n"; }, 10000))
          << ReadFile(xdgOpen.log);
    }
    EXPECT_EQ(boxes_, row.boxes);
  }
}

TEST_F(WindowTest, StartUpWithoutDrivesThenASecondInstanceThenAStaleLock) {
  SetCdImages({});
  RipSettings probe;
  if (EnumerateCdDrives(probe) > 0) GTEST_SKIP() << "this machine has a CD drive";
  ripSettings.drives.clear();
  chmod(dir_.path().c_str(), 0700);
  const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir_.path()));
  std::filesystem::create_directories(config_.path() + "/obrin");
  WriteFile(config_.path() + "/obrin/profile.ini", "[Tip]\nStartUp=1\n");  // no tip at start-up
  {
    CObrinApp obrin;
    ASSERT_TRUE(obrin.InitInstance({}));
    EXPECT_TRUE(obrin.frame()->isVisible());
    EXPECT_EQ(obrin.frame()->driveCombo()->count(), 0);
    ASSERT_TRUE(obrin.frame()->OnCommand(IDC_REFRESH));
    EXPECT_EQ(obrin.frame()->listGeneration(), 0u);  // no reload
    EXPECT_EQ(TakeInstanceLock(), nullptr);
  }
  EXPECT_EQ(boxes_, (std::vector<std::string>{"Obrin 2.0: Couldn't find any CD-ROM drives!",
                                              "Help: The Obrin is running!"}));
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  WriteFile(dir_ / "Obrin.lock",
            std::to_string(dead) + "\nObrin\n" + QSysInfo::machineHostName().toStdString() + "\n");
  EXPECT_NE(TakeInstanceLock(), nullptr);
  qputenv("XDG_RUNTIME_DIR", saved);
}

// The window under a private X server: its Rip button rips the disc it shows (an image, or
// the emulated drive, which the window lists as its drive) to MP3 and opens the folder.
void RipThroughTheRipButton(bool fromDrive) {
  if (RunCommand({"/bin/sh", "-c", "command -v xvfb-run && command -v xdotool"}).exitStatus != 0) {
    GTEST_SKIP() << "needs xvfb-run and xdotool";
  }
  ScopedConfigHome config;
  TempDir dir;
  const std::string out = dir / "out/";
  ASSERT_EQ(mkdir((config.path() + "/obrin").c_str(), 0700), 0);
  // From the drive the rip is logged, and its model's own read offset is the rip's.
  std::string ini = FreshSettingsFile(out);
  if (fromDrive) {
    ini.replace(ini.find("WriteLog=FALSE"), 14, "WriteLog=TRUE");
    ini += "[Drive PLEXTOR PX-716A]\nReadOffset=48\n";
  }
  WriteFile(config.iniPath(), ini);
  WriteFile(config.path() + "/obrin/profile.ini", "[Tip]\nStartUp=1\n");  // no tip at start-up
  MakeDiscAt(dir / "disc.cue", {"--lengths", "300,200"});
  WriteFile(dir / "drive.txt", "image " + dir / "disc.bin" +
                                   "\ntrack 1 0\ntrack 2 300\nvendor PLEXTOR\nmodel PX-716A\n"
                                   "offset-correction +48\n");
  FakeXdgOpen xdgOpen(dir);
  // The splash goes after the first disc load: its 1750 ms outlast timer 1's 1200 ms.
  WriteFile(dir / "run.sh", R"sh(set -eu
if [ -n "$DRIVE" ]; then
  LD_PRELOAD="$PRELOAD" OBRIN_EMUDRIVE="$DRIVE" OBRIN_EMUDRIVE_LOG="$DRIVE.log" "$OBRIN" & pid=$!
else
  "$OBRIN" --image "$DISC" & pid=$!
fi
trap 'kill $pid 2>/dev/null || true' EXIT
frame=$(xdotool search --sync --onlyvisible --name '^Obrin 2\.0$' | head -n 1)
n=0
while [ "$(xdotool search --onlyvisible --pid $pid | wc -l)" -gt 1 ]; do
  n=$((n + 1)); [ $n -lt 600 ] || exit 3; sleep 0.1
done
eval "$(xdotool getwindowgeometry --shell "$frame")"
xdotool mousemove $((X + WIDTH - 136 + 30)) $((Y + 16)) click 1
n=0
while [ ! -s "$OPENED" ]; do n=$((n + 1)); [ $n -lt 1200 ] || exit 4; sleep 0.1; done
)sh");
  const CommandResult result =
      RunCommand({"/usr/bin/env", "xvfb-run", "-a", "/bin/sh", dir / "run.sh"},
                 {"OBRIN=" + BinPath("obrin"), "DISC=" + (dir / "disc.cue"),
                  "DRIVE=" + (fromDrive ? dir / "drive.txt" : std::string()),
                  "PRELOAD=" + EmulatedDrivePreload(), "OPENED=" + xdgOpen.log,
                  "XDG_RUNTIME_DIR=" + dir.path(), "QT_QPA_PLATFORM=xcb",
                  std::string("PATH=") + std::getenv("PATH")});
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(ReadFile(xdgOpen.log), out + "\n");
  int mp3Files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(out)) {
    mp3Files += entry.path().extension() == ".mp3" && entry.file_size() > 1000 ? 1 : 0;
  }
  EXPECT_EQ(mp3Files, 2);
  // From the drive: its audio came by READ CD, and the drive list named it.
  if (fromDrive) {
    EXPECT_NE(ReadFile(dir / "drive.txt.log").find("mmc READ_CD 0 "), std::string::npos);
    EXPECT_NE(ReadFile(dir / "drive.txt.log").find("mmc INQUIRY"), std::string::npos);
    std::string log;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(out)) {
      if (entry.path().extension() == ".log") log = ReadFile(entry.path().string());
    }
    EXPECT_NE(log.find("  Read offset: 48\n"), std::string::npos) << log;
    EXPECT_NE(ReadFile(config.iniPath()).find("[Drive]\nReadOffset=0\n"), std::string::npos);
  }
}

TEST(WindowEndToEnd, RipsThroughTheRipButtonUnderXvfb) {
  RipThroughTheRipButton(false);
}
TEST(WindowEndToEnd, RipsFromADriveUnderXvfb) {
  RipThroughTheRipButton(true);
}

TEST(WindowStartUp, CommandLine) {
  const std::pair<std::vector<std::string>, const char*> rows[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--image"}, "option '--image' needs a file name"},
      {{"extra"}, "unexpected argument 'extra'"},
      {std::vector<std::string>(9, "--image=a"), "too many disc images (at most 8)"},
      {{"--image", "a.cue", "-style", "fusion", "--image=b.toc", "--reverse"}, ""},
  };
  for (const auto& [args, error] : rows) {
    EXPECT_EQ(ParseAppOptions(args).error.find(error), 0u) << error;
  }
  EXPECT_EQ(ParseAppOptions(rows[4].first).options.images,
            (std::vector<std::string>{"a.cue", "b.toc"}));
  EXPECT_EQ(RunCommand({"obrin", "--bogus"}).exitStatus, 2);
  EXPECT_EQ(RunCommand({"obrin", "--version"}).exitStatus, 0);
  EXPECT_EQ(RunCommand({"obrin", "-platform", "offscreen", "--help"}).exitStatus, 0);
}

// Every text the list can show in a fitted column is drawn whole: the room the style leaves
// for a cell's text (its text rectangle less the margins it draws within) holds the text in
// the list's font, at the desktop's sizes.
TEST_F(WindowTest, FittedColumnsDrawTheirTextsWhole) {
  OpenFrame("4500,3000", Flac);
  CObrinView& view = *frame_->listView();
  const QFont font = view.font();
  for (const double scale : {1.0, 1.5, 2.0}) {
    SCOPED_TRACE(scale);
    QFont scaled = font;
    scaled.setPointSizeF(font.pointSizeF() * scale);
    view.setFont(scaled);
    frame_->ReloadDisc();
    const auto whole = [&](int row, int column, const QString& text) {
      QStyleOptionViewItem option;
      option.initFrom(&view);
      option.font = view.font();
      option.fontMetrics = QFontMetrics(view.font());
      option.rect = view.visualRect(view.model()->index(row, column));
      option.rect.setWidth(view.columnWidth(column));
      option.text = text;
      option.features = QStyleOptionViewItem::HasDisplay;
      if (column == 0) option.features |= QStyleOptionViewItem::HasCheckIndicator;
      const QRect room = view.style()->subElementRect(QStyle::SE_ItemViewItemText, &option, &view);
      const int margin =
          view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1;
      return option.fontMetrics.horizontalAdvance(text) <= room.width() - 2 * margin;
    };
    for (const char* status : {"Completed", "Stopped", "ERROR", "Pending", "100%"}) {
      EXPECT_TRUE(whole(0, 3, QString::fromLatin1(status))) << status;
    }
    EXPECT_TRUE(whole(0, 0, QStringLiteral("Hidden Track")));
    EXPECT_TRUE(whole(0, 1, QStringLiteral("00:00")));
    EXPECT_TRUE(whole(0, 2, Cell(0, 2))) << Cell(0, 2).toStdString();
  }
  view.setFont(font);
}

// The state bar gives the disc at a glance, then what a rip came to and a link to its log.
TEST_F(WindowTest, TheStateBarShowsTheDiscThenWhatARipCameTo) {
  OpenFrame("4500,3000", Wav);
  CDialogBar& bar = *frame_->stateBar();
  QLabel* status = Named<QLabel>(&bar, "Status");
  ASSERT_NE(status, nullptr);
  ripSettings.discArtist = "Ann";
  ripSettings.discAlbum = "Best";
  frame_->ReloadDisc();
  EXPECT_EQ(status->text(), QString::fromUtf8("Ann \u2013 Best   1:40"));
  ripSettings.writeLog = 1;
  frame_->OnRip();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !frame_->ripButtonIsStop(); }, 60000));
  const QString log = QString::fromStdString(RipLogPath(ripSettings));
  ASSERT_TRUE(std::filesystem::is_regular_file(log.toStdString())) << log.toStdString();
  EXPECT_TRUE(status->text().startsWith(QStringLiteral("2 of 2 tracks completed")))
      << status->text().toStdString();
  EXPECT_TRUE(status->text().contains(QStringLiteral("Log: "))) << status->text().toStdString();
  QSignalSpy clicked(&bar, &CDialogBar::logClicked);
  emit status->linkActivated(QUrl::fromLocalFile(log).toString());
  ASSERT_EQ(clicked.count(), 1);
  EXPECT_EQ(clicked.first().first().toString(), log);

  // Verified against a database that holds these very tracks (their sums, as
  // accuraterip-checksum gives them, at confidence 5): the verdict, per track and in all.
  std::string dbar(1, '\2');
  dbar.append(12, '\0');
  std::vector<std::string> wavs;
  for (const auto& entry : std::filesystem::directory_iterator(
           std::filesystem::path(log.toStdString()).parent_path())) {
    if (entry.path().extension() == ".wav") wavs.push_back(entry.path());
  }
  std::sort(wavs.begin(), wavs.end());
  ASSERT_EQ(wavs.size(), 2u);
  for (int track = 1; track <= 2; ++track) {
    const std::string& wav = wavs[static_cast<size_t>(track) - 1];
    const CommandResult r = RunCommand(
        {"/usr/bin/accuraterip-checksum", "--accuraterip-v1", wav, std::to_string(track), "2"});
    ASSERT_EQ(r.exitStatus, 0) << wav;
    const auto sum = static_cast<uint32_t>(std::stoul(r.out, nullptr, 16));
    dbar += '\5';
    dbar.append(reinterpret_cast<const char*>(&sum), 4).append(4, '\0');
  }
  HttpTestServer server([&](const std::string& path) {
    return path.find(".bin") != std::string::npos ? HttpTestReply{200, dbar}
                                                  : HttpTestReply{404, ""};
  });
  ripSettings.accurateRipServer = ripSettings.ctdbServer = server.Url();
  ripSettings.verifyAccurateRip = 1;
  frame_->ReloadDisc();
  frame_->OnRip();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !frame_->ripButtonIsStop(); }, 60000));
  EXPECT_TRUE(
      status->text().startsWith(QStringLiteral("AccurateRip: 2 of 2 tracks accurately ripped")))
      << status->text().toStdString();
  EXPECT_TRUE(status->text().contains(QStringLiteral("Log: "))) << status->text().toStdString();
  EXPECT_TRUE(Cell(0, 5).startsWith(QStringLiteral("Accurately ripped (confidence 5")))
      << Cell(0, 5).toStdString();
  ripSettings.verifyAccurateRip = 0;
  ripSettings.writeLog = 0;
  ripSettings.discArtist.clear();
  ripSettings.discAlbum.clear();
  frame_->ReloadDisc();
  EXPECT_EQ(status->text(), QStringLiteral("1:40"));
}

}  // namespace
