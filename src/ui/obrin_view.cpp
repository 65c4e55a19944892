// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "ui/obrin_view.h"

#include <QHeaderView>
#include <QStyle>
#include <QStyleOptionViewItem>

#include <algorithm>

#include "config/disc_model.h"

namespace {
struct Column {
  const char* heading;
  int width;
};
constexpr Column kColumns[] = {{"Title", 120}, {"Length", 70},       {"Output Format", 172},
                               {"Status", 70}, {"Output Path", 150}, {"AccurateRip", 230}};
}  // namespace

CObrinView::CObrinView(QWidget* parent) : QTreeWidget(parent) {
  setAccessibleName(QStringLiteral("Tracks"));
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  setAllColumnsShowFocus(true);
  header()->setSectionsClickable(false);
  header()->setSectionsMovable(false);
  header()->setStretchLastSection(false);
  ShowVerifyColumn(false);
}

void CObrinView::ShowVerifyColumn(bool shown) {
  const int count = shown ? 6 : 5;
  if (columnCount() == count && headerItem()->text(0) == QLatin1String(kColumns[0].heading)) return;
  setColumnCount(count);
  QStringList headings;
  for (int c = 0; c < count; ++c) headings << QString::fromLatin1(kColumns[c].heading);
  setHeaderLabels(headings);
  for (int c = 0; c < count; ++c) setColumnWidth(c, kColumns[c].width);
}

int CObrinView::WidthFor(int column, const QString& text, bool heading) const {
  if (heading) {
    const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header());
    return header()->fontMetrics().horizontalAdvance(text) + 2 * margin + 2;
  }
  // As the item view lays out a cell for painting: the style's own size of an item with this
  // text in the view's font (its margins, the first column's check box and their spacing),
  // so that no text it fits is drawn elided.
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.text = text;
  option.features |= QStyleOptionViewItem::HasDisplay;
  if (column == 0) option.features |= QStyleOptionViewItem::HasCheckIndicator;
  const QSize size = style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this);
  return size.width() + (column == 0 && rootIsDecorated() ? indentation() : 0);
}

void CObrinView::FitColumns(const QStringList& formatTexts) {
  const QStringList fixed[] = {
      {QStringLiteral("Track 00"), QString::fromLatin1(kHiddenTrackTitle)},
      {QStringLiteral("00:00")},
      formatTexts,
      {QStringLiteral("Completed"), QStringLiteral("Stopped"), QStringLiteral("ERROR"),
       QStringLiteral("Pending"), QStringLiteral("100%")},
      {},
      {QStringLiteral("Accurately ripped (confidence 200, v2); CTDB: Accurately ripped "
                      "(200/200), offset -2939"),
       QStringLiteral("Not accurate (database confidence 200); CTDB: Not accurate (database "
                      "confidence 200)")},
  };
  for (int c = 0; c < columnCount(); ++c) {
    int width = std::max(kColumns[c].width,
                         WidthFor(c, QString::fromLatin1(kColumns[c].heading), /*heading=*/true));
    for (const QString& text : fixed[c]) width = std::max(width, WidthFor(c, text));
    setColumnWidth(c, width);
  }
}

int CObrinView::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.first());
}

QString CObrinView::RowText(int row, int column) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item ? item->text(column) : QString();
}

bool CObrinView::RowChecked(int row) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item && item->checkState(0) == Qt::Checked;
}
