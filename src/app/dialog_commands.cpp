// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// The frame's commands that open a dialog. Those whose dialog changes what a running rip
// reads are refused while one runs.
#include "app/config_sheet.h"
#include "app/id3_tag_dlg.h"
#include "app/main_frame.h"
#include "app/output_path_dlg.h"
#include "app/tip_of_day_dlg.h"
#include "app/track_titles_dlg.h"
#include "config/settings.h"

void CMainFrame::OnConfiguration() {
  if (ripSettings.ripping) {
    ShowRipBusy();
    return;
  }
  {
    CConfigSheet sheet(this);
    sheet.exec();
  }
  // Whatever the button: the records take their copies of the settings anew.
  ReloadDisc();
}

void CMainFrame::OnOutputPath() {
  if (ripSettings.ripping) {
    ShowRipBusy();
    return;
  }
  COutputPathDlg dialog(this);
  if (dialog.exec() == QDialog::Accepted && !noCdDrives) ReloadDisc();
}

void CMainFrame::OnEditId3() {
  if (ripSettings.ripping) {
    ShowRipBusy();
    return;
  }
  CId3TagDlg dialog(this);
  // A lookup may have named the tracks.
  if (dialog.exec() == QDialog::Accepted) {
    if (dialog.chosenRelease()) discLookUp_.Remember(LoadedDiscIdentity(), *dialog.chosenRelease());
    coverDisc_ = ripSettings.coverFile.empty() ? std::string() : LoadedDiscIdentity();
    for (const TrackRecord& record : ripSettings.tracks) FillTrackRow(record, RowOf(record), true);
    ShowDiscGlance();  // the artist and album typed there
  }
}

void CMainFrame::OnTrackTitles() {
  if (ripSettings.ripping) {
    ShowRipBusy();
    return;
  }
  CTrackTitlesDlg dialog(this);
  if (dialog.exec() != QDialog::Accepted) return;
  // Kept for the disc the list was built from, so that a rebuild of it keeps what was typed.
  const std::string disc = LoadedDiscIdentity();
  if (disc != typedDisc_) typedTexts_.clear();
  typedDisc_ = disc;
  for (const auto& [position, text] : dialog.typed()) {
    TypedTrackText& kept = typedTexts_[position];
    if (text.title) kept.title = text.title;
    if (text.artist) kept.artist = text.artist;
  }
  for (const TrackRecord& record : ripSettings.tracks) FillTrackRow(record, RowOf(record), true);
}

void CMainFrame::OnTipOfDay() {
  CTipOfDayDlg dialog(this);
  dialog.exec();
}
