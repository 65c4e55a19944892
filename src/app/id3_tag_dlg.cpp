#include "app/id3_tag_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "config/genres.h"
#include "config/settings.h"

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

}  // namespace

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

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  for (QAbstractButton* b : buttons->buttons()) b->setAccessibleName(b->text().remove('&'));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(buttons);
  resize(340, sizeHint().height());
}

void CId3TagDlg::accept() {
  ripSettings.id3Enabled = enable_->isChecked() ? 1 : 0;
  // A genre the list does not hold stays as it was until the user picks one.
  if (genre_->currentIndex() >= 0) ripSettings.discGenre = genre_->currentIndex();
  ripSettings.discAlbum = album_->text().toLocal8Bit().toStdString();
  ripSettings.discArtist = artist_->text().toLocal8Bit().toStdString();
  ripSettings.discYear = year_->text().toLocal8Bit().toStdString();
  QDialog::accept();
}
