// The main window on Qt's offscreen platform: layout, menus, the list, ripping, start-up.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtCore/qtestsupport_core.h>
#include <filesystem>
#include <map>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QPointer>
#include <QShortcut>

#include "app/app_options.h"
#include "app/main_frame.h"
#include "app/message_box.h"
#include "app/obrin_app.h"
#include "app/splash.h"
#include "disc/cd_device.h"
#include "rip/rip_status.h"
#include "support/recording_host.h"
#include "support/test_env.h"
#include "ui/commands.h"
#include "ui/obrin_view.h"
#include "widgets/bitmap_button.h"
#include "widgets/popup_menu.h"

namespace {

// Answers every box with OK, after `answer` ran, and remembers each as "caption: text", so
// that no test ever waits for a user.
class ScriptedBoxes {
 public:
  ScriptedBoxes() {
    SetMessageBoxHandler([this](const MessageBoxRequest& r) {
      shown.push_back((r.caption + ": " + r.text).toStdString());
      if (answer) answer(r);
      return QMessageBox::Ok;
    });
  }
  ~ScriptedBoxes() { SetMessageBoxHandler({}); }
  std::vector<std::string> shown;
  std::function<void(const MessageBoxRequest&)> answer;
};

// A frame over a generated disc image whose output folder is `out`.
class WindowTest : public ::testing::Test {
 protected:
  void Open(const std::vector<std::string>& lengths, int32_t format,
            const std::string& outFolder = "") {
    const std::string cue = MakeDiscAt(dir_ / "disc.cue", {"--lengths", Join(lengths)});
    SetCdImages({cue});
    out_ = outFolder.empty() ? dir_.path() + "/out/" : outFolder;
    PrepareRipSettings(out_, format);
    frame_ = std::make_unique<CMainFrame>();
    frame_->timer1().stop();
    frame_->ReloadDisc();
  }
  void TearDown() override {
    frame_.reset();
    SetCdImages({});
  }
  static std::string Join(const std::vector<std::string>& parts) {
    std::string joined;
    for (const auto& p : parts) joined += (joined.empty() ? "" : ",") + p;
    return joined;
  }
  QString Cell(int row, int column) const { return frame_->listView()->RowText(row, column); }
  bool WaitUntil(const std::function<bool()>& done) { return QTest::qWaitFor(done, 60000); }

