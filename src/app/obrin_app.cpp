// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/obrin_app.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>

#include "app/main_frame.h"
#include "app/message_box.h"
#include "app/splash.h"
#include "app/tip_of_day_dlg.h"
#include "config/settings.h"
#include "disc/cd_device.h"
#include "disc/track_list.h"

std::unique_ptr<QLockFile> TakeInstanceLock() {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  QDir().mkpath(folder);
  auto lock = std::make_unique<QLockFile>(folder + QStringLiteral("/Obrin.lock"));
  // Only a live holder counts: a running Obrin's lock never ages, a dead one's always is.
  lock->setStaleLockTime(0);
  if (lock->tryLock(0)) return lock;
  if (lock->error() != QLockFile::LockFailedError) return lock;  // no folder to lock in
  ShowMessageBox(nullptr, {QStringLiteral("The Obrin is running!"), QStringLiteral("Help"),
                           QMessageBox::Information, QMessageBox::Ok});
  return nullptr;
}

CObrinApp::CObrinApp() {
  LoadDefaultSettings(ripSettings);
  LoadSettings(ripSettings);
}

CObrinApp::~CObrinApp() = default;

bool CObrinApp::InitInstance(const AppOptions& options) {
  instance_ = TakeInstanceLock();
  if (!instance_) return false;

  RipSettings& settings = ripSettings;
  for (const std::string& problem : settings.settingsProblems) {
    ShowMessageBox(nullptr, {QString::fromStdString(problem), QStringLiteral("Obrin 2.0"),
                             QMessageBox::Warning, QMessageBox::Ok});
  }
  SetCdImages(options.images);
  noCdDrives = EnumerateCdDrives(settings) < 1;
  if (noCdDrives) {
    ShowMessageBox(nullptr,
                   {QStringLiteral("Couldn't find any CD-ROM drives!"), QStringLiteral("Obrin 2.0"),
                    QMessageBox::Information, QMessageBox::Ok});
  }
  if (settings.driveIndex < 0 ||
      static_cast<size_t>(settings.driveIndex) >= settings.drives.size()) {
    settings.driveIndex = 0;
  }

  frame_ = std::make_unique<CMainFrame>();
  frame_->noCdDrives = noCdDrives;
  frame_->WatchDevices(options.images);
  CSplashWindow::ShowSplashScreen(frame_.get());
  frame_->show();
  frame_->setWindowTitle(QStringLiteral("Obrin 2.0"));
  CTipOfDayDlg::ShowAtStartup(frame_.get());
  return true;
}

int RunObrin(QApplication& app, const AppOptions& options) {
  CObrinApp obrin;
  if (!obrin.InitInstance(options)) return 1;
  return app.exec();
}
