// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/id3_tag_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/message_box.h"
#include "config/genres.h"
#include "config/settings.h"
#include "disc/cover_art.h"
#include "disc/disc_ids.h"

namespace {

constexpr int kTextLimit = 81;
constexpr int kYearLimit = 4;

QLineEdit* TextBox(const std::string& value, int limit, const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setMaxLength(limit);
  edit->setText(QString::fromLocal8Bit(value.c_str()));
  edit->setAccessibleName(QString::fromLatin1(name));
  return edit;
}

CId3TagDlg::ReleaseChooser& Chooser() {
  static CId3TagDlg::ReleaseChooser chooser;
  return chooser;
}

CId3TagDlg::CoverPicker& Picker() {
  static CId3TagDlg::CoverPicker picker;
  return picker;
}

// The one local file a drag carries, else empty.
QString DraggedFile(const QMimeData* data) {
  if (!data || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().front();
  return url.isLocalFile() ? url.toLocalFile() : QString();
}

QString CoverText(const std::string& path) {
  return path.empty()
             ? QStringLiteral("Cover: from the lookup, when fetched")
             : QStringLiteral("Cover: ") + QFileInfo(QString::fromStdString(path)).fileName();
}

// A label reads out as it shows.
void ShowCover(QLabel* label, const std::string& path) {
  label->setText(CoverText(path));
  label->setAccessibleName(label->text());
}

}  // namespace

void CId3TagDlg::SetCoverPicker(CoverPicker picker) {
  Picker() = std::move(picker);
}

void CId3TagDlg::SetReleaseChooser(ReleaseChooser chooser) {
  Chooser() = std::move(chooser);
}

const std::array<const char*, 80>& CId3TagDlg::GenreListNames() {
  static const std::array<const char*, 80> names = [] {
    std::array<const char*, 80> list = GenreNames;
    list[40] = "AlternRock";
    list[46] = "Instrumental Pop";
    list[47] = "Instrumental Rock";
    list[51] = "Techno-Industrial";
    return list;
  }();
  return names;
}

CId3TagDlg::CId3TagDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("ID3 Tag Editor"));
  auto* group = new QGroupBox(QStringLiteral(" ID3 Tag "), this);
  album_ = TextBox(ripSettings.Album(), kTextLimit, "Album", group);
  artist_ = TextBox(ripSettings.Artist(), kTextLimit, "Artist", group);
  genre_ = new QComboBox(group);
  genre_->setAccessibleName(QStringLiteral("Genre"));
  for (const char* name : GenreListNames()) genre_->addItem(QString::fromLatin1(name));
  genre_->setMaxVisibleItems(16);
  genre_->setCurrentIndex(ripSettings.discGenre >= 0 && ripSettings.discGenre < genre_->count()
                              ? ripSettings.discGenre
                              : -1);
  year_ = TextBox(ripSettings.Year(), kYearLimit, "Year", group);
  year_->setMaximumWidth(year_->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 16);
  enable_ = new QCheckBox(QStringLiteral("Enable ID3 tag"), group);
  enable_->setAccessibleName(enable_->text());
  enable_->setChecked(ripSettings.id3Enabled != 0);

  auto* form = new QFormLayout(group);
  form->addRow(QStringLiteral("Album"), album_);
  form->addRow(QStringLiteral("Artist"), artist_);
  form->addRow(QStringLiteral("Genre"), genre_);
  form->addRow(QStringLiteral("Year"), year_);
  form->addRow(enable_);
  coverFile_ = ripSettings.coverFile;
  coverText_ = new QLabel(group);
  ShowCover(coverText_, coverFile_);
  form->addRow(coverText_);
  setAcceptDrops(true);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  for (QAbstractButton* b : buttons->buttons()) b->setAccessibleName(b->text().remove('&'));
  lookUp_ = buttons->addButton(QStringLiteral("Look up"), QDialogButtonBox::ActionRole);
  lookUp_->setAccessibleName(QStringLiteral("Look up"));
  lookUp_->setToolTip(QStringLiteral("Ask MusicBrainz for the disc's names"));
  lookUp_->setEnabled(!ripSettings.tracks.empty());
  connect(lookUp_, &QPushButton::clicked, this, &CId3TagDlg::StartLookUp);
  cover_ = buttons->addButton(QStringLiteral("Cover..."), QDialogButtonBox::ActionRole);
  cover_->setAccessibleName(QStringLiteral("Cover..."));
  cover_->setToolTip(QStringLiteral("Embed a picture of your own as the front cover"));
  connect(cover_, &QPushButton::clicked, this, [this] {
    const QString path =
        Picker() ? Picker()(this)
                 : QFileDialog::getOpenFileName(this, QStringLiteral("Cover"), QString(),
                                                QStringLiteral("Pictures (*.jpg *.jpeg *.png)"));
    if (!path.isEmpty()) TakeCover(path);
  });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(buttons);
  resize(340, sizeHint().height());
}