  ScopedConfigHome config_;
  ScriptedBoxes boxes_;
  TempDir dir_;
  std::string out_;
  std::unique_ptr<CMainFrame> frame_;
};

TEST_F(WindowTest, BarControlsFollowTheOuterWidth) {
  Open({"300"}, Mp3);
  struct Row {
    int width;
    const char* name;
    QRect rect;
  };
  const Row rows[] = {
      {600, "Menu", {9, 8, 30, 31}},
      {600, "Help", {51, 15, 22, 22}},
      {600, "Configuration", {80, 11, 26, 25}},
      {600, "Output format", {116, 11, 26, 25}},
      {600, "CD drive", {215, 6, 185, 24}},
      {600, "Rip", {464, 3, 60, 27}},
      {600, "Output folder", {407, 4, 17, 17}},
      {600, "Stop playback", {567, 4, 17, 17}},
      {600, "Home page", {524, 4, 20, 20}},
      {600, "E-mail", {547, 4, 20, 20}},
      {900, "CD drive", {215, 6, 485, 24}},
      {900, "Rip", {764, 3, 60, 27}},
      {900, "Select all", {727, 4, 17, 17}},
      {900, "Refresh", {747, 4, 17, 17}},
      {900, "Edit ID3 tag", {767, 4, 17, 17}},
      {900, "Previous track", {787, 4, 17, 17}},
      {900, "Next track", {807, 4, 17, 17}},
      {900, "Eject", {827, 4, 17, 17}},
      {900, "Play", {847, 4, 17, 17}},
      {900, "E-mail", {847, 4, 20, 20}},
  };
  frame_->show();
  const int margins = frame_->frameGeometry().width() - frame_->width();
  for (const Row& row : rows) {
    frame_->resize(row.width - margins, 445);
    QWidget* control = nullptr;
    for (QWidget* w : frame_->findChildren<QWidget*>()) {
      if (w->accessibleName() == QLatin1String(row.name)) control = w;
    }
    ASSERT_NE(control, nullptr) << row.name;
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
  Open({"300"}, Mp3);
  std::map<QString, int> commands;
  for (QShortcut* s : frame_->findChildren<QShortcut*>()) {
    commands[s->key().toString()] = s->property("command").toInt();
  }
  EXPECT_EQ(commands, (std::map<QString, int>{{"Ctrl+E", ID_EDIT_ID3},
                                              {"Ctrl+O", ID_OUTPUT_PATH},
                                              {"Ctrl+S", ID_CONFIGURATION}}));
  // The frame swallows Escape for every widget of its own, and no other key.
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
  QObject* frame = frame_.get();  // the filter is public on QObject
  EXPECT_TRUE(frame->eventFilter(frame_->listView(), &escape));
  EXPECT_FALSE(frame->eventFilter(frame_->listView(), &space));
}

TEST_F(WindowTest, PopupItemsAndTheFormatRadioMark) {
  Open({"300"}, Mp3);
  QStringList items;
  for (QAction* a : frame_->mainPopup()->actions()) {
    items << (a->isSeparator() ? QStringLiteral("-")
                               : a->text() + "=" + QString::number(CommandOf(a)));
  }
  EXPECT_EQ(items.join('|').toStdString(),
            " Configuration...=61213|-| Output path...=61210| Edit ID3 tag...=61212|-| Visit "
            "Homepage=61215| Send E-mail To Us=61216|-| Help=61209| Tip of a day...=105| "
            "About...=61214|-| Exit program     =61204");
  EXPECT_EQ(frame_->mainPopup()->sideBand(), QLatin1String("Obrin 2"));
  EXPECT_FALSE(frame_->mainPopup()->actions().last()->icon().isNull());

  struct Row {
    int command;
    const char* checked;
    const char* rowFormat;
  };
  const Row rows[] = {{ID_FORMAT_WAV, "CD to Wav", "WAV - default sample rate"},
                      {ID_FORMAT_OGG, "CD to Ogg", "OGG VBR Q0.45 (141 kbps)"},
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
}

TEST_F(WindowTest, RowsAfterReloadAndProgressAndStaleProgressDropped) {
  Open({"4500", "3000"}, Mp3);
  ASSERT_EQ(frame_->listView()->topLevelItemCount(), 2);
  const QString folder = QString::fromStdString(out_);
  EXPECT_EQ(QStringList({Cell(1, 0), Cell(1, 1), Cell(1, 2), Cell(1, 3), Cell(1, 4)}),
            QStringList({"Track 02", "00:40", "MP3 128-192 kbps VBR Q3", "Pending", folder}));
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
}

TEST_F(WindowTest, RipRefusals) {
  struct Row {
    bool emptyList;
    const char* message;
  };
  const Row rows[] = {{true, "Help: No Audio CD found!"},
                      {false, "Help: Please mark song that you like! "}};
  Open({"300"}, Wav);
  for (const Row& row : rows) {
    if (row.emptyList) frame_->DeleteAllRows();
    if (!row.emptyList) {
      frame_->ReloadDisc();
      frame_->listView()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    }
    boxes_.shown.clear();
    frame_->OnRip();
    EXPECT_EQ(boxes_.shown, std::vector<std::string>{row.message});
    EXPECT_FALSE(frame_->ripButtonIsStop());
    EXPECT_EQ(ripSettings.ripping, 0);
  }
}

TEST_F(WindowTest, DoubleClickAndFormatButtonAskOrRefuse) {
  struct Row {
    int selectRow;
    bool ripping;
    int command;  // 0: a double-click on the list
    std::vector<std::string> shown;
  };
  const Row rows[] = {
      {-1, false, 0, {}},
      {0, false, 0, {"Obrin: Play this song?"}},
      {0, true, 0, {"Help: You are currently ripping."}},
      {-1, true, IDC_TOOL, {"Help: You are currently ripping."}},
  };
  Open({"300"}, Mp3);
  for (const Row& row : rows) {
    frame_->listView()->clearSelection();
    if (row.selectRow >= 0) frame_->listView()->topLevelItem(row.selectRow)->setSelected(true);
    ripSettings.ripping = row.ripping ? 1 : 0;
    boxes_.shown.clear();
    if (row.command != 0) {
      frame_->OnCommand(row.command);
    } else {
      frame_->OnListDoubleClick();
    }
    ripSettings.ripping = 0;
    EXPECT_EQ(boxes_.shown, row.shown) << row.selectRow << row.ripping << row.command;
    EXPECT_FALSE(frame_->formatPopup()->isVisible());
  }
}

TEST_F(WindowTest, AnyKeyOrClickHidesTheSplashAndIsConsumed) {
  Open({"300"}, Mp3);
  frame_->show();
  const std::pair<QEvent::Type, bool> rows[] = {{QEvent::KeyPress, true},
                                                {QEvent::MouseButtonPress, false}};
  for (const auto& [type, isKey] : rows) {
    QPointer<CSplashWindow> splash = CSplashWindow::ShowSplashScreen(frame_.get());
    ASSERT_TRUE(splash && splash->isVisible());
    std::unique_ptr<QEvent> event;
    if (isKey) {
      event = std::make_unique<QKeyEvent>(type, Qt::Key_Space, Qt::NoModifier);
    } else {
      event = std::make_unique<QMouseEvent>(type, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                                            Qt::LeftButton, Qt::NoModifier);
    }
    EXPECT_TRUE(QCoreApplication::sendEvent(frame_->listView()->viewport(), event.get()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return splash.isNull() || !splash->isVisible(); }, 5000));
    EXPECT_EQ(frame_->listView()->SelectedRow(), -1);
  }
}

TEST_F(WindowTest, RipToTheEndOpensTheOutputFolder) {
  const std::string bin = dir_ / "bin";
  ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
  WriteFile(bin + "/xdg-open", "#!/bin/sh\necho \"$1\" >> \"" + (dir_ / "opened") + "\"\n");
  chmod((bin + "/xdg-open").c_str(), 0755);
  const QByteArray savedPath = qgetenv("PATH");
  qputenv("PATH", QByteArray::fromStdString(bin) + ":" + savedPath);
  Open({"150", "100"}, Wav);
  frame_->button(IDC_RIP, BarId::kMain)->click();
  EXPECT_TRUE(frame_->ripButtonIsStop());
  EXPECT_EQ(frame_->button(IDC_RIP, BarId::kMain)->accessibleName(), QLatin1String("Stop"));
  EXPECT_FALSE(frame_->driveCombo()->isEnabled());
  EXPECT_TRUE(WaitUntil([&] { return FileExists(dir_ / "opened"); }));
  qputenv("PATH", savedPath);
  EXPECT_EQ(ReadFile(dir_ / "opened"), out_ + "\n");
  EXPECT_EQ(QStringList({Cell(0, 3), Cell(1, 3)}), QStringList({"Completed", "Completed"}));
  EXPECT_FALSE(frame_->ripButtonIsStop());
  EXPECT_EQ(frame_->button(IDC_RIP, BarId::kMain)->accessibleName(), QLatin1String("Rip"));
  EXPECT_TRUE(frame_->driveCombo()->isEnabled());
  int wavFiles = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(out_)) {
    wavFiles += entry.path().extension() == ".wav" && entry.file_size() > 44 ? 1 : 0;
  }
  EXPECT_EQ(wavFiles, 2);
}

TEST_F(WindowTest, StopWhileTheErrorBoxIsOpenDoesNotHang) {
  const std::string notAFolder = dir_ / "file";
  WriteFile(notAFolder, "x");
  Open({"150", "100"}, Wav, notAFolder + "/");
  boxes_.answer = [&](const MessageBoxRequest& r) {
    if (r.caption == QLatin1String("Obrin error")) frame_->OnRip();  // Stop, box still open
  };
  frame_->OnRip();
  ASSERT_TRUE(WaitUntil([&] { return !frame_->ripButtonIsStop(); }));
  EXPECT_EQ(ripFinished, 1);
  ASSERT_FALSE(boxes_.shown.empty());
  EXPECT_EQ(boxes_.shown[0].rfind("Obrin error: ", 0), 0u) << boxes_.shown[0];
  EXPECT_EQ(Cell(1, 3), QLatin1String("Stopped"));
}

TEST_F(WindowTest, CloseDuringARipStopsTheJob) {
  Open({"9000", "9000"}, Mp3);
  frame_->show();
  frame_->OnRip();
  ASSERT_TRUE(WaitUntil([&] { return ripSettings.tracks[0].status > 0; }));
  EXPECT_TRUE(frame_->close());
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{});
  EXPECT_EQ(ripFinished, 1);
  EXPECT_EQ(ripSettings.ripping, 0);
  EXPECT_NE(ripSettings.tracks[1].status, kStatusCompleted);
}

