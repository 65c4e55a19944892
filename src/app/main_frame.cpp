// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/main_frame.h"

#include <sys/stat.h>

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include "app/about_dlg.h"
#include "app/message_box.h"
#include "app/rip_busy_dlg.h"
#include "config/settings.h"
#include "disc/drive_section.h"
#include "disc/track_row_text.h"
#include "platform/device_watch.h"
#include "playback/mci.h"
#include "rip/rip_job.h"
#include "rip/rip_log.h"
#include "rip/rip_status.h"
#include "ui/commands.h"
#include "ui/obrin_view.h"
#include "widgets/bitmap_button.h"
#include "widgets/popup_menu.h"
#include "widgets/resources.h"
#include "widgets/shell_open.h"

namespace {

using Handler = void (CMainFrame::*)();

// The commands this window handles. A command missing here is simply not handled yet.
const std::map<int, Handler>& CommandTable() {
  static const std::map<int, Handler> table = {
      {IDC_MENU, &CMainFrame::OnMenuButton},
      {IDC_TOOL, &CMainFrame::OnToolButton},
      {IDC_RIP, &CMainFrame::OnRip},
      {IDC_SELECT_ALL, &CMainFrame::CheckAllRows},
      {IDC_REFRESH, &CMainFrame::OnRefresh},
      {ID_FORMAT_MP3, &CMainFrame::OnFormatMp3},
      {ID_FORMAT_WAV, &CMainFrame::OnFormatWav},
      {ID_FORMAT_OGG, &CMainFrame::OnFormatOgg},
      {ID_FORMAT_FLAC, &CMainFrame::OnFormatFlac},
      {ID_FORMAT_OPUS, &CMainFrame::OnFormatOpus},
      {ID_APP_ABOUT, &CMainFrame::OnAbout},
      {ID_APP_EXIT, &CMainFrame::OnExit},
      {ID_HOME_PAGE, &CMainFrame::OnHomePage},
      {ID_SEND_MAIL, &CMainFrame::OnSendMail},
      {ID_CONFIGURATION, &CMainFrame::OnConfiguration},
      {IDC_CONFIG, &CMainFrame::OnConfiguration},
      {ID_OUTPUT_PATH, &CMainFrame::OnOutputPath},
      {IDC_OUTPUT_FOLDER, &CMainFrame::OnOutputPath},
      {ID_EDIT_ID3, &CMainFrame::OnEditId3},
      {IDC_EDIT, &CMainFrame::OnEditId3},
      {ID_TRACK_TITLES, &CMainFrame::OnTrackTitles},
      {ID_TIP_OF_DAY, &CMainFrame::OnTipOfDay},
      {IDC_PLAY, &CMainFrame::Play},
      {IDC_STOP_PLAY, &CMainFrame::StopPlayback},
      {IDC_PREVIOUS, &CMainFrame::OnPreviousTrack},
      {IDC_NEXT, &CMainFrame::OnNextTrack},
      {IDC_EJECT, &CMainFrame::Eject},
      {ID_HELP_FILE, &CMainFrame::OpenHelp},
  };
  return table;
}

struct Accelerator {
  QKeyCombination keys;
  int command;
};
constexpr Accelerator kAccelerators[] = {{Qt::CTRL | Qt::Key_E, ID_EDIT_ID3},
                                         {Qt::CTRL | Qt::Key_O, ID_OUTPUT_PATH},
                                         {Qt::CTRL | Qt::Key_S, ID_CONFIGURATION},
                                         {Qt::CTRL | Qt::Key_T, ID_TRACK_TITLES}};

constexpr int kTimer1Ms = 1200;
constexpr int kArrivalMs = 2000;
constexpr int kOtherDeviceEventMs = 1500;

constexpr auto kDeviceChangeEvent = static_cast<QEvent::Type>(QEvent::User + 0x219);
struct DeviceChangeEvent : QEvent {
  explicit DeviceChangeEvent(bool a) : QEvent(kDeviceChangeEvent), arrival(a) {}
  bool arrival;
};
constexpr int kMinimumWidth = 600;
constexpr int kMinimumHeight = 445;

void Inform(QWidget* parent, const char* text, const char* caption) {
  ShowMessageBox(parent, {QString::fromLatin1(text), QString::fromLatin1(caption),
                          QMessageBox::Information, QMessageBox::Ok});
}

}  // namespace

