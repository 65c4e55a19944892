// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// CId3TagDlg: album, artist, genre, year and the ID3 switch for the next rip. It edits the
// five fields of ripSettings for the rest of the run; nothing of it reaches the settings file.
// "Look up" asks MusicBrainz for the disc (on a thread of its own: the window stays usable)
// and fills album, artist and year; OK also takes the release's track titles into the list.
// "Cover..." (or a picture dropped on the dialog) picks the user's own front cover for the
// next rips (ripSettings.coverFile, as obrin-rip --cover): checked at once, taken on OK.
#include <QDialog>
#include <QStringList>
#include <array>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "disc/musicbrainz.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QComboBox;
class QLineEdit;

class CId3TagDlg : public QDialog {
  Q_OBJECT
 public:
  // Takes the fields' current values.
  explicit CId3TagDlg(QWidget* parent = nullptr);
  ~CId3TagDlg() override;  // cancels a lookup still running and waits for it

  // The genre list's names in number order; four are longer than the tag table's.
  static const std::array<const char*, 80>& GenreListNames();

  QLineEdit* albumEdit() const { return album_; }
  QLineEdit* artistEdit() const { return artist_; }
  QLineEdit* yearEdit() const { return year_; }
  QComboBox* genreCombo() const { return genre_; }
  QCheckBox* enableBox() const { return enable_; }
  QPushButton* lookUpButton() const { return lookUp_; }

  // Picks one of several releases ("1: ARTIST – TITLE (...)"): its position, or -1 when the
  // user picked none. Replaceable, so that a test can answer instead of a user (empty: the
  // real choice dialog).
  using ReleaseChooser = std::function<int(QWidget* parent, const QStringList& releases)>;
  static void SetReleaseChooser(ReleaseChooser chooser);
  // Picks a picture file for "Cover...": its path, or empty. Replaceable as the chooser is.
  using CoverPicker = std::function<QString(QWidget* parent)>;
  static void SetCoverPicker(CoverPicker picker);

  QPushButton* coverButton() const { return cover_; }
  QLabel* coverLabel() const { return coverText_; }
  // Takes `path` as the cover when it is a JPEG or PNG picture; else says why not.
  void TakeCover(const QString& path);

  void accept() override;  // stores the five fields (and a chosen cover), then closes
  // The release a lookup chose, which OK has applied.
  const std::optional<MusicBrainzRelease>& chosenRelease() const { return release_; }

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 signals:
  void lookUpFinished();  // after the answer (and any box or choice it led to) was taken

 private:
  void StartLookUp();
  void TakeLookUp(const MusicBrainzLookup& lookup);

  QLineEdit* album_;
  QLineEdit* artist_;
  QLineEdit* year_;
  QComboBox* genre_;
  QCheckBox* enable_;
  QPushButton* lookUp_;
  QPushButton* cover_;
  QLabel* coverText_;
  std::string coverFile_;  // the picture chosen, stored on OK
  std::thread lookUpThread_;
  std::atomic<bool> closing_{false};
  std::optional<MusicBrainzRelease> release_;  // the one chosen, taken in on OK
};