TEST(WindowStartUp, SecondInstanceAndStaleLock) {
  TempDir runtime;
  chmod(runtime.path().c_str(), 0700);
  const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path()));
  {
    ScriptedBoxes boxes;
    auto first = TakeInstanceLock();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(TakeInstanceLock(), nullptr);
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"Help: The Obrin is running!"});
  }
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  WriteFile(runtime / "Obrin.lock",
            std::to_string(dead) + "\nObrin\n" + QSysInfo::machineHostName().toStdString() + "\n");
  EXPECT_NE(TakeInstanceLock(), nullptr);
  qputenv("XDG_RUNTIME_DIR", saved);
}

// The real program on a real X server: the Rip button pressed with the mouse.
TEST(WindowEndToEnd, RipsThroughTheRipButtonUnderXvfb) {
  if (RunCommand({"/bin/sh", "-c", "command -v xvfb-run && command -v xdotool"}).exitStatus != 0) {
    GTEST_SKIP() << "needs xvfb-run and xdotool";
  }
  ScopedConfigHome config;
  TempDir dir;
  const std::string out = dir / "out/";
  ASSERT_EQ(mkdir((config.path() + "/obrin").c_str(), 0700), 0);
  WriteFile(config.iniPath(), FreshSettingsFile(out));
  WriteFile(config.path() + "/obrin/profile.ini", "[Tip]\nStartUp=1\n");  // no tip at start-up
  MakeDiscAt(dir / "disc.cue", {"--lengths", "300,200"});
  ASSERT_EQ(mkdir((dir / "bin").c_str(), 0755), 0);
  WriteFile(dir / "bin/xdg-open", "#!/bin/sh\necho \"$1\" >> \"" + (dir / "opened") + "\"\n");
  chmod((dir / "bin/xdg-open").c_str(), 0755);
  // The splash goes after the first disc load: its 1750 ms outlast timer 1's 1200 ms.
  WriteFile(dir / "run.sh", R"sh(set -eu
"$OBRIN" --image "$DISC" & pid=$!
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
                  "OPENED=" + (dir / "opened"), "XDG_RUNTIME_DIR=" + dir.path(),
                  "QT_QPA_PLATFORM=xcb", "PATH=" + (dir / "bin") + ":" + std::getenv("PATH")});
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(ReadFile(dir / "opened"), out + "\n");
  int mp3Files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(out)) {
    mp3Files += entry.path().extension() == ".mp3" && entry.file_size() > 1000 ? 1 : 0;
  }
  EXPECT_EQ(mp3Files, 2);
}

