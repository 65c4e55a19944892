// The window's dialogs and the commands that open them, on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QtTest/QTest>

#include "app/config_sheet.h"
#include "app/id3_tag_dlg.h"
#include "app/main_frame.h"
#include "app/message_box.h"
#include "app/output_path_dlg.h"
#include "app/profile_store.h"
#include "app/tip_of_day_dlg.h"
#include "disc/cd_device.h"
#include "support/recording_host.h"
#include "support/test_env.h"
#include "ui/commands.h"
#include "ui/obrin_view.h"
#include "widgets/popup_menu.h"

namespace {

template <typename W>
W* Named(QWidget* root, const char* name) {
  for (W* w : root->findChildren<W*>()) {
    if (w->accessibleName() == QLatin1String(name)) return w;
  }
  ADD_FAILURE() << "no control named " << name;
  return nullptr;
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCdImages({MakeDiscAt(dir_ / "disc.cue", {"--lengths", "300"})});
    PrepareRipSettings(out_, Mp3);
    SaveSettings(ripSettings);
    SetMessageBoxHandler([this](const MessageBoxRequest& r) {
      boxes_.push_back((r.caption + ": " + r.text).toStdString());
      return QMessageBox::Ok;
    });
  }
  void TearDown() override {
    SetMessageBoxHandler({});
    SetFolderPicker({});
    SetCdImages({});
  }
  std::string Ini() const { return ReadFile(config_.iniPath()); }
  std::string Profile() const { return ReadFile(ProfileFilePath().toStdString()); }

