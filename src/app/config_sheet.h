// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// CConfigSheet ("Configuration"): one page per output format over copies of
// ripSettings.formats, and the Ripping page (app/ripping_page.h). Only pages the user opened are
// stored back, by Apply (stores and saves, any number of times) and OK (the same, then closes);
// Cancel stores nothing. A page is initialised the first time its tab is shown; the MP3 page always
// is, as the first tab.
#include <QDialog>

#include "config/settings.h"

class CConfigSheet;
class CPage5Ripping;
class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QPushButton;
class QSlider;
class QTabWidget;

class CConfigPage : public QWidget {
  Q_OBJECT
 public:
  using QWidget::QWidget;
  // Fills the controls from the members and sets pageInitialized.
  void Initialize();
  // Controls into members (save) or members into controls. A control that cannot show its
  // member's value (an index outside its list) leaves the member as it is until the user
  // picks a value.
  virtual void DoDataExchange(bool save) = 0;
  bool pageInitialized = false;
  CConfigSheet* sheet = nullptr;

 protected:
  virtual void OnInitDialog() = 0;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void EnableApply();
  QComboBox* AddList(const QStringList& items, const QString& name);
  QPushButton* AddDefaultButton();
};

class CPage1Mp3 : public CConfigPage {
  Q_OBJECT
 public:
  explicit CPage1Mp3(const Mp3Settings& values, QWidget* parent = nullptr);
  void DoDataExchange(bool save) override;
  Mp3Settings values;  // the page's members
  QSlider* slider() const { return slider_; }
  QLabel* qualityLabel() const { return label_; }

 protected:
  void OnInitDialog() override;

 private:
  void OnHScroll();
  void OnDefault();
  void UpdateLabel();
  QComboBox *sampleRate_, *channels_, *bitrate_, *preset_, *vbrMax_;
  QCheckBox* vbr_;
  QSlider* slider_;
  QLabel* label_;
};

class CPage2Wav : public CConfigPage {
  Q_OBJECT
 public:
  explicit CPage2Wav(const WavSettings& values, QWidget* parent = nullptr);
  void DoDataExchange(bool save) override;
  WavSettings values;

 protected:
  void OnInitDialog() override;

 private:
  void OnDefault();
  QComboBox *sampleRate_, *channels_, *bits_;
};

class CPage3Ogg : public CConfigPage {
  Q_OBJECT
 public:
  explicit CPage3Ogg(const OggSettings& values, QWidget* parent = nullptr);
  void DoDataExchange(bool save) override;
  OggSettings values;
  QString labelText;  // the slider's caption
  QSlider* slider() const { return slider_; }
  QLabel* qualityLabel() const { return label_; }

 protected:
  void OnInitDialog() override;

 private:
  void OnHScroll();
  void OnDefault();
  void OnModeClicked(int32_t OggSettings::*mode);
  void UpdateLabel();
  QComboBox *sampleRate_, *channels_, *cbr_, *nominal_, *minimal_, *maximum_;
  QCheckBox *useCbr_, *useBbr_, *useVbr_;
  QSlider* slider_;
  QLabel* label_;
};

class CPage4Flac : public CConfigPage {
  Q_OBJECT
 public:
  explicit CPage4Flac(const FlacSettings& values, QWidget* parent = nullptr);
  void DoDataExchange(bool save) override;
  FlacSettings values;

 protected:
  void OnInitDialog() override;

 private:
  void OnDefault();
  QComboBox* level_;
};

class CPage6Opus : public CConfigPage {
  Q_OBJECT
 public:
  explicit CPage6Opus(const OpusSettings& values, QWidget* parent = nullptr);
  void DoDataExchange(bool save) override;
  OpusSettings values;

 protected:
  void OnInitDialog() override;

 private:
  void OnDefault();
  QComboBox *bitrate_, *mode_, *complexity_;
};

class CConfigSheet : public QDialog {
  Q_OBJECT
 public:
  // Pages from ripSettings.formats, then the Ripping page; opens on the page of
  // ripSettings.outputFormat.
  explicit CConfigSheet(QWidget* parent = nullptr);

  void EnableApply();
  // Stores the opened pages into ripSettings.formats, saves the settings file, disables Apply.
  void ApplyPages();
  void accept() override;  // OK: ApplyPages, then close

  CPage1Mp3* mp3Page() const { return mp3_; }
  CPage2Wav* wavPage() const { return wav_; }
  CPage3Ogg* oggPage() const { return ogg_; }
  CPage4Flac* flacPage() const { return flac_; }
  CPage6Opus* opusPage() const { return opus_; }
  CPage5Ripping* rippingPage() const { return ripping_; }
  QTabWidget* tabs() const { return tabs_; }
  QPushButton* applyButton() const { return apply_; }

 private:
  void InitPage(int index);
  QTabWidget* tabs_;
  CPage1Mp3* mp3_;
  CPage2Wav* wav_;
  CPage3Ogg* ogg_;
  CPage4Flac* flac_;
  CPage6Opus* opus_;
  CPage5Ripping* ripping_;
  QPushButton* apply_;
};
