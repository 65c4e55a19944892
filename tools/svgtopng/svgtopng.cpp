// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// svgtopng SVG PNG SIZE: renders an SVG into a square PNG of SIZE pixels (the icon theme's
// fixed sizes), so the package carries no drawn-by-hand bitmaps.
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4 || std::atoi(argv[3]) <= 0) {
    std::fputs("Usage: svgtopng SVG PNG SIZE\n", stderr);
    return 2;
  }
  // Shapes and gradients only: a raster QPainter needs no application object nor display.
  QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
  if (!svg.isValid()) {
    std::fprintf(stderr, "svgtopng: cannot read %s\n", argv[1]);
    return 1;
  }
  const int size = std::atoi(argv[3]);
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  svg.render(&painter);
  painter.end();
  if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::fprintf(stderr, "svgtopng: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
