// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Numeric identifiers of the window's commands and bar controls. Menu items, accelerators and
// bar buttons all send one of these to CMainFrame::OnCommand.

enum CommandId : int {
  ID_TIP_OF_DAY = 105,
  ID_APP_EXIT = 61204,
  ID_FORMAT_MP3 = 61205,
  ID_FORMAT_WAV = 61206,
  ID_FORMAT_OGG = 61207,
  ID_FORMAT_FLAC = 61208,
  ID_HELP_FILE = 61209,
  ID_OUTPUT_PATH = 61210,
  ID_FORMAT_OPUS = 61211,
  ID_EDIT_ID3 = 61212,
  ID_CONFIGURATION = 61213,
  ID_APP_ABOUT = 61214,
  ID_HOME_PAGE = 61215,
  ID_SEND_MAIL = 61216,
  ID_TRACK_TITLES = 61217,
};

// Bar controls. The buttons that have no menu command send their own id as the command.
enum ControlId : int {
  IDC_HOUSE = 1000,
  IDC_MAIL = 1001,        // on the state bar
  IDC_FOCUS_SINK = 1001,  // the hidden static of the main bar
  IDC_MENU = 1002,
  IDC_DRIVE_COMBO = 1003,
  IDC_SELECT_ALL = 1004,
  IDC_REFRESH = 1005,
  IDC_EDIT = 1006,
  IDC_PREVIOUS = 1007,
  IDC_NEXT = 1008,
  IDC_EJECT = 1009,
  IDC_PLAY = 1010,
  IDC_STOP_PLAY = 1011,
  IDC_OUTPUT_FOLDER = 1012,
  IDC_RIP = 1013,
  IDC_HELP = 1014,
  IDC_CONFIG = 1015,
  IDC_TOOL = 1016,
};

// Images, by the resource id their file under res/ is named with.
enum ImageId : int {
  IDR_MAINFRAME = 128,
  IDB_STATE_BACK = 131,
  IDB_STATE_GRIP = 133,
  IDC_HAND = 138,
  IDB_MAIN_LEFT = 142,
  IDB_MAIN_FILL = 143,
  IDB_MAIN_RIGHT = 144,
  IDB_SUB_BACK = 148,
  IDC_WAIT = 195,
  IDI_EXIT = 198,
  IDB_SPLASH = 208,
};
