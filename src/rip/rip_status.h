// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// What the rip job and its hosts share besides the track records: the job's finished flag
// and the numbers of its two messages. The status codes are with the track records
// (config/disc_model.h), the stage descriptors with their stages, the error channel is
// RipHost (capture/rip_host.h).
//
// Threads: `ripping` (in RipSettings) and `ripFinished` are written whole by one side and
// polled by the other. The worker writes ripFinished = 1 before it posts WM_RIP_FINISHED.
// `status` of a TrackRecord is written by the worker (and by StopRipJob on the UI thread)
// and read by the UI when it handles WM_RIP_PROGRESS.
#include "platform/shared_int.h"

constexpr unsigned WM_USER = 0x0400;
constexpr unsigned WM_RIP_PROGRESS = WM_USER + 2;
constexpr unsigned WM_RIP_FINISHED = WM_USER + 3;

// 0 from the start of a job until the worker's very last step; 1 otherwise.
extern SharedInt ripFinished;
