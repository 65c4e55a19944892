// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The program's images, compiled in from res/ and named by their numeric ids. They are SVG
// drawings, rendered at the screen's pixel ratio so they stay sharp on scaled displays.
#include <QCursor>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QPainter;
class QRectF;

QString ImagePath(int id);  // ":/bitmaps/ID.svg", ":/cursors/ID.svg" or ":/icons/ID.svg"
QSize ImageSize(int id);    // the drawing's own size in pixels; empty when it does not exist
// Draws image `id` into `target`; false when there is no such image.
bool DrawImage(QPainter& painter, int id, const QRectF& target);
QPixmap ImagePixmap(int id, qreal devicePixelRatio);
QIcon ImageIcon(int id);
// A cursor drawn as image `id` with its hot spot at `hotSpot`; `fallback` when it is missing.
QCursor ImageCursor(int id, QPoint hotSpot, Qt::CursorShape fallback);
