// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// CMainFrame: the main window. Its three bars, the two popup menus, the track list and every
// command handler live here. The handlers are plain member functions, reached through
// OnCommand's table, so that a test can call them as the user's clicks do.
#include <QMainWindow>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/bars.h"
#include "app/disc_lookup.h"
#include "app/gui_rip_host.h"
#include "app/track_titles_dlg.h"
#include "disc/track_list.h"

class CBitmapButton;
class DeviceWatcher;
class CNewMenu;
class CObrinView;
class QComboBox;
class QShortcut;

// The list row that shows a record of ripSettings.tracks (a hidden track takes row 0).
int RowOf(const TrackRecord& record);

class CMainFrame : public QMainWindow, public TrackListHost {
  Q_OBJECT
 public:
  explicit CMainFrame(QWidget* parent = nullptr);
  ~CMainFrame() override;

  // Runs the handler of a command id; false when the window has none for it.
  bool OnCommand(int id);

  // The track list (rows of ripSettings.tracks).
  void ReloadDisc();
  void RebuildTrackRows();
  void FillTrackRow(const TrackRecord& record, int row, bool update);
  void CheckAllRows();
  void CollectRowStates();
  void OnListDoubleClick();

  // Command handlers.
  void OnRip();
  void OnRefresh();
  void OnMenuButton();
  void OnToolButton();
  void OnFormatMp3() { SetOutputFormat(Mp3); }
  void OnFormatWav() { SetOutputFormat(Wav); }
  void OnFormatOgg() { SetOutputFormat(Ogg); }
  void OnFormatFlac() { SetOutputFormat(Flac); }
  void OnFormatOpus() { SetOutputFormat(Opus); }
  void OnAbout();
  void OnExit();
  void OnHomePage();
  void OnSendMail();
  void OnDriveChanged(int index);
  void OnConfiguration();
  void OnOutputPath();
  void OnEditId3();
  void OnTrackTitles();
  void OnTipOfDay();

  // Playback of the selected track on the CD drive, eject, the help file.
  void Play();
  void StopPlayback();
  void PlayNeighbour(int step);
  void OnPreviousTrack() { PlayNeighbour(-1); }
  void OnNextTrack() { PlayNeighbour(+1); }
  void Eject();
  void OpenHelp();

  // Watches the drives and the disc images: each change restarts timer 1, which reloads.
  void WatchDevices(const std::vector<std::string>& imagePaths);
  void OnDeviceChange(bool arrival);

  // Places every bar control from the frame's outer width W.
  void LayoutBars(int outerWidth);

  // TrackListHost.
  bool NoDiscShown() const override { return noDiscShown_; }
  void SetNoDiscShown(bool shown) override { noDiscShown_ = shown; }
  bool PlayRequested() const override { return playRequested_; }
  void DeleteAllRows() override;

  // Set at start-up when no CD drive was found: refresh and the format commands skip their
  // reload.
  bool noCdDrives = false;

  CObrinView* listView() const { return listView_; }
  CDialogBar* stateBar() const { return stateBar_; }
  // The disc at a glance in the state bar: "ARTIST – ALBUM" and its length.
  void ShowDiscGlance();
  CNewMenu* mainPopup() const { return mainPopup_; }
  CNewMenu* formatPopup() const { return formatPopup_; }
  QComboBox* driveCombo() const { return driveCombo_; }
  CBitmapButton* button(int controlId, BarId bar) const;
  bool ripButtonIsStop() const { return ripButtonIsStop_; }
  GuiRipHost& ripHost() { return ripHost_; }
  uint64_t listGeneration() const { return listGeneration_; }
  QTimer& timer1() { return timer1_; }
  bool playDeviceOpen() const { return playDeviceOpen_; }
  uint32_t playDeviceId() const { return playDeviceId_; }
  int playTrack() const { return playTrack_; }

  // Where help.chm is looked for: the program's own folder, with a trailing "/".
  std::string programFolder;

  static constexpr const char* kHomePage = "https://obrin.example.org/";
  static constexpr const char* kMailAddress = "mailto:support@obrin.example.org";

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateBars();
  void KeepMinimumOuterSize();
  void BuildFormatPopup();
  void BuildMainPopup();
  void FillDriveCombo();
  void SetOutputFormat(int32_t format);
  void SetRipLook(bool stop);
  void FocusSink();
  void ShowRipBusy();
  void OnRipProgress(const RipProgressEvent& event);
  void OnRipFinished();
  void StopJobAndWait();
  void PlayCurrentTrack();
  void ClosePlayDevice();
  std::string DriveLetter() const;
  void ShowWaitCursor();

  CDialogBar* mainBar_ = nullptr;
  CDialogBar* subBar_ = nullptr;
  CDialogBar* stateBar_ = nullptr;
  std::map<std::pair<BarId, int>, CBitmapButton*> buttons_;
  QComboBox* driveCombo_ = nullptr;
  QWidget* focusSink_ = nullptr;
  CNewMenu* mainPopup_ = nullptr;
  CNewMenu* formatPopup_ = nullptr;
  CObrinView* listView_ = nullptr;
  QTimer timer1_;
  GuiRipHost ripHost_;
  bool ripButtonIsStop_ = false;
  bool noDiscShown_ = false;
  bool playRequested_ = false;
  bool closing_ = false;
  // [Drive] ReadOffset while a rip uses a drive model's own offset.
  std::optional<int32_t> savedReadOffset_;
  void RestoreReadOffset();
  uint64_t listGeneration_ = 0;
  bool playDeviceOpen_ = false;
  int playTrack_ = 1;
  uint32_t playDeviceId_ = 0;
  std::vector<std::string> driveLetters_;
  bool waitCursorShown_ = false;
  std::unique_ptr<DeviceWatcher> deviceWatcher_;
  // The titles and artists typed for the disc that LoadedDiscIdentity() names: a list rebuilt
  // from it (a settings or format change) gets them back, another disc's does not.
  std::string typedDisc_;
  TypedTrackTexts typedTexts_;
  // The disc a cover picked in the tag editor was picked for: another disc's rips go without it.
  std::string coverDisc_;
  // [MusicBrainz] LookUpOnLoad: the disc named as it is loaded.
  void TakeDiscLookUp(const std::string& disc, const MusicBrainzLookup& lookup);
  DiscLookUp discLookUp_{this, [this](const std::string& disc, const MusicBrainzLookup& lookup) {
                           TakeDiscLookUp(disc, lookup);
                         }};
};