CId3TagDlg::~CId3TagDlg() {
  closing_ = true;
  if (lookUpThread_.joinable()) lookUpThread_.join();
}

void CId3TagDlg::StartLookUp() {
  if (lookUpThread_.joinable() || ripSettings.tracks.empty()) return;
  lookUp_->setEnabled(false);
  const size_t drive = static_cast<size_t>(ripSettings.driveIndex);
  if (drive >= ripSettings.drives.size()) return;
  const MusicBrainzToc toc = MusicBrainzTocOf(ripSettings.drives[drive].toc);
  const std::string server = ripSettings.musicBrainzServer;
  const size_t tracks = AudioTrackCount(ripSettings.tracks);
  lookUpThread_ = std::thread([this, toc, server, tracks] {
    MusicBrainzLookup lookup =
        LookUpMusicBrainz(server, toc, tracks, [this] { return closing_.load(); });
    if (closing_) return;
    // Queued to the dialog: dropped if it is gone by then.
    QMetaObject::invokeMethod(
        this, [this, lookup = std::move(lookup)] { TakeLookUp(lookup); }, Qt::QueuedConnection);
  });
}

void CId3TagDlg::TakeLookUp(const MusicBrainzLookup& lookup) {
  lookUpThread_.join();
  lookUp_->setEnabled(true);
  if (lookup.kind != MusicBrainzLookup::kFound) {
    ShowMessageBox(this, {QString::fromStdString(MusicBrainzLookupText(lookup)), windowTitle(),
                          QMessageBox::Information});
    emit lookUpFinished();
    return;
  }
  int choice = 0;
  if (lookup.releases.size() > 1) {
    QStringList texts;
    for (size_t i = 0; i < lookup.releases.size(); ++i) {
      texts << QString::fromStdString(std::to_string(i + 1) + ": " +
                                      MusicBrainzReleaseText(lookup.releases[i]));
    }
    if (Chooser()) {
      choice = Chooser()(this, texts);
    } else {
      bool ok = false;
      const QString picked =
          QInputDialog::getItem(this, QStringLiteral("MusicBrainz"),
                                QStringLiteral("Releases of this disc:"), texts, 0, false, &ok);
      choice = ok ? static_cast<int>(texts.indexOf(picked)) : -1;
    }
  }
  if (choice >= 0 && static_cast<size_t>(choice) < lookup.releases.size()) {
    release_ = lookup.releases[static_cast<size_t>(choice)];
    album_->setText(QString::fromStdString(release_->title).left(kTextLimit));
    artist_->setText(QString::fromStdString(release_->artist).left(kTextLimit));
    year_->setText(QString::fromStdString(release_->year));
  }
  emit lookUpFinished();
}

void CId3TagDlg::TakeCover(const QString& path) {
  const std::string file = path.toStdString();
  const CoverArtFetch read = ReadCoverFile(file);
  if (read.kind != CoverArtFetch::kFound) {
    ShowMessageBox(this,
                   {QStringLiteral("Cover art not taken: ") + QString::fromStdString(read.reason),
                    windowTitle(), QMessageBox::Warning});
    return;
  }
  coverFile_ = file;
  ShowCover(coverText_, coverFile_);
}

void CId3TagDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (!DraggedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CId3TagDlg::dropEvent(QDropEvent* event) {
  const QString path = DraggedFile(event->mimeData());
  if (path.isEmpty()) return;
  event->acceptProposedAction();
  TakeCover(path);
}

void CId3TagDlg::accept() {
  ripSettings.coverFile = coverFile_;
  if (release_) ApplyMusicBrainzRelease(*release_, ripSettings, ripSettings.tracks);
  ripSettings.id3Enabled = enable_->isChecked() ? 1 : 0;
  // A genre the list does not hold stays as it was until the user picks one.
  if (genre_->currentIndex() >= 0) ripSettings.discGenre = genre_->currentIndex();
  // What the disc or the lookup named stays theirs, so that a compilation's track artists
  // still stand; only a changed field becomes the user's.
  const auto store = [](const QLineEdit* edit, const std::string& known, std::string& typed) {
    const std::string text = edit->text().toLocal8Bit().toStdString();
    typed = text == known ? std::string() : text;
  };
  store(album_, ripSettings.knownAlbum, ripSettings.discAlbum);
  store(artist_, ripSettings.knownArtist, ripSettings.discArtist);
  store(year_, ripSettings.knownYear, ripSettings.discYear);
  QDialog::accept();
}
