// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "cli/cli_rip.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "capture/offset_finder.h"
#include "cli/cli_host.h"
#include "disc/accuraterip.h"
#include "disc/disc_ids.h"
#include "disc/musicbrainz.h"
#include "disc/output_naming.h"
#include "disc/track_row_text.h"
#include "platform/profile.h"
#include "rip/rip_job.h"
#include "rip/rip_log.h"
#include "rip/rip_status.h"

namespace {

// Shows progress on standard error: on a terminal a live bar for each track in flight (the
// bars of tracks still being read or encoded stay together at the bottom and are redrawn in
// place), otherwise one line per status change, so logs stay readable.
class ProgressView {
 public:
  explicit ProgressView(FILE* out) : out_(out), live_(isatty(fileno(out)) == 1) {}

  // False once the stream cannot be written: its reader has gone. `errorsShown` counts the
  // error lines printed so far: after a new one the bars start again below it.
  bool Update(const TrackRecord& track, int errorsShown = 0) {
    const int32_t status = track.status;
    const std::string text = TrackStatusText(status);
    Shown& shown = shown_[&track];
    if (shown.text == text) return true;
    shown = {text, status};
    if (!live_) {
      std::fprintf(out_, "%s: %s\n", track.title.c_str(), text.c_str());
    } else {
      if (errorsShown != errorsSeen_) {
        // The error line ended the line it was printed on: the bars are above it now.
        errorsSeen_ = errorsShown;
        drawn_ = 0;
        lineOpen_ = false;
      }
      if (std::find(area_.begin(), area_.end(), &track) == area_.end()) area_.push_back(&track);
      if (drawn_ > 1) std::fprintf(out_, "\033[%zuA", drawn_ - 1);
      if (drawn_ == 0 && lineOpen_) std::fputc('\n', out_);
      for (size_t i = 0; i < area_.size(); ++i) {
        if (i > 0) std::fputc('\n', out_);
        DrawBar(*area_[i]);
      }
      lineOpen_ = true;
      // Finished tracks at the top keep their last bar and leave the area.
      while (!area_.empty() && shown_[area_.front()].status >= kStatusCompleted) {
        area_.erase(area_.begin());
      }
      drawn_ = area_.size();
    }
    return std::fflush(out_) == 0 && !std::ferror(out_);
  }

  // A line of its own, after the live bars.
  void Note(const char* text) {
    Finish();
    std::fprintf(out_, "obrin-rip: %s\n", text);
    std::fflush(out_);
  }

  void Finish() {
    if (live_ && lineOpen_) std::fputc('\n', out_);
    lineOpen_ = false;
    area_.clear();
    drawn_ = 0;
    std::fflush(out_);
  }

 private:
  struct Shown {
    std::string text;
    int32_t status = 0;
  };

  void DrawBar(const TrackRecord& track) {
    const Shown& shown = shown_[&track];
    const int32_t status = shown.status;
    const int percent = status >= kStatusCompleted ? 100 : (status > 0 ? status : 0);
    const int filled = percent * kBarWidth / 100;
    std::fprintf(out_, "\r\033[K%s [%s%s] %s", track.title.c_str(),
                 std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(kBarWidth - filled), '-').c_str(),
                 shown.text.c_str());
  }

  static constexpr int kBarWidth = 30;
  FILE* out_;
  bool live_;
  std::map<const TrackRecord*, Shown> shown_;
  std::vector<const TrackRecord*> area_;  // the bars at the bottom, in the order tracks began
  size_t drawn_ = 0;                      // bars of area_ on the screen, the cursor on the last
  bool lineOpen_ = false;                 // the cursor ends a line of ours
  int errorsSeen_ = 0;
};

// A second stop signal: the first stop may be waiting for the drive (one read of a scratched
// disc can take minutes). Standard error is written only when that cannot block.
[[noreturn]] void QuitAtOnce(int signal) {
  static const char kText[] = "obrin-rip: interrupted again, quitting at once\n";
  pollfd err{STDERR_FILENO, POLLOUT, 0};
  if (poll(&err, 1, 0) == 1 && (err.revents & POLLOUT) != 0) {
    [[maybe_unused]] const ssize_t ignored = write(STDERR_FILENO, kText, sizeof kText - 1);
  }
  _exit(128 + signal);
}

// Turns Ctrl+C, SIGTERM and a hang-up into a stop request for the main loop: the signals are
// blocked in every thread (the mask is inherited by the threads started later) and taken by
// this one, so the stop path runs on the main thread as usual; a second one quits at once.
// Signals ignored when the program started (nohup, a background job) stay ignored. The
// watcher is joined before the host it posts to goes away: SIGUSR1, blocked too, wakes it,
// and ends it only once the destructor has said so, so a stray one is merely swallowed.
class SignalWatcher {
 public:
  explicit SignalWatcher(CliHost& host) {
    sigemptyset(&set_);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&set_, signal);
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
    try {
      thread_ = std::thread([this, &host] {
        int signal = 0;
        while (sigwait(&set_, &signal) == 0) {
          if (signal == SIGUSR1) {
            if (ending_) break;
          } else if (!host.RequestStop(128 + signal)) {
            QuitAtOnce(signal);
          }
        }
      });
    } catch (const std::exception&) {
      // No thread to be had (memory is short): the signals keep their usual effect, and the
      // job, which cannot start its own thread either, says why.
      pthread_sigmask(SIG_UNBLOCK, &set_, nullptr);
    }
  }
  ~SignalWatcher() {
    if (!thread_.joinable()) return;
    ending_ = true;
    pthread_kill(thread_.native_handle(), SIGUSR1);
    thread_.join();
  }
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  sigset_t set_;
  std::atomic<bool> ending_{false};
  std::thread thread_;
};

}  // namespace

