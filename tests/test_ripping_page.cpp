// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// The configuration sheet's Ripping page on Qt's offscreen platform. Faults guarded:
// - the page missing, out of place, or taking the sheet's first page from the format's
// - a control unnamed; Cancel storing, Apply or OK leaving a key unstored or unsaved; an
//   unopened page storing its copies over the record
// - the read offset box taking a value beyond +-3000; an image's offset not in [Drive]
// - Find offset not filling the one correction found, filling one when none or several
//   matched, not stopping on Cancel, or searching during a rip
// - the template and de-emphasis keys not reaching obrin-rip, or its flags no longer
//   overriding them for a run
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QtTest/QTest>
#include <atomic>
#include <filesystem>

#include "app/config_sheet.h"
#include "app/message_box.h"
#include "app/ripping_page.h"
#include "disc/cd_device.h"
#include "support/gui/window_test.h"
#include "support/http_server.h"
#include "support/named_control.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace {

constexpr int kRippingTab = 5;
constexpr const char* kChecks[] = {"Verify with AccurateRip and CTDB",
                                   "Secure reading",
                                   "Write log and cue sheet",
                                   "Look up the disc in MusicBrainz when it is loaded",
                                   "Fetch cover art",
                                   "De-emphasis",
                                   "ReplayGain"};

// A disc image of one track the only drive, the settings saved.
class RippingPageTest : public WindowTest {
 protected:
  void SetUp() override { Load({"--lengths", "300"}); }
  void Load(const std::vector<std::string>& mkdiscArgs) {
    LoadMadeDisc(mkdiscArgs, Wav);
    SaveSettings(ripSettings);
  }
};

TEST_F(RippingPageTest, FollowsTheFormatPagesWhichTheSheetStillOpensOn) {
  for (const auto& [format, tab] : {std::pair{Mp3, 0}, {Wav, 1}, {Ogg, 2}, {Flac, 3}, {Opus, 4}}) {
    ripSettings.outputFormat = format;
    CConfigSheet sheet;
    EXPECT_EQ(sheet.tabs()->currentIndex(), tab);
    ASSERT_EQ(sheet.tabs()->count(), 6);
    EXPECT_EQ(sheet.tabs()->widget(kRippingTab), sheet.rippingPage());
    EXPECT_EQ(sheet.tabs()->tabText(kRippingTab), QLatin1String(" Ripping "));
    EXPECT_FALSE(sheet.rippingPage()->pageInitialized);
  }
  CConfigSheet sheet;
  CPage5Ripping* page = sheet.rippingPage();
  for (const char* name : kChecks) EXPECT_NE(Named<QCheckBox>(page, name), nullptr);
  EXPECT_NE(Named<QSpinBox>(page, "Read offset"), nullptr);
  EXPECT_NE(Named<QPushButton>(page, "Find offset"), nullptr);
  EXPECT_NE(Named<QLineEdit>(page, "File names"), nullptr);
  EXPECT_NE(
      Named<QLabel>(page, "$a artist, $t title, $n track number, $l album, $y year, $g genre"),
      nullptr);
  EXPECT_TRUE(page->driveSection().empty());  // an image has no model of its own
}

// Cancel stores nothing; Apply and OK store every key into the record and the file, and
// what the file holds then is what the next load reads.
TEST_F(RippingPageTest, CancelStoresNoneApplyAndOkStoreEveryKey) {
  for (const char* how : {"cancel", "apply", "ok"}) {
    SCOPED_TRACE(how);
    const bool stores = std::string(how) != "cancel";
    ripSettings.verifyAccurateRip = ripSettings.secureRip = ripSettings.writeLog = 0;
    ripSettings.deemphasis = ripSettings.lookUpOnLoad = ripSettings.fetchCoverArt =
        ripSettings.replayGain = 0;
    ripSettings.readOffset = 6;
    ripSettings.fileNameTemplate = kDefaultFileNameTemplate;
    SaveSettings(ripSettings);
    CConfigSheet sheet;
    sheet.show();
    sheet.tabs()->setCurrentIndex(kRippingTab);
    CPage5Ripping* page = sheet.rippingPage();
    EXPECT_EQ(Named<QSpinBox>(page, "Read offset")->value(), 6);
    EXPECT_EQ(Named<QLineEdit>(page, "File names")->text(), QLatin1String("$a-$t"));
    for (const char* name : kChecks) Named<QCheckBox>(page, name)->click();
    EXPECT_TRUE(sheet.applyButton()->isEnabled());
    Named<QSpinBox>(page, "Read offset")->setValue(-48);
    QLineEdit* names = Named<QLineEdit>(page, "File names");
    names->selectAll();
    QTest::keyClicks(names, "$n $l");
    if (std::string(how) == "cancel") sheet.reject();
    if (std::string(how) == "apply") sheet.applyButton()->click();
    if (std::string(how) == "ok") sheet.accept();

    const std::vector<int32_t> flags = {ripSettings.verifyAccurateRip, ripSettings.secureRip,
                                        ripSettings.writeLog,          ripSettings.lookUpOnLoad,
                                        ripSettings.fetchCoverArt,     ripSettings.deemphasis,
                                        ripSettings.replayGain};
    EXPECT_EQ(flags, std::vector<int32_t>(7, stores ? 1 : 0));
    EXPECT_EQ(ripSettings.readOffset, stores ? -48 : 6);
    EXPECT_EQ(ripSettings.fileNameTemplate, stores ? "$n $l" : "$a-$t");
    const char* flag = stores ? "TRUE" : "FALSE";
    for (const std::string key : {"WriteLog=", "Deemphasis=", "Verify=", "Secure=", "LookUpOnLoad=",
                                  "Fetch=", "Enabled="}) {
      EXPECT_TRUE(IniHas("\n" + key + flag + "\n")) << key << Ini();
    }
    EXPECT_TRUE(IniHas(stores ? "[Drive]\nReadOffset=-48\n" : "[Drive]\nReadOffset=6\n"));
    EXPECT_TRUE(IniHas(stores ? "\nTemplate=$n $l\n" : "\nTemplate=$a-$t\n")) << Ini();
    RipSettings loaded;
    LoadSettings(loaded);
    EXPECT_EQ(loaded.fileNameTemplate, ripSettings.fileNameTemplate);
    EXPECT_EQ(loaded.deemphasis, ripSettings.deemphasis);
    EXPECT_EQ(loaded.readOffset, ripSettings.readOffset);
  }
}

