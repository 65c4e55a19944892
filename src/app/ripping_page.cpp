// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/ripping_page.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <charconv>
#include <mutex>
#include <thread>
#include <vector>

#include "app/message_box.h"
#include "capture/offset_finder.h"
#include "capture/rip_host.h"
#include "disc/accuraterip.h"
#include "disc/disc_ids.h"
#include "disc/drive_section.h"
#include "platform/profile.h"

namespace {

// Exactly the placeholders ExpandFileNameTemplate replaces.
constexpr char kPlaceholders[] =
    "$a artist, $t title, $n track number, $l album, $y year, $g genre";

QCheckBox* MakeCheck(const char* text, QWidget* parent) {
  auto* box = new QCheckBox(QString::fromLatin1(text), parent);
  box->setAccessibleName(box->text());
  return box;
}

QLabel* MakeLabel(const QString& text, QWidget* buddy, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setAccessibleName(text);
  label->setBuddy(buddy);
  return label;
}

void Exchange(bool save, QCheckBox* box, int32_t& member) {
  if (save) {
    member = box->isChecked() ? 1 : 0;
  } else {
    box->setChecked(member != 0);
  }
}

QString SignedText(int32_t offset) {
  return offset > 0 ? QStringLiteral("+%1").arg(offset) : QString::number(offset);
}

// The search's host: its progress goes to the dialog, and an error box waits until the
// search is over, since the dialog is what the user sees meanwhile and the worker must not
// hold on to a box nobody may be looking at.
class OffsetSearchHost : public RipHost {
 public:
  explicit OffsetSearchHost(QProgressDialog* progress) : progress_(progress) {}
  void PostProgress(TrackRecord& track) override {
    const int percent = track.status;
    const int number = track.index + 1;
    if (percent < 0 || percent > 99) return;
    QMetaObject::invokeMethod(
        progress_,
        [progress = progress_, percent, number] {
          progress->setLabelText(QStringLiteral("Reading track %1").arg(number));
          progress->setValue(percent);
        },
        Qt::QueuedConnection);
  }
  void PostFinished() override {}
  void ShowErrorBox(const std::string& text) override {
    const std::lock_guard lock(mutex_);
    errors_.push_back(text);
  }
  std::vector<std::string> Errors() {
    const std::lock_guard lock(mutex_);
    return errors_;
  }

 private:
  QProgressDialog* progress_;
  std::mutex mutex_;
  std::vector<std::string> errors_;
};

struct OffsetSearchResult {
  bool looked = false;  // the database answered with the disc
  AccurateRipLookup lookup;
  OffsetSearch search;
};

}  // namespace

CPage5Ripping::CPage5Ripping(const RipSettings& settings, QWidget* parent)
    : CConfigPage(parent), driveSection_(SelectedDriveSection(settings)) {
  values.verify = settings.verifyAccurateRip;
  values.secure = settings.secureRip;
  values.writeLog = settings.writeLog;
  values.lookUpOnLoad = settings.lookUpOnLoad;
  values.deemphasis = settings.deemphasis;
  values.fetchCoverArt = settings.fetchCoverArt;
  values.replayGain = settings.replayGain;
  values.fileNameTemplate = settings.fileNameTemplate;
  values.readOffset = settings.readOffset;
  // A model without its own offset yet starts from the default every drive gets.
  values.readOffset = SectionReadOffset(driveSection_).value_or(values.readOffset);

  verify_ = MakeCheck("Verify with AccurateRip and CTDB", this);
  secure_ = MakeCheck("Secure reading", this);
  writeLog_ = MakeCheck("Write log and cue sheet", this);
  lookUpOnLoad_ = MakeCheck("Look up the disc in MusicBrainz when it is loaded", this);
  coverArt_ = MakeCheck("Fetch cover art", this);
  deemphasis_ = MakeCheck("De-emphasis", this);
  replayGain_ = MakeCheck("ReplayGain", this);

  readOffset_ = new QSpinBox(this);
  readOffset_->setRange(-kReadOffsetLimit, kReadOffsetLimit);
  readOffset_->setSuffix(QStringLiteral(" samples"));
  readOffset_->setAccessibleName(QStringLiteral("Read offset"));
  findOffset_ = new QPushButton(QStringLiteral("Find offset"), this);
  findOffset_->setAccessibleName(findOffset_->text());
  findOffset_->setAutoDefault(false);
  auto* offsetRow = new QHBoxLayout;
  offsetRow->addWidget(readOffset_);
  offsetRow->addWidget(findOffset_);
  offsetRow->addStretch(1);

  template_ = new QLineEdit(this);
  template_->setAccessibleName(QStringLiteral("File names"));
  auto* placeholders = new QLabel(QString::fromLatin1(kPlaceholders), this);
  placeholders->setAccessibleName(placeholders->text());
  placeholders->setWordWrap(true);

  auto* form = new QFormLayout;
  form->addRow(MakeLabel(QStringLiteral("Read offset"), readOffset_, this), offsetRow);
  form->addRow(MakeLabel(QStringLiteral("File names"), template_, this), template_);
  form->addRow(QString(), placeholders);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(verify_);
  layout->addWidget(secure_);
  layout->addWidget(writeLog_);
  layout->addWidget(lookUpOnLoad_);
  layout->addWidget(coverArt_);
  layout->addWidget(deemphasis_);
  layout->addWidget(replayGain_);
  layout->addLayout(form);
  layout->addStretch(1);

  for (QCheckBox* box :
       {verify_, secure_, writeLog_, lookUpOnLoad_, coverArt_, deemphasis_, replayGain_}) {
    connect(box, &QCheckBox::clicked, this, &CPage5Ripping::EnableApply);
  }
  connect(readOffset_, &QSpinBox::valueChanged, this, &CPage5Ripping::EnableApply);
  connect(template_, &QLineEdit::textEdited, this, &CPage5Ripping::EnableApply);
  connect(findOffset_, &QPushButton::clicked, this, &CPage5Ripping::OnFindOffset);
}

