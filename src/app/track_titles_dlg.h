// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// CTrackTitlesDlg: the title and artist of every track of the list, typed by the user. OK
// writes them into ripSettings.tracks and keeps, by list position, what the user changed, so
// that the window can give it back to a list rebuilt from the same disc.
#include <QDialog>
#include <map>
#include <optional>
#include <string>

#include "config/disc_model.h"

class QTableWidget;

// What the user changed of one track, as it is stored in its record.
struct TypedTrackText {
  std::optional<std::string> title;
  std::optional<std::string> artist;
};
using TypedTrackTexts = std::map<size_t, TypedTrackText>;  // by list position

// Writes `texts` into the records at their positions; positions past the list are skipped.
void ApplyTypedTrackTexts(const TypedTrackTexts& texts, TrackList& tracks);

// What tells the loaded disc from another one: the selected drive, its name and its TOC.
std::string LoadedDiscIdentity();

class CTrackTitlesDlg : public QDialog {
  Q_OBJECT
 public:
  enum Column { kNumber, kTitle, kArtist };

  explicit CTrackTitlesDlg(QWidget* parent = nullptr);

  QTableWidget* table() const { return table_; }
  // After OK: what the user changed in this dialog.
  const TypedTrackTexts& typed() const { return typed_; }

  void accept() override;  // stores the changed titles and artists, then closes

 private:
  QTableWidget* table_;
  TypedTrackTexts typed_;
};