CMainFrame::CMainFrame(QWidget* parent)
    : QMainWindow(parent), programFolder(GetProgramFolder()), ripHost_(this, this) {
  setWindowTitle(QStringLiteral("Obrin 2.0"));
  setWindowIcon(ImageIcon(IDR_MAINFRAME));
  resize(kMinimumWidth, kMinimumHeight);
  setMinimumSize(kMinimumWidth, kMinimumHeight);
  CreateBars();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  timer1_.setInterval(kTimer1Ms);
  connect(&timer1_, &QTimer::timeout, this, [this] {
    timer1_.stop();
    ReloadDisc();
  });
  timer1_.start();
  FillDriveCombo();
  BuildFormatPopup();
  BuildMainPopup();
  for (const Accelerator& accelerator : kAccelerators) {
    auto* shortcut = new QShortcut(QKeySequence(accelerator.keys), this);
    shortcut->setProperty("command", accelerator.command);
    connect(shortcut, &QShortcut::activated, this,
            [this, command = accelerator.command] { OnCommand(command); });
  }
  qApp->installEventFilter(this);
}

CMainFrame::~CMainFrame() {
  qApp->removeEventFilter(this);
  deviceWatcher_.reset();
  StopJobAndWait();
  ClosePlayDevice();
  if (waitCursorShown_) QApplication::restoreOverrideCursor();
}

void CMainFrame::CreateBars() {
  auto* client = new QWidget(this);
  auto* layout = new QVBoxLayout(client);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  mainBar_ = new CDialogBar(BarId::kMain, client);
  subBar_ = new CDialogBar(BarId::kSub, client);
  stateBar_ = new CDialogBar(BarId::kState, client);
  connect(stateBar_, &CDialogBar::logClicked, this, [](const QString& path) { ShellOpen(path); });
  listView_ = new CObrinView(client);
  layout->addWidget(mainBar_);
  layout->addWidget(subBar_);
  layout->addWidget(listView_, 1);
  layout->addWidget(stateBar_);
  setCentralWidget(client);

  focusSink_ = new QWidget(mainBar_);
  focusSink_->setGeometry(0, 0, 1, 1);
  focusSink_->setFocusPolicy(Qt::ClickFocus);

  const QCursor hand = ImageCursor(IDC_HAND, QPoint(10, 1), Qt::PointingHandCursor);
  for (const BarControlSpec& spec : BarControls()) {
    QWidget* bar = spec.bar == BarId::kMain  ? mainBar_
                   : spec.bar == BarId::kSub ? subBar_
                                             : stateBar_;
    if (spec.controlId == IDC_DRIVE_COMBO) {
      driveCombo_ = new QComboBox(bar);
      driveCombo_->setAccessibleName(QString::fromLatin1(spec.name));
      driveCombo_->setToolTip(QString::fromLatin1(spec.name));
      connect(driveCombo_, &QComboBox::currentIndexChanged, this, &CMainFrame::OnDriveChanged);
      continue;
    }
    auto* button = new CBitmapButton(spec.controlId, bar);
    button->LoadBitmaps(spec.normal, spec.pressed, spec.focused);
    button->setToolTip(QString::fromLatin1(spec.name));
    button->setAccessibleName(QString::fromLatin1(spec.name));
    button->setCursor(hand);
    button->installEventFilter(this);
    connect(button, &QAbstractButton::clicked, this,
            [this, command = spec.command] { OnCommand(command); });
    buttons_[{spec.bar, spec.controlId}] = button;
  }
  connect(listView_, &QTreeWidget::itemDoubleClicked, this, [this] { OnListDoubleClick(); });
}

CBitmapButton* CMainFrame::button(int controlId, BarId bar) const {
  const auto it = buttons_.find({bar, controlId});
  return it == buttons_.end() ? nullptr : it->second;
}

bool CMainFrame::OnCommand(int id) {
  const auto& table = CommandTable();
  const auto it = table.find(id);
  if (it == table.end()) return false;
  (this->*(it->second))();
  return true;
}