TEST(WindowStartUp, WithoutDrivesTheWindowStillOpens) {
  ScopedConfigHome config;
  TempDir runtime;
  chmod(runtime.path().c_str(), 0700);
  const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path()));
  SetCdImages({});
  RipSettings probe;
  if (EnumerateCdDrives(probe) > 0) GTEST_SKIP() << "this machine has a CD drive";
  ripSettings.drives.clear();
  std::filesystem::create_directories(config.path() + "/obrin");
  WriteFile(config.path() + "/obrin/profile.ini", "[Tip]\nStartUp=1\n");  // no tip at start-up
  ScriptedBoxes boxes;
  {
    CObrinApp obrin;
    ASSERT_TRUE(obrin.InitInstance({}));
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"Obrin 2.0: Couldn't find any CD-ROM drives!"});
    EXPECT_TRUE(obrin.frame()->isVisible());
    EXPECT_EQ(obrin.frame()->driveCombo()->count(), 0);
    ASSERT_TRUE(obrin.frame()->OnCommand(IDC_REFRESH));
    EXPECT_EQ(obrin.frame()->listGeneration(), 0u);  // no reload
  }
  qputenv("XDG_RUNTIME_DIR", saved);
}

TEST(WindowStartUp, CommandLine) {
  struct Row {
    std::vector<std::string> args;
    int status;
    const char* errPart;
  };
  const Row rows[] = {
      {{"--bogus"}, 2, "unknown option '--bogus'"},
      {{"--image"}, 2, "needs a file name"},
      {{"extra"}, 2, "unexpected argument 'extra'"},
      {{"--image", "a", "--image", "b", "--image", "c", "--image", "d", "--image", "e", "--image",
        "f", "--image", "g", "--image", "h", "--image", "i"},
       2,
       "too many disc images"},
      {{"--version"}, 0, ""},
      {{"-platform", "offscreen", "--help"}, 0, ""},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = {"obrin"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const CommandResult result = RunCommand(args);
    EXPECT_EQ(result.exitStatus, row.status) << args[1];
    EXPECT_NE(result.err.find(row.errPart), std::string::npos) << result.err;
  }
  const AppParseResult parsed =
      ParseAppOptions({"--image", "a.cue", "-style", "fusion", "--image=b.toc", "--reverse"});
  EXPECT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.images, (std::vector<std::string>{"a.cue", "b.toc"}));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
