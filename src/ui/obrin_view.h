// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The track list: a report list with check boxes, one row per track record, five columns
// (a sixth, "AccurateRip", while rips are verified).
// It only shows rows; the main frame fills them (ReloadDisc and friends).
#include <QTreeWidget>

class CObrinView : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CObrinView(QWidget* parent = nullptr);

  // The position of the first selected row; -1 when none is.
  int SelectedRow() const;
  QString RowText(int row, int column) const;
  bool RowChecked(int row) const;
  // Adds or removes the sixth column; the first five stay as they are.
  void ShowVerifyColumn(bool shown);
  // Gives each column its width of the Windows original, or more where the desktop's font is
  // wider: enough for its heading and the longest of the texts it can hold (statuses,
  // lengths, `formatTexts`: every Output Format text of the current format). The list scrolls
  // sideways when the columns outgrow it.
  void FitColumns(const QStringList& formatTexts);
  // The least width of `column` that shows `text` whole, in the list's (or, for the
  // heading, the header's) font and margins.
  int WidthFor(int column, const QString& text, bool heading = false) const;
  bool VerifyColumnShown() const { return columnCount() > 5; }
};