TEST_F(RippingPageTest, UnopenedPageStoresNothingOverTheRecord) {
  CConfigSheet sheet;
  ripSettings.writeLog = 1;
  ripSettings.fileNameTemplate = "$n";
  sheet.accept();
  EXPECT_EQ(ripSettings.writeLog, 1);
  EXPECT_EQ(ripSettings.fileNameTemplate, "$n");
  EXPECT_TRUE(IniHas("\nTemplate=$n\n")) << Ini();
}

// Typing refuses the digit that would leave the range; the image's offset goes to [Drive].
TEST_F(RippingPageTest, ReadOffsetBoxRefusesBeyondTheLimitAndAnImageStoresInDrive) {
  CConfigSheet sheet;
  sheet.show();
  sheet.tabs()->setCurrentIndex(kRippingTab);
  auto* offset = Named<QSpinBox>(sheet.rippingPage(), "Read offset");
  // At the limit, one more digit would go beyond it: the box keeps what it had.
  for (const auto& [typed, kept] :
       {std::pair{"3000", 3000}, {"-3000", -3000}, {"667", 667}, {"-29", -291}}) {
    offset->selectAll();
    QTest::keyClicks(offset, typed);
    QTest::keyClick(offset, Qt::Key_1);
    EXPECT_EQ(offset->value(), kept) << typed;
  }
  offset->selectAll();
  QTest::keyClicks(offset, "-3000");
  QTest::keyClick(offset, Qt::Key_1);
  sheet.accept();
  EXPECT_EQ(ripSettings.readOffset, -3000);
  EXPECT_TRUE(IniHas("[Drive]\nReadOffset=-3000\n")) << Ini();
}

// A disc image read 667 samples early against the database's sums of its true audio (the
// audio a rip with --offset +667 gives, summed by accuraterip-checksum); a second pressing
// summed from a rip with --offset +12 matches there as well.
class FindOffsetTest : public RippingPageTest {
 protected:
  void SetUp() override {
    Load({"--lengths", "900,700,800", "--seed", "8"});
    for (const char* offset : {"+667", "+12"}) {
      const std::string ripped = dir_ / offset;
      ASSERT_EQ(RunCommand({"obrin-rip", "--image", cue_, "--format", "wav", "--offset", offset,
                            "--template", "t$n", "--album", "a", "--output", ripped})
                    .exitStatus,
                0);
      std::vector<uint32_t>& sums = sums_[offset == std::string("+12")];
      for (int track = 1; track <= 3; ++track) {
        const CommandResult r = RunCommand({"/usr/bin/accuraterip-checksum", "--accuraterip-v1",
                                            ripped + "/a/t0" + std::to_string(track) + ".wav",
                                            std::to_string(track), "3"});
        ASSERT_EQ(r.exitStatus, 0);
        sums.push_back(static_cast<uint32_t>(std::stoul(r.out, nullptr, 16)));
      }
    }
  }
  // One pressing of the three tracks at confidence 10 + track, each sum plus `miss`.
  std::string Dbar(uint32_t miss, size_t pressing = 0) const {
    std::string bytes(1, '\3');
    bytes.append(12, '\0');
    for (int track = 1; track <= 3; ++track) {
      const uint32_t sum = sums_[pressing][static_cast<size_t>(track) - 1] + miss;
      bytes += static_cast<char>(10 + track);
      bytes.append(reinterpret_cast<const char*>(&sum), 4).append(4, '\0');
    }
    return bytes;
  }
  std::vector<uint32_t> sums_[2];
};

