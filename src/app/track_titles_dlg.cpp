// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/track_titles_dlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "config/settings.h"

namespace {

QString Local(const std::string& text) {
  return QString::fromLocal8Bit(text.c_str());
}

std::string Local(const QString& text) {
  return text.toLocal8Bit().toStdString();
}

QString NumberText(const TrackRecord& track) {
  if (track.hidden) return QStringLiteral("00");
  char number[16];
  std::snprintf(number, sizeof number, "%02d", static_cast<int>(track.index) + 1);
  return QString::fromLatin1(number);
}

// The track's own credit: a lookup's, else the disc's CD-Text performer of it.
const std::string& OwnArtist(const TrackRecord& track) {
  return track.artist.empty() ? track.performer : track.artist;
}

QTableWidgetItem* Cell(const QString& text, bool editable) {
  auto* item = new QTableWidgetItem(text);
  if (!editable) item->setFlags(item->flags() & ~Qt::ItemIsEditable);
  return item;
}

}  // namespace

void ApplyTypedTrackTexts(const TypedTrackTexts& texts, TrackList& tracks) {
  for (const auto& [position, text] : texts) {
    if (position >= tracks.size()) continue;
    TrackRecord& track = tracks[position];
    if (text.title) track.title = *text.title;
    if (text.artist) {
      track.artist = *text.artist;
      // The user's word replaces the disc's, also where it is none.
      track.performer.clear();
    }
  }
}

std::string LoadedDiscIdentity() {
  const auto drive = static_cast<size_t>(ripSettings.driveIndex);
  if (drive >= ripSettings.drives.size()) return {};
  const DriveRecord& record = ripSettings.drives[drive];
  std::string identity = std::to_string(drive) + '\n' + record.description + '\n';
  identity.append(reinterpret_cast<const char*>(&record.toc), sizeof record.toc);
  return identity;
}

CTrackTitlesDlg::CTrackTitlesDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Track Titles"));
  table_ = new QTableWidget(static_cast<int>(ripSettings.tracks.size()), 3, this);
  table_->setAccessibleName(QStringLiteral("Track titles"));
  table_->setHorizontalHeaderLabels(
      {QStringLiteral("No."), QStringLiteral("Title"), QStringLiteral("Artist")});
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setSectionResizeMode(kTitle, QHeaderView::Stretch);
  table_->horizontalHeader()->setSectionResizeMode(kArtist, QHeaderView::Stretch);
  table_->horizontalHeader()->setSectionResizeMode(kNumber, QHeaderView::ResizeToContents);
  for (size_t i = 0; i < ripSettings.tracks.size(); ++i) {
    const TrackRecord& track = ripSettings.tracks[i];
    const int row = static_cast<int>(i);
    table_->setItem(row, kNumber, Cell(NumberText(track), false));
    table_->setItem(row, kTitle, Cell(Local(track.title), true));
    table_->setItem(row, kArtist, Cell(Local(OwnArtist(track)), true));
  }

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  for (QAbstractButton* b : buttons->buttons()) b->setAccessibleName(b->text().remove('&'));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_);
  layout->addWidget(buttons);
  resize(480, 360);
}

void CTrackTitlesDlg::accept() {
  // A cell still being typed in holds text its item does not have yet: moving off it commits.
  table_->setCurrentIndex(QModelIndex());
  typed_.clear();
  const size_t rows = std::min(ripSettings.tracks.size(), size_t(table_->rowCount()));
  for (size_t i = 0; i < rows; ++i) {
    const TrackRecord& track = ripSettings.tracks[i];
    const int row = static_cast<int>(i);
    TypedTrackText text;
    std::string title = Local(table_->item(row, kTitle)->text());
    if (title.empty()) {
      title = track.hidden ? std::string(kHiddenTrackTitle) : DefaultTrackTitle(track.index);
    }
    if (title != track.title) text.title = title;
    const std::string artist = Local(table_->item(row, kArtist)->text());
    // Only a changed credit becomes the user's, so that a compilation's stay as they were;
    // the disc's own artist is no credit of the track's.
    if (artist != OwnArtist(track)) text.artist = artist == ripSettings.Artist() ? "" : artist;
    if (text.title || text.artist) typed_[i] = text;
  }
  ApplyTypedTrackTexts(typed_, ripSettings.tracks);
  QDialog::accept();
}
