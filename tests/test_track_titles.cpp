// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// The track titles dialog on Qt's offscreen platform, over the real frame and a disc image.
// Faults guarded:
// - the item missing from the popup or out of place, Ctrl+T not reaching it, a dialog during a
//   rip
// - the table not showing the records' numbers, titles and own artists
// - OK not storing (or storing the disc's artist as the track's, or an empty title), the rows
//   not showing it; Cancel storing
// - typed titles lost over a rebuild of the same disc, or carried over to another disc
// - a typed "/" or control character reaching a ripped file's name
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <QApplication>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QTimer>
#include <QtTest/QTest>

#include "app/main_frame.h"
#include "app/message_box.h"
#include "app/track_titles_dlg.h"
#include "config/settings.h"
#include "disc/cd_device.h"
#include "disc/output_naming.h"
#include "rip/rip_status.h"
#include "support/gui/window_test.h"
#include "support/named_control.h"
#include "support/recording_host.h"
#include "support/test_env.h"
#include "ui/commands.h"
#include "ui/obrin_view.h"
#include "widgets/popup_menu.h"

namespace {

// Typed fills the dialog's cells (title, artist; null keeps one) and closes it with `button`.
class TrackTitlesTest : public WindowTest {
 protected:
  std::string WithDialog(const std::function<void()>& open,
                         const std::function<void(CTrackTitlesDlg&)>& act,
                         const char* button = "OK") {
    return WindowTest::WithDialog<CTrackTitlesDlg>(open, act, button);
  }
  std::string Typed(const std::vector<std::pair<const char*, const char*>>& cells,
                    const char* button = "OK") {
    return WithDialog([this] { frame_->OnCommand(ID_TRACK_TITLES); },
                      [&](CTrackTitlesDlg& dialog) {
                        QTableWidget* table = Named<QTableWidget>(&dialog, "Track titles");
                        ASSERT_TRUE(table);
                        for (size_t row = 0; row < cells.size(); ++row) {
                          const int r = static_cast<int>(row);
                          if (cells[row].first) table->item(r, 1)->setText(cells[row].first);
                          if (cells[row].second) table->item(r, 2)->setText(cells[row].second);
                        }
                      },
                      button);
  }
};

TEST_F(TrackTitlesTest, PopupItemAndCtrlTOpenTheDialogRefusedDuringARip) {
  OpenFrame("300");
  QStringList texts;
  for (QAction* a : frame_->mainPopup()->actions()) {
    if (!a->isSeparator()) texts << a->text();
  }
  const auto id3 = texts.indexOf(QStringLiteral(" Edit ID3 tag..."));
  ASSERT_GE(id3, 0);
  ASSERT_LT(id3 + 1, texts.size());
  EXPECT_EQ(texts[id3 + 1], QLatin1String(" Track titles..."));
  QAction* item = nullptr;
  for (QAction* a : frame_->mainPopup()->actions()) {
    if (a->text() == QLatin1String(" Track titles...")) item = a;
  }
  ASSERT_TRUE(item);
  EXPECT_EQ(CommandOf(item), ID_TRACK_TITLES);
  EXPECT_EQ(WithDialog([&] { item->trigger(); }, {}, "Cancel"), "CTrackTitlesDlg");

  QShortcut* ctrlT = nullptr;
  for (QShortcut* s : frame_->findChildren<QShortcut*>()) {
    if (s->key() == QKeySequence(Qt::CTRL | Qt::Key_T)) ctrlT = s;
  }
  ASSERT_TRUE(ctrlT);
  std::string title;
  EXPECT_EQ(
      WithDialog([&] { emit ctrlT->activated(); },
                 [&](CTrackTitlesDlg& d) { title = d.windowTitle().toStdString(); }, "Cancel"),
      "CTrackTitlesDlg");
  EXPECT_EQ(title, "Track Titles");
  EXPECT_TRUE(boxes_.empty());

  ripSettings.ripping = 1;
  EXPECT_EQ(WithDialog([&] { emit ctrlT->activated(); }, {}), "");
  ripSettings.ripping = 0;
  EXPECT_EQ(boxes_, std::vector<std::string>{"Help: You are currently ripping."});
}

TEST_F(TrackTitlesTest, TableShowsTheRecordsOkStoresAndCancelDoesNot) {
  OpenFrame("300,300,300");
  ripSettings.knownArtist = "Disc Artist";
  ripSettings.tracks[1].title = "From CD-Text";
  ripSettings.tracks[1].performer = "Singer";
  ripSettings.tracks[2].artist = "Guest";
  std::vector<QStringList> shown;
  WithDialog([this] { frame_->OnCommand(ID_TRACK_TITLES); },
             [&](CTrackTitlesDlg& dialog) {
               const QTableWidget* table = dialog.table();
               for (int r = 0; r < table->rowCount(); ++r) {
                 QStringList row;
                 for (int c = 0; c < table->columnCount(); ++c) row << table->item(r, c)->text();
                 shown.push_back(row);
               }
               EXPECT_FALSE(table->item(0, 0)->flags() & Qt::ItemIsEditable);
               EXPECT_TRUE(table->item(0, 1)->flags() & Qt::ItemIsEditable);
             },
             "Cancel");
  EXPECT_EQ(shown, (std::vector<QStringList>{{"01", "Track 01", ""},
                                             {"02", "From CD-Text", "Singer"},
                                             {"03", "Track 03", "Guest"}}));

  // Cancel keeps the records as they were.
  EXPECT_EQ(Typed({{"Nope", "Nobody"}, {"", ""}}, "Cancel"), "CTrackTitlesDlg");
  EXPECT_EQ(ripSettings.tracks[0].title, "Track 01");
  EXPECT_EQ(ripSettings.tracks[0].artist, "");
  EXPECT_EQ(ripSettings.tracks[1].title, "From CD-Text");
  EXPECT_EQ(Cell(0, 0), QLatin1String("Track 01"));

  // An emptied title is the default again; the disc's artist typed is no credit of the track.
  EXPECT_EQ(Typed({{"Opening", "Someone"}, {"", "Disc Artist"}, {nullptr, nullptr}}),
            "CTrackTitlesDlg");
  EXPECT_EQ(ripSettings.tracks[0].title, "Opening");
  EXPECT_EQ(ripSettings.tracks[0].artist, "Someone");
  EXPECT_EQ(ripSettings.tracks[1].title, "Track 02");
  EXPECT_EQ(ripSettings.tracks[1].artist, "");
  EXPECT_EQ(ripSettings.ArtistOf(ripSettings.tracks[1]), "Disc Artist");
  EXPECT_EQ(ripSettings.tracks[2].artist, "Guest");
  EXPECT_EQ(QStringList({Cell(0, 0), Cell(1, 0), Cell(2, 0)}),
            QStringList({"Opening", "Track 02", "Track 03"}));

  // A hidden track is number 00, and an emptied title of it is its own default.
  ripSettings.tracks[0].hidden = true;
  frame_->RebuildTrackRows();
  QStringList numbers;
  WithDialog([this] { frame_->OnCommand(ID_TRACK_TITLES); },
             [&](CTrackTitlesDlg& dialog) {
               for (int r = 0; r < dialog.table()->rowCount(); ++r)
                 numbers << dialog.table()->item(r, 0)->text();
               dialog.table()->item(0, 1)->setText(QString());
             });
  EXPECT_EQ(numbers, QStringList({"00", "01", "02"}));
  EXPECT_EQ(ripSettings.tracks[0].title, kHiddenTrackTitle);
}

TEST_F(TrackTitlesTest, TypedTitlesLastOverAReloadOfTheSameDiscOnly) {
  OpenFrame("300,300");
  Typed({{"First", "Band"}, {nullptr, nullptr}});
  frame_->OnCommand(ID_FORMAT_WAV);  // rebuilds the list from the same disc
  ASSERT_EQ(ripSettings.tracks.size(), 2u);
  EXPECT_EQ(ripSettings.tracks[0].title, "First");
  EXPECT_EQ(ripSettings.tracks[0].artist, "Band");
  EXPECT_EQ(ripSettings.tracks[1].title, "Track 02");
  EXPECT_EQ(Cell(0, 0), QLatin1String("First"));

  // A second dialog adds to what the first one typed.
  Typed({{nullptr, nullptr}, {"Second", nullptr}});
  frame_->ReloadDisc();
  EXPECT_EQ(QStringList({Cell(0, 0), Cell(1, 0)}), QStringList({"First", "Second"}));

  // Another disc in the same place starts from its own titles, also after it is swapped back.
  SetCdImages({MakeDiscAt(dir_ / "disc.cue", {"--lengths", "450,300"})});
  frame_->ReloadDisc();
  ASSERT_EQ(ripSettings.tracks.size(), 2u);
  EXPECT_EQ(QStringList({Cell(0, 0), Cell(1, 0)}), QStringList({"Track 01", "Track 02"}));
  EXPECT_EQ(ripSettings.tracks[0].artist, "");
  SetCdImages({MakeDiscAt(dir_ / "disc.cue", {"--lengths", "300,300"})});
  frame_->ReloadDisc();
  EXPECT_EQ(Cell(0, 0), QLatin1String("Track 01"));
}

// The typed title names the file (safely) and, with the typed artist, its tags.
TEST_F(TrackTitlesTest, ARipNamesItsFileSafelyAndTagsItAfterTheTypedTexts) {
  OpenFrame("150", Flac);
  Typed(
      {{"a/b\x01"
        "c",
        "Guest"}});
  ASSERT_EQ(ripSettings.tracks[0].title,
            "a/b\x01"
            "c");
  const std::string expected = OutputPathOf(ripSettings.tracks[0], ripSettings, out_);
  const std::filesystem::path file(expected);
  EXPECT_NE(file.filename().string().find("a-b_c"), std::string::npos) << expected;
  EXPECT_EQ(file.parent_path().parent_path().string() + "/", out_) << expected;
  frame_->OnRip();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !frame_->ripButtonIsStop(); }, 60000));
  EXPECT_EQ(ripSettings.tracks[0].status, kStatusCompleted);
  ASSERT_TRUE(std::filesystem::is_regular_file(file)) << expected;
  const CommandResult tags =
      RunCommand({"/usr/bin/metaflac", "--show-tag=TITLE", "--show-tag=ARTIST", expected});
  EXPECT_EQ(tags.out,
            "TITLE=a/b\x01"
            "c\nARTIST=Guest\n");
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace
