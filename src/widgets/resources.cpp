// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "widgets/resources.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>
#include <map>
#include <memory>

// The images live in a static library, whose resource initialiser nothing else would pull in.
static void InitImages() {
  Q_INIT_RESOURCE(obrin);
}

namespace {

QSvgRenderer* Renderer(int id) {
  static std::map<int, std::unique_ptr<QSvgRenderer>> renderers;
  auto& slot = renderers[id];
  if (!slot) {
    const QString path = ImagePath(id);
    if (path.isEmpty()) return nullptr;
    slot = std::make_unique<QSvgRenderer>(path);
  }
  return slot->isValid() ? slot.get() : nullptr;
}

}  // namespace

QString ImagePath(int id) {
  static const bool initialised = (InitImages(), true);
  (void)initialised;
  for (const char* folder : {"bitmaps", "cursors", "icons"}) {
    const QString path = QStringLiteral(":/%1/%2.svg").arg(QLatin1String(folder)).arg(id);
    if (QFile::exists(path)) return path;
  }
  return {};
}

QSize ImageSize(int id) {
  QSvgRenderer* renderer = Renderer(id);
  return renderer ? renderer->defaultSize() : QSize();
}

bool DrawImage(QPainter& painter, int id, const QRectF& target) {
  QSvgRenderer* renderer = Renderer(id);
  if (!renderer) return false;
  renderer->render(&painter, target);
  return true;
}

QPixmap ImagePixmap(int id, qreal devicePixelRatio) {
  const QSize size = ImageSize(id);
  if (size.isEmpty()) return {};
  QPixmap pixmap(size * devicePixelRatio);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  DrawImage(painter, id, QRectF(QPointF(0, 0), QSizeF(size)));
  return pixmap;
}

QIcon ImageIcon(int id) {
  const QString path = ImagePath(id);
  return path.isEmpty() ? QIcon() : QIcon(path);
}

QCursor ImageCursor(int id, QPoint hotSpot, Qt::CursorShape fallback) {
  const qreal ratio = qApp ? qGuiApp->devicePixelRatio() : 1.0;
  const QPixmap pixmap = ImagePixmap(id, ratio);
  if (pixmap.isNull()) return QCursor(fallback);
  return QCursor(pixmap, hotSpot.x(), hotSpot.y());
}
