// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/profile_store.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "config/settings.h"

namespace {

QVariant Read(const QString& section, const QString& key) {
  const QSettings profile(ProfileFilePath(), QSettings::IniFormat);
  if (profile.status() != QSettings::NoError) return {};
  return profile.value(section + QLatin1Char('/') + key);
}

void Write(const QString& section, const QString& key, const QVariant& value) {
  const QString path = ProfileFilePath();
  QDir().mkpath(QFileInfo(path).path());
  QSettings profile(path, QSettings::IniFormat);
  // A damaged file would be replaced by what little QSettings understood of it; leave it be.
  if (profile.status() != QSettings::NoError) return;
  profile.setValue(section + QLatin1Char('/') + key, value);
  profile.sync();
}

}  // namespace

QString ProfileFilePath() {
  // Beside Obrin.ini: one folder holds all of Obrin's files.
  const QString settings = QFile::decodeName(SettingsFilePath().c_str());
  return QFileInfo(settings).path() + QStringLiteral("/profile.ini");
}

int64_t GetProfileInt(const QString& section, const QString& key, int64_t fallback) {
  bool ok = false;
  const qlonglong value = Read(section, key).toString().trimmed().toLongLong(&ok);
  return ok ? static_cast<int64_t>(value) : fallback;
}

QString GetProfileText(const QString& section, const QString& key, const QString& fallback) {
  const QVariant value = Read(section, key);
  return value.isValid() ? value.toString() : fallback;
}

void WriteProfileInt(const QString& section, const QString& key, int64_t value) {
  Write(section, key, QString::number(static_cast<qlonglong>(value)));
}

void WriteProfileText(const QString& section, const QString& key, const QString& value) {
  Write(section, key, value);
}