void CMainFrame::LayoutBars(int outerWidth) {
  for (const BarControlSpec& spec : BarControls()) {
    QWidget* control = spec.controlId == IDC_DRIVE_COMBO ? static_cast<QWidget*>(driveCombo_)
                                                         : button(spec.controlId, spec.bar);
    control->setGeometry(BarControlRect(spec, outerWidth));
    control->show();
  }
}

void CMainFrame::KeepMinimumOuterSize() {
  // The limit is on the outer size, borders included, which are known only once shown.
  const QSize borders = frameGeometry().size() - size();
  const QSize minimum = QSize(kMinimumWidth, kMinimumHeight) - borders;
  if (minimumSize() != minimum) setMinimumSize(minimum);
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  KeepMinimumOuterSize();
  LayoutBars(frameGeometry().width());
}

void CMainFrame::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  KeepMinimumOuterSize();
  LayoutBars(frameGeometry().width());
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && widget->window() == this) return true;  // Escape neither closes nor cancels
  }
  if (waitCursorShown_ && event->type() == QEvent::MouseMove) {
    QApplication::restoreOverrideCursor();
    waitCursorShown_ = false;
  }
  if (auto* hovered = qobject_cast<CBitmapButton*>(watched)) {
    if (event->type() == QEvent::Enter) {
      hovered->setFocus(Qt::MouseFocusReason);
    } else if (event->type() == QEvent::Leave) {
      if (listView_->SelectedRow() >= 0) {
        listView_->setFocus(Qt::MouseFocusReason);
      } else {
        FocusSink();
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::FocusSink() {
  focusSink_->setFocus(Qt::OtherFocusReason);
}

// ---- Popup menus ----

void CMainFrame::BuildFormatPopup() {
  formatPopup_ = new CNewMenu(this);
  auto* group = new QActionGroup(formatPopup_);
  const std::pair<const char*, int> items[] = {{"CD to Mp3", ID_FORMAT_MP3},
                                               {"CD to Wav", ID_FORMAT_WAV},
                                               {"CD to Ogg", ID_FORMAT_OGG},
                                               {"CD to Flac", ID_FORMAT_FLAC},
                                               {"CD to Opus", ID_FORMAT_OPUS}};
  for (const auto& [text, command] : items) {
    QAction* action = formatPopup_->AddCommand(QString::fromLatin1(text), command);
    action->setCheckable(true);
    group->addAction(action);
  }
  connect(formatPopup_, &QMenu::aboutToShow, this, [this] {
    const int checked = ripSettings.outputFormat == Mp3    ? ID_FORMAT_MP3
                        : ripSettings.outputFormat == Wav  ? ID_FORMAT_WAV
                        : ripSettings.outputFormat == Flac ? ID_FORMAT_FLAC
                        : ripSettings.outputFormat == Opus ? ID_FORMAT_OPUS
                                                           : ID_FORMAT_OGG;
    for (QAction* action : formatPopup_->actions())
      action->setChecked(CommandOf(action) == checked);
  });
  connect(formatPopup_, &QMenu::triggered, this, [this](QAction* a) { OnCommand(CommandOf(a)); });
}

void CMainFrame::BuildMainPopup() {
  mainPopup_ = new CNewMenu(this);
  mainPopup_->SetSideBand(QStringLiteral("Obrin 2"));
  struct Item {
    const char* text;  // nullptr: a separator
    int command;
    int icon;
  };
  const Item items[] = {{" Configuration...", ID_CONFIGURATION, 0},
                        {nullptr, 0, 0},
                        {" Output path...", ID_OUTPUT_PATH, 0},
                        {" Edit ID3 tag...", ID_EDIT_ID3, 0},
                        {" Track titles...", ID_TRACK_TITLES, 0},
                        {nullptr, 0, 0},
                        {" Visit Homepage", ID_HOME_PAGE, 0},
                        {" Send E-mail To Us", ID_SEND_MAIL, 0},
                        {nullptr, 0, 0},
                        {" Help", ID_HELP_FILE, 0},
                        {" Tip of a day...", ID_TIP_OF_DAY, 0},
                        {" About...", ID_APP_ABOUT, 0},
                        {nullptr, 0, 0},
                        {" Exit program     ", ID_APP_EXIT, IDI_EXIT}};
  for (const Item& item : items) {
    if (item.text) {
      mainPopup_->AddCommand(QString::fromLatin1(item.text), item.command, item.icon);
    } else {
      mainPopup_->addSeparator();
    }
  }
  connect(mainPopup_, &QMenu::triggered, this, [this](QAction* a) { OnCommand(CommandOf(a)); });
}

void CMainFrame::OnMenuButton() {
  mainPopup_->popup(mapToGlobal(QPoint(10, 40)));
}

void CMainFrame::OnToolButton() {
  if (ripSettings.ripping) {
    ShowRipBusy();
    return;
  }
  formatPopup_->popup(mapToGlobal(QPoint(120, 38)));
}

void CMainFrame::ShowRipBusy() {
  CRipBusyDlg(this).DoModal();
}

// ---- The track list ----

void CMainFrame::FillDriveCombo() {
  const QSignalBlocker blocker(driveCombo_);
  driveCombo_->clear();
  for (const DriveRecord& drive : ripSettings.drives) {
    driveCombo_->addItem(QString::fromLocal8Bit(drive.description.c_str()));
  }
  driveCombo_->setCurrentIndex(ripSettings.drives.empty() ? -1 : ripSettings.driveIndex);
}

void CMainFrame::DeleteAllRows() {
  listView_->clear();
}

// The list row that shows a record of the track list: its place in the list.
int RowOf(const TrackRecord& record) {
  return static_cast<int>(&record - ripSettings.tracks.data());
}

void CMainFrame::FillTrackRow(const TrackRecord& record, int row, bool update) {
  const auto texts = TrackRowTexts(record, ReadOutputFolderFromFile());
  QTreeWidgetItem* item = nullptr;
  if (update) {
    item = listView_->topLevelItem(row);
    if (!item) return;
  } else {
    item = new QTreeWidgetItem();
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    listView_->insertTopLevelItem(row, item);
  }
  for (int c = 0; c < 5; ++c) item->setText(c, QString::fromLocal8Bit(texts[size_t(c)].c_str()));
  if (listView_->VerifyColumnShown()) {
    item->setText(5, QString::fromUtf8(TrackVerificationText(record).c_str()));
  }
  if (record.selected) item->setSelected(true);
}

void CMainFrame::RebuildTrackRows() {
  listView_->clear();
  listView_->ShowVerifyColumn(ripSettings.verifyAccurateRip != 0 || ripSettings.secureRip != 0);
  QStringList formatTexts;
  for (const std::string& text : FormatTextChoices(ripSettings.outputFormat)) {
    formatTexts << QString::fromStdString(text);
  }
  listView_->FitColumns(formatTexts);
  // A hidden track before track 1 takes the first row and keeps its number, 00.
  int row = 0, position = 0;
  for (TrackRecord& record : ripSettings.tracks) {
    record.index = record.hidden ? -1 : position++;
    FillTrackRow(record, row++, false);
  }
}

void CMainFrame::ReloadDisc() {
  if (ripSettings.ripping) return;
  ripSettings.tracks.clear();
  ++listGeneration_;  // progress still queued for the old records must not reach them
  ripSettings.currentTrack = -1;
  if (BuildTrackList(ripSettings, ripSettings.driveIndex, this) != 0) {
    stateBar_->SetStateText(QStringLiteral("Ready"));
    return;
  }
  const std::string disc = LoadedDiscIdentity();
  if (const MusicBrainzRelease* release = discLookUp_.ReleaseFor(disc)) {
    ApplyMusicBrainzRelease(*release, ripSettings, ripSettings.tracks);
  } else if (ripSettings.lookUpOnLoad) {
    const auto drive = static_cast<size_t>(ripSettings.driveIndex);
    discLookUp_.Ask(disc, ripSettings.musicBrainzServer,
                    MusicBrainzTocOf(ripSettings.drives[drive].toc),
                    AudioTrackCount(ripSettings.tracks));
  }
  if (disc == typedDisc_) {
    ApplyTypedTrackTexts(typedTexts_, ripSettings.tracks);
  } else {
    typedDisc_.clear();
    typedTexts_.clear();
  }
  if (disc != coverDisc_) {
    coverDisc_.clear();
    ripSettings.coverFile.clear();
  }
  ripSettings.currentTrack = 0;
  RebuildTrackRows();
  CheckAllRows();
  ShowDiscGlance();
}

void CMainFrame::TakeDiscLookUp(const std::string& disc, const MusicBrainzLookup& lookup) {
  // Names that come while a rip runs wait for the next load: the worker holds the records.
  if (closing_ || ripSettings.ripping || disc != LoadedDiscIdentity()) return;
  if (lookup.kind != MusicBrainzLookup::kFound) {
    ShowDiscGlance();
    stateBar_->SetStateText(stateBar_->StateText() + QStringLiteral("   ") +
                            QString::fromStdString(MusicBrainzLookupText(lookup)));
    return;
  }
  ApplyMusicBrainzRelease(lookup.releases.front(), ripSettings, ripSettings.tracks);
  if (disc == typedDisc_) ApplyTypedTrackTexts(typedTexts_, ripSettings.tracks);
  for (const TrackRecord& record : ripSettings.tracks) FillTrackRow(record, RowOf(record), true);
  ShowDiscGlance();
}

void CMainFrame::CheckAllRows() {
  for (int row = 0; row < listView_->topLevelItemCount(); ++row) {
    listView_->topLevelItem(row)->setCheckState(0, Qt::Checked);
  }
}

void CMainFrame::CollectRowStates() {
  ripSettings.driveIndex = driveCombo_->currentIndex();
  ripSettings.currentTrack = 0;
  for (size_t i = 0; i < ripSettings.tracks.size(); ++i) {
    TrackRecord& record = ripSettings.tracks[i];
    const QTreeWidgetItem* item = listView_->topLevelItem(static_cast<int>(i));
    record.selected = item && item->isSelected() ? 1 : 0;
    if (record.selected && ripSettings.currentTrack == 0) {
      ripSettings.currentTrack = static_cast<int32_t>(i);
    }
    record.checked = item && item->checkState(0) == Qt::Checked ? 1 : 0;
  }
}

void CMainFrame::OnListDoubleClick() {
  if (listView_->SelectedRow() < 0) return;
  if (ripSettings.ripping) {
    ShowRipBusy();
    return;
  }
  const auto answer =
      ShowMessageBox(this, {QStringLiteral("Play this song?"), QStringLiteral("Obrin"),
                            QMessageBox::Information, QMessageBox::Yes | QMessageBox::No});
  if (answer == QMessageBox::Yes) OnCommand(IDC_PLAY);
}

// ---- Commands ----

void CMainFrame::OnRefresh() {
  if (!noCdDrives) ReloadDisc();
}

void CMainFrame::OnDriveChanged(int index) {
  if (index < 0) return;
  ripSettings.driveIndex = index;
  ReloadDisc();
}

void CMainFrame::SetOutputFormat(int32_t format) {
  ripSettings.outputFormat = format;
  StopPlayback();
  if (!noCdDrives) ReloadDisc();
}

void CMainFrame::OnAbout() {
  CAboutDlg dialog(this);
  dialog.exec();
}

void CMainFrame::OnExit() {
  close();
}

void CMainFrame::OnHomePage() {
  ShellOpen(QString::fromLatin1(kHomePage));
}

void CMainFrame::OnSendMail() {
  ShellOpen(QString::fromLatin1(kMailAddress));
}

void CMainFrame::SetRipLook(bool stop) {
  CBitmapButton* rip = button(IDC_RIP, BarId::kMain);
  if (stop) {
    rip->LoadBitmaps(190, 192, 191);
  } else {
    rip->LoadBitmaps(178, 180, 179);
  }
  const QString name = stop ? QStringLiteral("Stop") : QStringLiteral("Rip");
  rip->setToolTip(name);
  rip->setAccessibleName(name);
  ripButtonIsStop_ = stop;
}

void CMainFrame::OnRip() {
  StopPlayback();
  if (ripButtonIsStop_) {
    QApplication::setOverrideCursor(ImageCursor(IDC_WAIT, QPoint(8, 8), Qt::WaitCursor));
    StopRipJob();
    RestoreReadOffset();
    QApplication::restoreOverrideCursor();
    // The tracks the stop ended show it now, not at the next progress message.
    for (const TrackRecord& record : ripSettings.tracks) {
      if (record.checked) FillTrackRow(record, RowOf(record), true);
    }
    driveCombo_->setEnabled(true);
    SetRipLook(false);
    FocusSink();
    return;
  }
  if (listView_->topLevelItemCount() == 0) {
    SetRipLook(false);
    FocusSink();
    driveCombo_->setEnabled(true);
    Inform(this, "No Audio CD found!", "Help");
    return;
  }
  bool anyTicked = false;
  for (int row = 0; row < listView_->topLevelItemCount(); ++row) {
    anyTicked = anyTicked || listView_->RowChecked(row);
  }
  if (!anyTicked) {
    Inform(this, "Please mark song that you like! ", "Help");
    return;
  }
  SetRipLook(true);
  FocusSink();
  if (ripSettings.ripping) return;
  CollectRowStates();
  driveCombo_->setEnabled(false);
  ripHost_.BeginJob(listGeneration_);
  // A drive model's own read offset is this rip's; what [Drive] ReadOffset says comes back
  // after it, so that no later save writes the model's into the default.
  if (!savedReadOffset_) savedReadOffset_ = ripSettings.readOffset;
  ripSettings.readOffset = DriveReadOffset(ripSettings);
  StartRipJob(ripHost_);
}

// ---- The worker's messages ----

bool CMainFrame::event(QEvent* event) {
  switch (static_cast<int>(event->type())) {
    case kRipProgressEvent:
      OnRipProgress(*static_cast<RipProgressEvent*>(event));
      return true;
    case kRipFinishedEvent:
      OnRipFinished();
      return true;
    case kRipErrorBoxEvent:
      ripHost_.AnswerErrorBox(*static_cast<RipErrorBoxEvent*>(event));
      return true;
    case kDeviceChangeEvent:
      OnDeviceChange(static_cast<DeviceChangeEvent*>(event)->arrival);
      return true;
    default:
      return QMainWindow::event(event);
  }
}

void CMainFrame::OnRipProgress(const RipProgressEvent& event) {
  if (event.generation != listGeneration_) return;  // its list is gone
  const TrackRecord* record = event.track;
  FillTrackRow(*record, RowOf(*record), true);
}

void CMainFrame::ShowDiscGlance() {
  const std::string& artist = ripSettings.Artist();
  const std::string& album = ripSettings.Album();
  std::string text = artist.empty() || album.empty() ? artist + album : artist + " \u2013 " + album;
  uint64_t sectors = 0;
  for (const TrackRecord& track : ripSettings.tracks) sectors += track.lengthSectors;
  const uint64_t seconds = sectors / kSectorsPerSecond;
  char length[32];
  if (seconds >= 3600) {
    std::snprintf(length, sizeof length, "%llu:%02llu:%02llu",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60),
                  static_cast<unsigned long long>(seconds % 60));
  } else {
    std::snprintf(length, sizeof length, "%llu:%02llu",
                  static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
  }
  text += (text.empty() ? "" : "   ") + std::string(length);
  stateBar_->SetStateText(QString::fromStdString(text));
}

void CMainFrame::RestoreReadOffset() {
  if (ripSettings.ripping || !savedReadOffset_) return;
  ripSettings.readOffset = *savedReadOffset_;
  savedReadOffset_.reset();
}

void CMainFrame::OnRipFinished() {
  JoinRipJob();
  if (closing_) return;
  ripSettings.ripping = 0;
  RestoreReadOffset();
  // What the rip came to, as obrin-rip closes with, and where its log is.
  std::vector<const TrackRecord*> ripped;
  for (const TrackRecord& record : ripSettings.tracks) {
    if (record.checked) ripped.push_back(&record);
  }
  const std::string log = RipLogPath(ripSettings);
  struct stat st;
  const bool logged = ripSettings.writeLog && stat(log.c_str(), &st) == 0;
  stateBar_->SetStateText(QString::fromStdString(RipSummaryText(ripSettings, ripped)),
                          logged ? QString::fromStdString(log) : QString());
  driveCombo_->setEnabled(true);
  SetRipLook(false);
  FocusSink();
  ShellOpen(QString::fromLocal8Bit(ReadOutputFolderFromFile().c_str()));
}

void CMainFrame::StopJobAndWait() {
  if (ripSettings.ripping) StopRipJob();
  JoinRipJob();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  closing_ = true;
  StopJobAndWait();
  StopPlayback();
  QMainWindow::closeEvent(event);
}

// ---- Playback, eject, help ----

void CMainFrame::ShowWaitCursor() {
  if (waitCursorShown_) return;  // it stays until the mouse moves
  QApplication::setOverrideCursor(ImageCursor(IDC_WAIT, QPoint(8, 8), Qt::WaitCursor));
  waitCursorShown_ = true;
}

std::string CMainFrame::DriveLetter() const {
  const auto index = static_cast<size_t>(ripSettings.driveIndex);
  return index < driveLetters_.size() ? driveLetters_[index] : std::string();
}

void CMainFrame::Play() {
  StopPlayback();
  const int row = listView_->SelectedRow();
  if (row < 0) {
    Inform(this, "Please select a song!", "Obrin");
    return;
  }
  playRequested_ = true;  // even during a rip: a failed disc read then keeps the rows
  if (ripSettings.ripping) return;
  playTrack_ = row + 1;
  ShowWaitCursor();
  driveLetters_ = FindCdDriveLetters();
  const MciDeviceId device = MciOpenCdAudio(DriveLetter(), true);
  if (device == kNoMciDevice) return;
  playDeviceOpen_ = true;
  playDeviceId_ = device;
  MciSetTimeFormatTmsf(device);
  PlayCurrentTrack();
  playRequested_ = true;
}

void CMainFrame::PlayCurrentTrack() {
  // A failure here leaves the device open and says nothing. The end of the track needs no
  // notice: the device stays open for previous and next.
  uint32_t length = 0;
  if (!MciStatusLength(playDeviceId_, static_cast<uint32_t>(playTrack_), length)) return;
  const auto track = static_cast<uint32_t>(playTrack_);
  MciPlay(playDeviceId_, MciMakeTmsf(track, 0, 0, 0),
          MciMakeTmsf(track, MciMsfMinute(length), MciMsfSecond(length), MciMsfFrame(length)));
}

void CMainFrame::ClosePlayDevice() {
  if (!playDeviceOpen_) return;
  MciStop(playDeviceId_);
  MciClose(playDeviceId_);
  playDeviceOpen_ = false;
  playRequested_ = false;
}

void CMainFrame::StopPlayback() {
  if (ripSettings.ripping) return;
  ShowWaitCursor();
  ClosePlayDevice();
}

void CMainFrame::PlayNeighbour(int step) {
  if (ripSettings.ripping || !playDeviceOpen_) return;
  const int rows = listView_->topLevelItemCount();
  playTrack_ += step;
  if (playTrack_ > rows) playTrack_ = 1;
  if (playTrack_ < 1) playTrack_ = rows;
  PlayCurrentTrack();
}

void CMainFrame::Eject() {
  if (ripSettings.ripping || noCdDrives) return;
  StopPlayback();
  ShowWaitCursor();
  driveLetters_ = FindCdDriveLetters();
  const MciDeviceId device = MciOpenCdAudio(DriveLetter(), false);
  if (device == kNoMciDevice) return;
  // A real drive's udev event follows; an unloaded image has nobody to tell of it.
  if (MciSetDoorOpen(device)) OnDeviceChange(false);
  MciClose(device);
}

void CMainFrame::OpenHelp() {
  const QString path = QString::fromLocal8Bit((programFolder + "help.chm").c_str());
  if (QFileInfo(path).isFile()) {
    ShellOpen(path);
  } else {
    ShowMessageBox(this, {QStringLiteral("Don't open help file!"), QStringLiteral("Error"),
                          QMessageBox::Critical, QMessageBox::Ok});
  }
}

void CMainFrame::WatchDevices(const std::vector<std::string>& imagePaths) {
  deviceWatcher_ = std::make_unique<DeviceWatcher>(imagePaths, [this](DeviceChange change) {
    QCoreApplication::postEvent(this, new DeviceChangeEvent(change == DeviceChange::kArrival));
  });
}

void CMainFrame::OnDeviceChange(bool arrival) {
  timer1_.start(arrival ? kArrivalMs : kOtherDeviceEventMs);
}