TEST_F(FindOffsetTest, FillsOnlyASingleMatchAndSaysWhenNoneOrSeveralMatch) {
  const struct {
    HttpTestReply reply;
    int filled;
    std::vector<std::string> boxes;
  } rows[] = {
      {{200, Dbar(0)}, 667, {}},
      {{200, Dbar(1)}, 12, {"Obrin: No offset matched"}},
      {{404, ""}, 12, {"Obrin: Not in database"}},
      {{200, Dbar(0) + Dbar(0, 1)},
       12,
       {"Obrin: Read offsets +12, +667 match the database; try another disc to tell them apart"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.reply.body.size());
    std::filesystem::remove_all(config_.cachePath());
    boxes_.clear();
    HttpTestServer server([&](const std::string&) { return row.reply; });
    ripSettings.accurateRipServer = server.Url();
    ripSettings.readOffset = 12;
    CConfigSheet sheet;
    sheet.show();
    sheet.tabs()->setCurrentIndex(kRippingTab);
    Named<QPushButton>(sheet.rippingPage(), "Find offset")->click();
    EXPECT_EQ(Named<QSpinBox>(sheet.rippingPage(), "Read offset")->value(), row.filled);
    EXPECT_EQ(boxes_, row.boxes);
    EXPECT_EQ(sheet.applyButton()->isEnabled(), row.filled != 12);
    EXPECT_EQ(ripSettings.ripping, 0);
    for (const TrackRecord& track : ripSettings.tracks) EXPECT_EQ(track.status, kStatusPending);
  }
}

// Cancel ends a search whose database never answers; during a rip nothing is asked.
TEST_F(FindOffsetTest, CancelStopsTheSearchAndARipRefusesIt) {
  std::atomic<int> asked{0};
  HttpTestServer server([&](const std::string&) {
    ++asked;
    HttpTestReply reply;
    reply.hang = true;
    return reply;
  });
  ripSettings.accurateRipServer = server.Url();
  ripSettings.readOffset = 12;
  CConfigSheet sheet;
  sheet.show();
  sheet.tabs()->setCurrentIndex(kRippingTab);
  auto* find = Named<QPushButton>(sheet.rippingPage(), "Find offset");

  ripSettings.ripping = 1;
  find->click();
  ripSettings.ripping = 0;
  EXPECT_EQ(boxes_,
            std::vector<std::string>{"Obrin: The read offset cannot be searched for during a rip"});
  EXPECT_EQ(asked, 0);

  boxes_.clear();
  bool cancelled = false;
  // Runs inside the search's own event loop, once the database has been asked.
  QTimer::singleShot(0, &sheet, [&] {
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked > 0; }, 10000));
    auto* progress = sheet.findChild<QProgressDialog*>();
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(ripSettings.ripping, 1);
    Named<QPushButton>(progress, "Cancel")->click();
    cancelled = true;
  });
  find->click();
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(ripSettings.ripping, 0);
  EXPECT_EQ(boxes_, std::vector<std::string>{});
  EXPECT_EQ(Named<QSpinBox>(sheet.rippingPage(), "Read offset")->value(), 12);
}

// What the page stores is what obrin-rip works with; its flags still win for one run.
TEST_F(RippingPageTest, TemplateAndDeemphasisReachObrinRipWhoseFlagsStillWin) {
  WriteFile(dir_ / "pre.bin", std::string(300 * 2352, '\0'));
  WriteFile(dir_ / "pre.cue",
            "FILE \"pre.bin\" BINARY\n  TRACK 01 AUDIO\n    FLAGS PRE\n    INDEX 01 00:00:00\n");
  CConfigSheet sheet;
  sheet.show();
  sheet.tabs()->setCurrentIndex(kRippingTab);
  QLineEdit* names = Named<QLineEdit>(sheet.rippingPage(), "File names");
  names->selectAll();
  QTest::keyClicks(names, "take$n");
  Named<QCheckBox>(sheet.rippingPage(), "De-emphasis")->click();
  sheet.accept();

  const auto rip = [&](const char* album, std::vector<std::string> extra) {
    std::vector<std::string> args = {"obrin-rip", "--image", dir_ / "pre.cue", "--format", "wav",
                                     "--album",   album,     "--output",       out_};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCommand(args);
  };
  CommandResult r = rip("a", {});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_TRUE(FileExists(out_ + "/a/take01.wav"));
  EXPECT_NE(r.err.find("is pre-emphasised; it is de-emphasised"), std::string::npos) << r.err;
  r = rip("b", {"--template", "once$n"});
  EXPECT_TRUE(FileExists(out_ + "/b/once01.wav"));
  EXPECT_FALSE(FileExists(out_ + "/b/take01.wav"));

  CConfigSheet again;
  again.tabs()->setCurrentIndex(kRippingTab);
  Named<QCheckBox>(again.rippingPage(), "De-emphasis")->click();
  again.accept();
  EXPECT_EQ(ripSettings.deemphasis, 0);
  r = rip("c", {});
  EXPECT_NE(r.err.find("is pre-emphasised; its audio is kept so"), std::string::npos) << r.err;
  r = rip("d", {"--deemphasis"});
  EXPECT_NE(r.err.find("is pre-emphasised; it is de-emphasised"), std::string::npos) << r.err;
}

}  // namespace