namespace {

// Runs `work` on a thread of its own, so that the main thread can take Ctrl+C (and the other
// stop signals) as a stop request: `settings.ripping`, which `work` polls, goes to 0. `work`
// ends with host.PostFinished(). Returns 0, or the stop request's exit status.
int RunInterruptible(RipSettings& settings, CliHost& host, const std::function<void()>& work) {
  signal(SIGPIPE, SIG_IGN);
  SignalWatcher watcher(host);
  settings.ripping = 1;
  std::thread worker(work);
  int stopStatus = 0;
  for (;;) {
    const CliHost::Event event = host.WaitEvent();
    if (event.kind == CliHost::EventKind::kInterrupt) {
      stopStatus = event.exitStatus;
      settings.ripping = 0;
    } else if (event.kind == CliHost::EventKind::kFinished) {
      break;
    }
  }
  worker.join();
  settings.ripping = 0;
  return stopStatus;
}

}  // namespace

int RunCliFindOffset(RipSettings& settings, const std::string& driveSection) {
  CliHost host(stderr);
  const size_t drive = static_cast<size_t>(settings.driveIndex);
  int status = 2;
  std::string text;
  std::vector<std::string> lines;
  const int stopStatus = RunInterruptible(settings, host, [&] {
    const AccurateRipLookup lookup =
        LookUpAccurateRip(settings.accurateRipServer, AccurateRipIdOf(settings.drives[drive].toc),
                          {}, [&] { return settings.ripping == 0; });
    if (lookup.kind != AccurateRipLookup::kFound) {
      text = AccurateRipResultText(JudgeTrack(lookup, 0, 0, 0, 0));
    } else {
      const OffsetSearch found = FindReadOffsets(host, lookup);
      if (found.readFailed) {
        status = 1;
      } else if (found.tracksProbed == 0) {
        text = "Not in database";
      } else if (found.matches.empty()) {
        status = 1;
        lines.push_back("No read offset in -3000..+3000 matches the database");
      } else {
        status = 0;
        for (const OffsetMatch& match : found.matches) lines.push_back(OffsetMatchText(match));
        // One answer is the drive model's offset: kept in its own section for later rips.
        if (found.matches.size() == 1 && !driveSection.empty()) {
          const std::string value = std::to_string(found.matches[0].offset);
          if (WriteProfileString(driveSection, "ReadOffset", value, SettingsFilePath())) {
            text = "read offset " + value + " saved as [" + driveSection + "] ReadOffset";
          }
        }
      }
    }
    host.PostFinished();
  });
  if (stopStatus != 0) return stopStatus;
  if (!text.empty()) std::fprintf(stderr, "obrin-rip: %s\n", text.c_str());
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return kExitReaderGone;
  return status;
}

int RunCliLookup(RipSettings& settings, int release, FILE* releaseList) {
  CliHost host(stderr);
  const TocBuffer& toc = settings.drives[static_cast<size_t>(settings.driveIndex)].toc;
  MusicBrainzLookup lookup;
  const int stopStatus = RunInterruptible(settings, host, [&] {
    lookup =
        LookUpMusicBrainz(settings.musicBrainzServer, MusicBrainzTocOf(toc),
                          AudioTrackCount(settings.tracks), [&] { return settings.ripping == 0; });
    host.PostFinished();
  });
  if (stopStatus != 0) return stopStatus;
  if (lookup.kind != MusicBrainzLookup::kFound) {
    // The rip, list or identifiers go on with what the disc says of itself.
    std::fprintf(stderr, "obrin-rip: %s\n", MusicBrainzLookupText(lookup).c_str());
    return 0;
  }
  const size_t count = lookup.releases.size();
  if (count > 1) {
    for (size_t i = 0; i < count; ++i) {
      std::fprintf(releaseList, "%zu: %s\n", i + 1,
                   MusicBrainzReleaseText(lookup.releases[i]).c_str());
    }
  }
  if (static_cast<size_t>(release) > count) {
    std::fprintf(stderr,
                 "obrin-rip: there is no release %d (%zu found)\n"
                 "Try 'obrin-rip --help' for more information.\n",
                 release, count);
    return 2;
  }
  ApplyMusicBrainzRelease(lookup.releases[static_cast<size_t>(release) - 1], settings,
                          settings.tracks);
  return 0;
}

