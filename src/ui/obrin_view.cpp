#include "ui/obrin_view.h"

#include <QHeaderView>

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