  ScopedConfigHome config_;
  TempDir dir_;
  std::string out_ = dir_ / "out/";
  std::vector<std::string> boxes_;
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

TEST_F(DialogTest, SliderLabelsAndApplyOnlyOnMouseRelease) {
  ripSettings.outputFormat = Ogg;
  CConfigSheet sheet;
  CPage1Mp3* mp3 = sheet.mp3Page();
  CPage3Ogg* ogg = sheet.oggPage();
  EXPECT_EQ(ogg->qualityLabel()->text(), QLatin1String("0.45 (141 kbps)"));
  const std::tuple<bool, int, const char*> rows[] = {{true, 0, "0.00 (58 kbps)"},
                                                     {true, 20, "1.00 (477 kbps)"},
                                                     {false, 0, "VBR quality 1"},
                                                     {false, 9, "VBR quality 10"}};
  for (const auto& [isOgg, position, text] : rows) {
    (isOgg ? ogg->slider() : mp3->slider())->setValue(position);
    EXPECT_EQ((isOgg ? ogg->qualityLabel() : mp3->qualityLabel())->text(), QLatin1String(text));
  }
  ogg->slider()->setValue(9);
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
    ASSERT_EQ(dialog.genreCombo()->count(), 80);
    EXPECT_EQ(dialog.genreCombo()->itemText(40) + dialog.genreCombo()->itemText(51),
              QLatin1String("AlternRockTechno-Industrial"));
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

TEST(TipsFileTest, PiecesSkipsAndWrap) {
  struct Row {
    std::string content;
    std::vector<std::string> tips;  // successive reads; empty: no tip at all
  };
  const std::string x(5000, 'x'), piece(999, 'x');
  const std::vector<Row> rows = {
      {"; c\n indented\n\tx\n\nA\nB\nC\n", {"A", "B", "C", "A"}},
      {"A\r\n\r\nB\r\n", {"A", "B", "A"}},
      {std::string("A\0B\n\0C\nD", 9), {"A", "D", "A"}},
      {x + "\n", {piece, piece, piece, piece, piece, "xxxxx", piece}},
      {"", {}},
      {"; only\n \n\n", {}},
  };
  TempDir dir;
  for (const Row& row : rows) {
    WriteFile(dir / "tips.txt", row.content);
    TipsFile file;
    ASSERT_TRUE(file.Open(dir / "tips.txt"));
    for (size_t i = 0; i < std::max<size_t>(row.tips.size(), 1); ++i) {
      const TipsFile::Tip tip = file.ReadNextTip();
      EXPECT_EQ(tip.found, !row.tips.empty());
      EXPECT_EQ(tip.text, row.tips.empty() ? "" : row.tips[i]) << i << ": " << row.content;
    }
  }
}

TEST_F(DialogTest, TipsInOrderWrapAndProfileOnDisk) {
  const std::string tips = dir_ / "tips.txt";
  WriteFile(tips, "; comment\nFirst\n  indented\nSecond\nThird\n");
  std::vector<std::string> shown;
  for (int i = 0; i < 4; ++i) shown.push_back(CTipOfDayDlg(nullptr, tips).tipText().toStdString());
  EXPECT_EQ(shown, (std::vector<std::string>{"First", "Second", "Third", "First"}));
  EXPECT_NE(Profile().find("FilePos=16\n"), std::string::npos) << Profile();

  WriteProfileText("Tip", "TimeStamp", "another day");  // the file changed: from the top
  {
    CTipOfDayDlg dialog(nullptr, tips);
    EXPECT_EQ(dialog.tipText(), QLatin1String("First"));
    dialog.nextButton()->click();
    EXPECT_EQ(dialog.tipText(), QLatin1String("Second"));
    dialog.reject();  // Escape: "StartUp" stays
  }
  EXPECT_EQ(GetProfileInt("Tip", "StartUp", 7), 7);
  {
    CTipOfDayDlg dialog(nullptr, tips);
    dialog.startUpBox()->setChecked(false);
    dialog.accept();
  }
  EXPECT_NE(Profile().find("StartUp=1\n"), std::string::npos);
  // Not shown at start-up now, yet the place still moves on by one tip.
  bool startUpShown = false;
  {
    QTimer closer;  // fires only inside a modal loop, and dies with this scope
    QObject::connect(&closer, &QTimer::timeout,
                     [&] { startUpShown = QApplication::activeModalWidget()->close(); });
    closer.start(0);
    CTipOfDayDlg::ShowAtStartup(nullptr, tips);
  }
  EXPECT_FALSE(startUpShown);
  EXPECT_EQ(CTipOfDayDlg(nullptr, tips).tipText(), QLatin1String("Second"));
}

TEST_F(DialogTest, TipsFromBadFilesAndBadProfiles) {
  const std::string tips = dir_ / "tips.txt";
  WriteFile(tips, "First\nSecond\n");
  TipsFile probe;
  ASSERT_TRUE(probe.Open(tips));
  const std::string stamp = "TimeStamp=" + probe.TimeStamp() + "\n";
  const std::string missing = dir_ / "missing.txt", comments = dir_ / "comments.txt";
  WriteFile(comments, "; nothing\n \n");
  struct Row {
    std::string path;
    std::string profile;
    const char* text;
    bool next;
    std::vector<std::string> boxes;
  };
  const std::vector<Row> rows = {
      {comments, "", "", false, {}},
      {tips, "[Tip]\nFilePos=-5\n" + stamp, "", true, {"Obrin: Trouble reading the tips file"}},
      {tips, "[Tip]\nFilePos=99999999999999\n" + stamp, "First", true, {}},
      {tips, "[Tip]\nFilePos=6\n" + stamp, "Second", true, {}},
      {tips, std::string("\0[[Tip\nFilePos=x=\xff\n", 19), "First", true, {}},
      {missing, "", CTipOfDayDlg::kNoFile, false, {}},
  };
  for (const Row& row : rows) {
    WriteFile(ProfileFilePath().toStdString(), row.profile);
    boxes_.clear();
    CTipOfDayDlg dialog(nullptr, row.path);
    EXPECT_EQ(dialog.tipText(), QLatin1String(row.text)) << row.profile;
    EXPECT_EQ(dialog.nextButton()->isEnabled(), row.next) << row.profile;
    EXPECT_EQ(boxes_, row.boxes);
  }
  EXPECT_EQ(Profile(), "");  // no place kept without a file
}

TEST_F(DialogTest, CommandsOpenTheirDialogsOrAreRefusedDuringARip) {
  CMainFrame frame;
  frame.timer1().stop();
  frame.ReloadDisc();
  struct Row {
    int command;
    bool ripping;
    bool accept;
    const char* dialog;  // nullptr: refused
    bool reload;
  };
  const Row rows[] = {
      {ID_CONFIGURATION, false, false, "CConfigSheet", true},
      {IDC_CONFIG, false, true, "CConfigSheet", true},
      {IDC_CONFIG, true, false, nullptr, false},
      {ID_OUTPUT_PATH, false, false, "COutputPathDlg", false},
      {IDC_OUTPUT_FOLDER, false, true, "COutputPathDlg", true},
      {ID_OUTPUT_PATH, true, false, nullptr, false},
      {ID_EDIT_ID3, false, true, "CId3TagDlg", false},
      {IDC_EDIT, true, false, nullptr, false},
      {ID_TIP_OF_DAY, false, true, "CTipOfDayDlg", false},
  };
  for (const Row& row : rows) {
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
    const uint64_t generation = frame.listGeneration();
    bool viaPopup = false;  // the popup's items reach the same handlers as the buttons
    for (QAction* a : frame.mainPopup()->actions()) {
      if (CommandOf(a) == row.command) viaPopup = (a->trigger(), true);
    }
    ASSERT_TRUE(viaPopup || frame.OnCommand(row.command));
    QCoreApplication::processEvents();
    ripSettings.ripping = 0;
    EXPECT_EQ(opened, row.dialog ? row.dialog : "") << row.command;
    EXPECT_EQ(frame.listGeneration() != generation, row.reload) << row.command;
    EXPECT_EQ(boxes_,
              row.dialog ? boxes_ : std::vector<std::string>{"Help: You are currently ripping."});
  }
  EXPECT_EQ(frame.listView()->RowText(0, 2), QLatin1String("MP3 128-192 kbps VBR Q6"));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