int RunCliRip(RipSettings& settings, const CliOptions& options) {
  if (options.artist) settings.discArtist = *options.artist;
  if (options.album) settings.discAlbum = *options.album;
  if (options.year) settings.discYear = *options.year;
  if (options.genre) settings.discGenre = *options.genre;
  if (options.fileNameTemplate) settings.fileNameTemplate = *options.fileNameTemplate;
  settings.id3Enabled = options.id3 ? 1 : 0;

  if (settings.tracks.empty()) {
    std::fputs("obrin-rip: the disc has no audio tracks\n", stderr);
    return 2;
  }
  for (TrackRecord& track : settings.tracks) track.checked = options.tracks ? 0 : 1;
  if (options.tracks) {
    for (int position : *options.tracks) {
      const auto named = std::find_if(settings.tracks.begin(), settings.tracks.end(),
                                      [&](const TrackRecord& t) { return t.index == position; });
      if (named == settings.tracks.end()) {
        if (position < 0) {
          std::fputs(
              "obrin-rip: there is no track 0 on this disc (no hidden track before track 1)\n"
              "Try 'obrin-rip --help' for more information.\n",
              stderr);
        } else {
          std::fprintf(stderr,
                       "obrin-rip: there is no track %d on this disc (%u tracks)\n"
                       "Try 'obrin-rip --help' for more information.\n",
                       position + 1, AudioTrackCount(settings.tracks));
        }
        return 2;
      }
      named->checked = 1;
    }
  }
  // A template that names two tracks alike would leave only the last one's file: refuse the
  // run before anything is ripped (the job itself would end the later track "ERROR").
  const std::string folder = CurrentOutputFolder(settings);
  std::map<std::string, const TrackRecord*> named;
  for (const TrackRecord& track : settings.tracks) {
    const std::string name = track.checked ? OutputPathOf(track, settings, folder) : "";
    if (name.empty()) continue;
    const auto [earlier, isNew] = named.emplace(name, &track);
    if (!isNew) {
      std::fprintf(stderr,
                   "obrin-rip: %s and %s would both be written to \"%s\" (put $n or $t in "
                   "the template)\nTry 'obrin-rip --help' for more information.\n",
                   earlier->second->title.c_str(), track.title.c_str(), name.c_str());
      return 2;
    }
  }

  CliHost host(stderr);
  // A reader that goes (`| head -1`, a closed terminal) then fails a write with EPIPE instead
  // of killing the process mid-track, and the job stops cleanly.
  signal(SIGPIPE, SIG_IGN);
  SignalWatcher watcher(host);
  ProgressView view(stderr);

  int stopStatus = 0;  // set when a stop request was handled
  StartRipJob(host, options.jobs);
  for (;;) {
    const CliHost::Event event = host.WaitEvent();
    if (event.kind == CliHost::EventKind::kProgress) {
      if (!view.Update(*event.track, host.ErrorsShown())) host.RequestStop(kExitReaderGone);
    } else if (event.kind == CliHost::EventKind::kInterrupt) {
      stopStatus = event.exitStatus;
      if (stopStatus != kExitReaderGone) view.Note("stopping (interrupt again to quit at once)");
      StopRipJob();
    } else {
      JoinRipJob();
      break;
    }
  }
  view.Finish();

  bool allCompleted = true;
  int ripped = 0, accurate = 0, ctdbAccurate = 0;
  for (const TrackRecord& track : settings.tracks) {
    if (!track.checked) continue;
    const int32_t status = track.status;
    if (status != kStatusCompleted) allCompleted = false;
    std::string file = host.OutputNameOf(track);
    // A track stopped before its file was made (at a track boundary, or during the capture of
    // an encoded format) wrote nothing: the summary must not name a file that is not there.
    struct stat st;
    if (status == kStatusStopped && stat(file.c_str(), &st) != 0) file.clear();
    std::printf("%s\t%s\t%s", track.title.c_str(), TrackStatusText(status).c_str(),
                file.empty() ? "-" : file.c_str());
    if (settings.verifyAccurateRip) {
      // A track not read to its end has no sums to compare.
      std::printf("\t%s", track.accurateRip.empty() ? "-" : track.accurateRip.c_str());
      if (settings.ctdbOutcome.asked) {
        std::printf("\t%s", track.ctdb.empty() ? "-" : track.ctdb.c_str());
      }
      // No database knows a hidden track: it is not one of those they could confirm.
      ripped += !track.hidden;
      accurate += track.accurateRip.starts_with("Accurately ripped");
      ctdbAccurate += !track.hidden && track.ctdb.starts_with("Accurately ripped");
    }
    std::putchar('\n');
  }
  if (settings.verifyAccurateRip) {
    std::printf("AccurateRip: %d of %d tracks accurately ripped%s\n", accurate, ripped,
                CtdbSummary(settings.ctdbOutcome, ctdbAccurate, ripped).c_str());
  }
  const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout) && !std::ferror(stderr);
  if (stopStatus != 0) return stopStatus;
  if (!written) return kExitReaderGone;
  return allCompleted ? 0 : 1;
}
