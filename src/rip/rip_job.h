// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The rip job: StartRipJob and StopRipJob on the user-interface thread, RipJob on one worker
// thread at idle priority that rips the ticked tracks of ripSettings.tracks in list order.
#include <cstdint>
#include <string>

#include "capture/rip_host.h"

enum RipJobExit : uint32_t {
  kRipJobWalked = 0,    // the list was walked to its end
  kRipJobNoMemory = 1,  // a buffer could not be allocated
  kRipJobStopped = 2,   // stopped on request
};

// Starts a job over the ticked tracks unless one runs: their status becomes 0, ripping 1,
// ripFinished 0, and the worker starts. `mainWindow` must outlive the job.
void StartRipJob(RipHost& mainWindow);
// The same with up to `encodeJobs` encodes at once (PipelinedRipJob); 1 is RipJob exactly.
void StartRipJob(RipHost& mainWindow, unsigned encodeJobs);

// Asks the worker to stop, marks every ticked track still below 100 as stopped, and returns
// once the worker has finished (its finished message posted). Safe to call when idle.
void StopRipJob();

// Waits until a job that ends on its own has finished and releases its thread. Hosts call
// it when they handle WM_RIP_FINISHED (and before exit).
void JoinRipJob();

// The worker's body; returns the RipJobExit code.
uint32_t RipJob(RipHost& mainWindow);

// obrin-rip's schedule of the same steps: the worker reads the tracks in list order as fast
// as the drive delivers, and hands each captured track to one of up to `encodeJobs` encode
// threads, waiting for a free one first. WAV tracks that need no conversion are read straight
// into their files; converted WAV tracks are captured and converted like encoded ones. After
// a stop or the last track it waits for every encode before it finishes.
uint32_t PipelinedRipJob(RipHost& mainWindow, unsigned encodeJobs);

// The temporary PCM path for the current settings: the run's output folder (override, else
// the record's outputPath) joined with kTempPcmName by one "/", or "./" + kTempPcmName when
// it is empty.
std::string TempPcmPath();
