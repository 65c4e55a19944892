// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/bars.h"

#include <QLabel>
#include <QPainter>
#include <QResizeEvent>
#include <QUrl>

#include <algorithm>

#include "ui/commands.h"
#include "widgets/resources.h"

namespace {
constexpr int kMainBarHeight = 44;
constexpr int kSubBarHeight = 25;
constexpr int kStateBarHeight = 28;
constexpr int kComboWidthCut = 415;
}  // namespace

const std::vector<BarControlSpec>& BarControls() {
  using B = BarId;
  static const std::vector<BarControlSpec> controls = {
      {B::kState, IDC_HOUSE, ID_HOME_PAGE, 76, 4, 20, 20, true, 134, 135, 137, "Home page"},
      {B::kState, IDC_MAIL, ID_SEND_MAIL, 53, 4, 20, 20, true, 139, 140, 141, "E-mail"},
      {B::kMain, IDC_CONFIG, ID_CONFIGURATION, 80, 11, 26, 25, false, 184, 185, 186,
       "Configuration"},
      {B::kMain, IDC_TOOL, IDC_TOOL, 116, 11, 26, 25, false, 187, 188, 189, "Output format"},
      {B::kMain, IDC_MENU, IDC_MENU, 9, 8, 30, 31, false, 145, 147, 146, "Menu"},
      {B::kMain, IDC_HELP, ID_HELP_FILE, 51, 15, 22, 22, false, 181, 182, 183, "Help"},
      {B::kMain, IDC_RIP, IDC_RIP, 136, 3, 60, 27, true, 178, 180, 179, "Rip"},
      {B::kSub, IDC_SELECT_ALL, IDC_SELECT_ALL, 173, 4, 17, 17, true, 150, 159, 158, "Select all"},
      {B::kSub, IDC_REFRESH, IDC_REFRESH, 153, 4, 17, 17, true, 151, 166, 167, "Refresh"},
      {B::kSub, IDC_EDIT, ID_EDIT_ID3, 133, 4, 17, 17, true, 152, 169, 168, "Edit ID3 tag"},
      {B::kSub, IDC_PREVIOUS, IDC_PREVIOUS, 113, 4, 17, 17, true, 153, 170, 171, "Previous track"},
      {B::kSub, IDC_NEXT, IDC_NEXT, 93, 4, 17, 17, true, 154, 173, 172, "Next track"},
      {B::kSub, IDC_EJECT, IDC_EJECT, 73, 4, 17, 17, true, 155, 174, 175, "Eject"},
      {B::kSub, IDC_PLAY, IDC_PLAY, 53, 4, 17, 17, true, 156, 176, 177, "Play"},
      {B::kSub, IDC_STOP_PLAY, IDC_STOP_PLAY, 33, 4, 17, 17, true, 157, 161, 160, "Stop playback"},
      {B::kSub, IDC_OUTPUT_FOLDER, ID_OUTPUT_PATH, 193, 4, 17, 17, true, 163, 165, 164,
       "Output folder"},
      {B::kMain, IDC_DRIVE_COMBO, 0, 215, 6, -kComboWidthCut, 24, false, 0, 0, 0, "CD drive"},
  };
  return controls;
}

QRect BarControlRect(const BarControlSpec& spec, int outerWidth) {
  const int x = spec.fromRight ? outerWidth - spec.x : spec.x;
  const int width = spec.width < 0 ? outerWidth + spec.width : spec.width;
  return QRect(x, spec.y, width, spec.height);
}

CDialogBar::CDialogBar(BarId id, QWidget* parent) : QWidget(parent), id_(id) {
  const int height = id == BarId::kMain  ? kMainBarHeight
                     : id == BarId::kSub ? kSubBarHeight
                                         : kStateBarHeight;
  setFixedHeight(height);
  setAttribute(Qt::WA_OpaquePaintEvent);
  if (id == BarId::kState) {
    // A label, not painted text: screen readers read what the bar says, and the log's path
    // is a link.
    state_ = new QLabel(QStringLiteral("Ready"), this);
    state_->setAccessibleName(QStringLiteral("Status"));
    state_->setTextFormat(Qt::PlainText);
    state_->setStyleSheet(QStringLiteral("color: #cbd5e1;"));
    connect(state_, &QLabel::linkActivated, this,
            [this](const QString& link) { emit logClicked(QUrl(link).toLocalFile()); });
  }
}

void CDialogBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const qreal w = width(), h = height();
  switch (id_) {
    case BarId::kMain: {
      const QSizeF left = ImageSize(IDB_MAIN_LEFT);
      const QSizeF right = ImageSize(IDB_MAIN_RIGHT);
      DrawImage(painter, IDB_MAIN_FILL, QRectF(left.width(), 0, w - left.width(), h));
      DrawImage(painter, IDB_MAIN_LEFT, QRectF(QPointF(0, 0), left));
      DrawImage(painter, IDB_MAIN_RIGHT, QRectF(QPointF(w - 186, 0), right));
      break;
    }
    case BarId::kSub:
      DrawImage(painter, IDB_SUB_BACK, QRectF(0, 0, w, h));
      break;
    case BarId::kState: {
      DrawImage(painter, IDB_STATE_BACK, QRectF(0, 0, w, h));
      DrawImage(painter, IDB_STATE_GRIP, QRectF(QPointF(w - 19, 0), ImageSize(IDB_STATE_GRIP)));
      break;
    }
  }
}

void CDialogBar::SetStateText(const QString& text, const QString& logPath) {
  if (!state_) return;
  if (logPath.isEmpty()) {
    state_->setTextFormat(Qt::PlainText);
    state_->setText(text);
  } else {
    state_->setTextFormat(Qt::RichText);
    state_->setText(text.toHtmlEscaped() +
                    QStringLiteral("&nbsp;&nbsp;&nbsp;Log: <a style=\"color:#93c5fd\" href=\"") +
                    QUrl::fromLocalFile(logPath).toString(QUrl::FullyEncoded).toHtmlEscaped() +
                    QStringLiteral("\">") + logPath.toHtmlEscaped() + QStringLiteral("</a>"));
  }
  state_->setToolTip(state_->text() == text ? QString() : logPath);
}

QString CDialogBar::StateText() const {
  return state_ ? state_->text() : QString();
}

void CDialogBar::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // Left of the state bar's buttons and grip.
  if (state_) state_->setGeometry(6, 0, std::max(0, width() - 90), height());
}