void CPage5Ripping::DoDataExchange(bool save) {
  Exchange(save, verify_, values.verify);
  Exchange(save, secure_, values.secure);
  Exchange(save, writeLog_, values.writeLog);
  Exchange(save, lookUpOnLoad_, values.lookUpOnLoad);
  Exchange(save, deemphasis_, values.deemphasis);
  Exchange(save, coverArt_, values.fetchCoverArt);
  Exchange(save, replayGain_, values.replayGain);
  if (save) {
    values.readOffset = readOffset_->value();
    // An empty template would name every file by its extension alone.
    const std::string typed = template_->text().toStdString();
    values.fileNameTemplate = typed.empty() ? kDefaultFileNameTemplate : typed;
  } else {
    const QSignalBlocker quiet(readOffset_);  // a transfer is not a change of the user's
    readOffset_->setValue(values.readOffset);
    template_->setText(QString::fromStdString(values.fileNameTemplate));
  }
}

void CPage5Ripping::OnInitDialog() {
  DoDataExchange(false);
}

void CPage5Ripping::Store(RipSettings& settings) const {
  settings.verifyAccurateRip = values.verify;
  settings.secureRip = values.secure;
  settings.writeLog = values.writeLog;
  settings.lookUpOnLoad = values.lookUpOnLoad;
  settings.deemphasis = values.deemphasis;
  settings.fetchCoverArt = values.fetchCoverArt;
  settings.replayGain = values.replayGain;
  settings.fileNameTemplate = values.fileNameTemplate;
  if (driveSection_.empty()) settings.readOffset = values.readOffset;
}

void CPage5Ripping::StoreDriveOffset() const {
  if (driveSection_.empty()) return;
  WriteProfileString(driveSection_, "ReadOffset", std::to_string(values.readOffset),
                     SettingsFilePath());
}

void CPage5Ripping::OnFindOffset() {
  const auto box = [this](const QString& text, QMessageBox::Icon icon) {
    ShowMessageBox(this, {text, QStringLiteral("Obrin"), icon});
  };
  if (ripSettings.ripping) {
    box(QStringLiteral("The read offset cannot be searched for during a rip"),
        QMessageBox::Warning);
    return;
  }
  const auto drive = static_cast<size_t>(ripSettings.driveIndex);
  if (drive >= ripSettings.drives.size() || AudioTrackCount(ripSettings.tracks) == 0) {
    box(QStringLiteral("There is no audio disc in the drive"), QMessageBox::Warning);
    return;
  }

  QProgressDialog progress(QStringLiteral("Asking the AccurateRip database"),
                           QStringLiteral("Cancel"), 0, 100, this);
  progress.setWindowTitle(QStringLiteral("Find offset"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  progress.setMinimumDuration(0);
  for (QPushButton* button : progress.findChildren<QPushButton*>()) {
    button->setAccessibleName(button->text().remove('&'));
  }
  OffsetSearchHost host(&progress);
  OffsetSearchResult result;
  QEventLoop loop;
  bool cancelled = false;
  connect(&progress, &QProgressDialog::canceled, &loop, [&] {
    cancelled = true;
    ripSettings.ripping = 0;  // the lookup and the reads poll it
  });

  // The track records show the search's progress as a rip's; what they showed comes back.
  std::vector<int32_t> statuses;
  for (const TrackRecord& track : ripSettings.tracks) statuses.push_back(track.status);
  ripSettings.ripping = 1;
  std::thread worker([&] {
    result.lookup = LookUpAccurateRip(ripSettings.accurateRipServer,
                                      AccurateRipIdOf(ripSettings.drives[drive].toc), {},
                                      [] { return ripSettings.ripping == 0; });
    if (result.lookup.kind == AccurateRipLookup::kFound && ripSettings.ripping) {
      result.looked = true;
      result.search = FindReadOffsets(host, result.lookup);
    }
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  progress.show();
  loop.exec();
  worker.join();
  ripSettings.ripping = 0;
  for (size_t i = 0; i < statuses.size() && i < ripSettings.tracks.size(); ++i) {
    ripSettings.tracks[i].status = statuses[i];
  }
  progress.hide();

  if (cancelled) return;
  if (!result.looked) {
    box(QString::fromStdString(AccurateRipResultText(JudgeTrack(result.lookup, 0, 0, 0, 0))),
        QMessageBox::Information);
    return;
  }
  const OffsetSearch& found = result.search;
  if (found.readFailed) {
    const std::vector<std::string> errors = host.Errors();
    box(errors.empty() ? QStringLiteral("The disc could not be read")
                       : QString::fromStdString(errors.front()),
        QMessageBox::Critical);
  } else if (found.tracksProbed == 0) {
    box(QStringLiteral("Not in database"), QMessageBox::Information);
  } else if (found.matches.empty()) {
    box(QStringLiteral("No offset matched"), QMessageBox::Information);
  } else if (found.matches.size() == 1) {
    readOffset_->setValue(found.matches.front().offset);
  } else {
    // Several corrections fit this pressing: only the drive's own is right, and the box
    // cannot tell which, so the user chooses from another disc or the drive's list entry.
    QStringList offsets;
    for (const OffsetMatch& match : found.matches) offsets << SignedText(match.offset);
    box(QStringLiteral("Read offsets %1 match the database; try another disc to tell them apart")
            .arg(offsets.join(QStringLiteral(", "))),
        QMessageBox::Information);
  }
}
