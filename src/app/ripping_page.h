// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// CPage5Ripping ("Ripping"): how the disc is read and what a rip leaves beside the tracks.
// Its read offset belongs to the drive chosen in the main window: a drive that reports its
// identity keeps it in its model's own section ([Drive VENDOR MODEL] ReadOffset, as
// obrin-rip --find-offset does), a disc image in [Drive] ReadOffset.
//
// "Find offset" reads the disc on a worker thread under ripSettings.ripping, as a rip does,
// so that the window's other commands refuse meanwhile and Cancel stops the worker promptly.
#include <string>

#include "app/config_sheet.h"

class QLineEdit;
class QSpinBox;

struct RippingValues {
  int32_t verify = 0;
  int32_t secure = 0;
  int32_t writeLog = 0;
  int32_t lookUpOnLoad = 0;
  int32_t deemphasis = 0;
  int32_t fetchCoverArt = 0;  // [CoverArt] Fetch
  int32_t replayGain = 0;
  int32_t readOffset = 0;
  std::string fileNameTemplate = kDefaultFileNameTemplate;
};

class CPage5Ripping : public CConfigPage {
  Q_OBJECT
 public:
  // Takes the values of `settings`, the read offset from the chosen drive's section.
  explicit CPage5Ripping(const RipSettings& settings, QWidget* parent = nullptr);
  void DoDataExchange(bool save) override;
  // The members into `settings` (after DoDataExchange(true)); the read offset into the
  // record only for an image, whose offset the settings file keeps in [Drive].
  void Store(RipSettings& settings) const;
  // Writes a drive's offset into its model's section; call after the settings file is saved.
  void StoreDriveOffset() const;
  RippingValues values;
  // "Drive VENDOR MODEL", or empty when the offset is [Drive] ReadOffset.
  const std::string& driveSection() const { return driveSection_; }

 protected:
  void OnInitDialog() override;

 private:
  void OnFindOffset();
  std::string driveSection_;
  QCheckBox *verify_, *secure_, *writeLog_, *lookUpOnLoad_, *coverArt_, *deemphasis_, *replayGain_;
  QSpinBox* readOffset_;
  QLineEdit* template_;
  QPushButton* findOffset_;
};
