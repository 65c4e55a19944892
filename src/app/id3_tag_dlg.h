#pragma once
// CId3TagDlg: album, artist, genre, year and the ID3 switch for the next rip. It edits the
// five fields of ripSettings for the rest of the run; nothing of it reaches the settings file.
#include <QDialog>
#include <array>

class QCheckBox;
class QComboBox;
class QLineEdit;

class CId3TagDlg : public QDialog {
  Q_OBJECT
 public:
  // Takes the fields' current values.
  explicit CId3TagDlg(QWidget* parent = nullptr);

  // The genre list's names in number order; four are longer than the tag table's.
  static const std::array<const char*, 80>& GenreListNames();

  QLineEdit* albumEdit() const { return album_; }
  QLineEdit* artistEdit() const { return artist_; }
  QLineEdit* yearEdit() const { return year_; }
  QComboBox* genreCombo() const { return genre_; }
  QCheckBox* enableBox() const { return enable_; }

  void accept() override;  // stores the five fields, then closes

 private:
  QLineEdit* album_;
  QLineEdit* artist_;
  QLineEdit* year_;
  QComboBox* genre_;
  QCheckBox* enable_;
};
