// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/tip_of_day_dlg.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/message_box.h"
#include "app/profile_store.h"
#include "config/settings.h"
#include "widgets/resources.h"

namespace {

const QString kSection = QStringLiteral("Tip");
const QString kStartUp = QStringLiteral("StartUp");
const QString kFilePos = QStringLiteral("FilePos");
const QString kTimeStamp = QStringLiteral("TimeStamp");
constexpr int kBulbImage = 103;

// The white area: the bulb at its top-left, the heading beside it, the tip below.
class TipArea : public QFrame {
 public:
  explicit TipArea(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Box);
    setAutoFillBackground(false);
    setMinimumHeight(ImageSize(kBulbImage).height() + 80);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const QSize bulb = ImageSize(kBulbImage);
    DrawImage(painter, kBulbImage, QRectF(QPointF(1, 1), QSizeF(bulb)));
    QFont font = painter.font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.4);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QRect band(bulb.width() + 4, 1, width() - bulb.width() - 8, bulb.height());
    painter.drawText(band, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     QString::fromLatin1(CTipOfDayDlg::kHeading));
    painter.end();
    QFrame::paintEvent(event);
  }
};

}  // namespace

std::string CTipOfDayDlg::TipsPath() {
  return GetProgramFolder() + "tips.txt";
}

CTipOfDayDlg::CTipOfDayDlg(QWidget* parent, const std::string& tipsPath) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Tip of the Day"));
  auto* area = new TipArea(this);
  tip_ = new QLabel(area);
  tip_->setTextFormat(Qt::PlainText);
  tip_->setWordWrap(true);
  tip_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // No fixed name: a screen reader then reads the label's text, the tip itself, and hears of
  // each new one. The heading is painted, so the area carries it as its name.
  area->setAccessibleName(QString::fromLatin1(kHeading));
  QPalette white = tip_->palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  tip_->setPalette(white);
  auto* areaLayout = new QVBoxLayout(area);
  const QSize bulb = ImageSize(kBulbImage);
  areaLayout->setContentsMargins(bulb.width() / 2, bulb.height() + 6, 12, 12);
  areaLayout->addWidget(tip_, 1);

  startUp_ = new QCheckBox(QStringLiteral("&Show Tips on StartUp"), this);
  startUp_->setAccessibleName(QStringLiteral("Show Tips on StartUp"));
  next_ = new QPushButton(QStringLiteral("&Next Tip"), this);
  next_->setAccessibleName(QStringLiteral("Next Tip"));
  next_->setAutoDefault(false);
  auto* close = new QPushButton(QStringLiteral("&Close"), this);
  close->setAccessibleName(QStringLiteral("Close"));
  close->setDefault(true);
  connect(next_, &QPushButton::clicked, this, &CTipOfDayDlg::OnNextTip);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);

  auto* row = new QHBoxLayout;
  row->addWidget(startUp_);
  row->addStretch(1);
  row->addWidget(next_);
  row->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(area, 1);
  layout->addLayout(row);
  resize(460, 300);

  showAtStartup_ = GetProfileInt(kSection, kStartUp, 0) == 0;
  startUp_->setChecked(showAtStartup_);
  int64_t position = GetProfileInt(kSection, kFilePos, 0);
  if (!file_.Open(tipsPath)) {
    tip_->setText(QString::fromLatin1(kNoFile));
    next_->setEnabled(false);
    return;
  }
  // A changed file starts again at its first tip.
  const QString stamp = QString::fromLocal8Bit(file_.TimeStamp().c_str());
  if (stamp != GetProfileText(kSection, kTimeStamp, QString())) {
    position = 0;
    WriteProfileText(kSection, kTimeStamp, stamp);
  }
  if (!file_.Seek(position)) {
    ReadTrouble();
    return;
  }
  ReadNextTip();
}

CTipOfDayDlg::~CTipOfDayDlg() {
  if (!file_.isOpen()) return;
  const int64_t position = file_.Tell();
  if (position >= 0) WriteProfileInt(kSection, kFilePos, position);
  file_.Close();
}

void CTipOfDayDlg::ShowAtStartup(QWidget* parent, const std::string& tipsPath) {
  CTipOfDayDlg dialog(parent, tipsPath);
  if (dialog.showAtStartup()) dialog.exec();
}

QString CTipOfDayDlg::tipText() const {
  return tip_->text();
}

void CTipOfDayDlg::ReadTrouble() {
  ShowMessageBox(this, {QString::fromLatin1(kReadTrouble), QStringLiteral("Obrin"),
                        QMessageBox::Warning, QMessageBox::Ok});
}

void CTipOfDayDlg::ReadNextTip() {
  const TipsFile::Tip tip = file_.ReadNextTip();
  if (tip.seekFailures > 0) ReadTrouble();
  tip_->setText(QString::fromLocal8Bit(tip.text.c_str()));
  // A file without a single tip line has nothing more to show.
  if (!tip.found) next_->setEnabled(false);
}

void CTipOfDayDlg::OnNextTip() {
  ReadNextTip();
}

void CTipOfDayDlg::accept() {
  showAtStartup_ = startUp_->isChecked();
  WriteProfileInt(kSection, kStartUp, showAtStartup_ ? 0 : 1);
  QDialog::accept();
}
