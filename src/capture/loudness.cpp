// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "capture/loudness.h"

#include <ebur128.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr unsigned kChannels = 2;
constexpr int kMeterNiceness = 19;

std::mutex metersMutex;
std::map<const TrackRecord*, LoudnessMeter*> meters;

ebur128_state* NewState(bool truePeak) {
  return ebur128_init(
      kChannels, 44100,
      EBUR128_MODE_I | (truePeak ? EBUR128_MODE_TRUE_PEAK : EBUR128_MODE_SAMPLE_PEAK));
}

double PeakOf(ebur128_state* state, bool truePeak) {
  double peak = 0;
  for (unsigned channel = 0; channel < kChannels; ++channel) {
    double value = 0;
    const int error = truePeak ? ebur128_true_peak(state, channel, &value)
                               : ebur128_sample_peak(state, channel, &value);
    if (error == EBUR128_SUCCESS) peak = std::max(peak, value);
  }
  return peak;
}

LoudnessValues ValuesOf(double lufs, double peak) {
  LoudnessValues values;
  // libebur128 answers -HUGE_VAL when no block passed the absolute gate.
  values.silent = !std::isfinite(lufs);
  values.lufs = values.silent ? 0 : lufs;
  values.peak = values.silent ? 0 : peak;
  return values;
}

}  // namespace

struct LoudnessMeter::State {
  ebur128_state* meter = nullptr;
  explicit State(bool truePeak) : meter(NewState(truePeak)) {}
  ~State() {
    if (meter) ebur128_destroy(&meter);
  }
};

LoudnessMeter::LoudnessMeter(bool truePeak)
    : state_(std::make_unique<State>(truePeak)), truePeak_(truePeak) {}

LoudnessMeter::~LoudnessMeter() = default;

bool LoudnessMeter::ok() const {
  return state_->meter != nullptr;
}

void LoudnessMeter::Reset() {
  state_ = std::make_unique<State>(truePeak_);
  carried_ = 0;
}

bool LoudnessMeter::Write(const uint8_t* data, size_t size) {
  if (!ok()) return true;
  // A frame split between pieces is put together first.
  while (carried_ > 0 && carried_ < 4 && size > 0) {
    carry_[carried_++] = *data++;
    --size;
  }
  std::vector<int16_t>& frames = frames_;
  const size_t whole = size / 4;
  frames.resize(2 * whole + 2);
  size_t at = 0;
  if (carried_ == 4) {
    std::memcpy(frames.data(), carry_, 4);
    at = 2;
    carried_ = 0;
  }
  // Little-endian PCM is the machine's own int16 order on every target Obrin builds for; the
  // copy also gives the samples their alignment.
  std::memcpy(frames.data() + at, data, 4 * whole);
  const size_t count = at / 2 + whole;
  if (count > 0) ebur128_add_frames_short(state_->meter, frames.data(), count);
  carried_ = size - 4 * whole;
  std::memcpy(carry_, data + 4 * whole, carried_);
  return true;
}

LoudnessValues LoudnessMeter::Values() const {
  if (!ok()) return {};
  double lufs = -HUGE_VAL;
  if (ebur128_loudness_global(state_->meter, &lufs) != EBUR128_SUCCESS) lufs = -HUGE_VAL;
  return ValuesOf(lufs, PeakOf(state_->meter, truePeak_));
}

LoudnessValues AlbumLoudness(const std::vector<const LoudnessMeter*>& tracks) {
  std::vector<ebur128_state*> states;
  double peak = 0;
  for (const LoudnessMeter* meter : tracks) {
    if (!meter->ok()) continue;
    states.push_back(meter->state_->meter);
    peak = std::max(peak, PeakOf(meter->state_->meter, meter->truePeak_));
  }
  double lufs = -HUGE_VAL;
  if (states.empty() ||
      ebur128_loudness_global_multiple(states.data(), states.size(), &lufs) != EBUR128_SUCCESS) {
    lufs = -HUGE_VAL;
  }
  return ValuesOf(lufs, peak);
}

void SetLoudnessMeter(const TrackRecord& track, LoudnessMeter* meter) {
  std::lock_guard lock(metersMutex);
  if (meter) {
    meters[&track] = meter;
  } else {
    meters.erase(&track);
  }
}

LoudnessMeter* LoudnessMeterOf(const TrackRecord& track) {
  std::lock_guard lock(metersMutex);
  const auto found = meters.find(&track);
  return found == meters.end() ? nullptr : found->second;
}

// The meter's own thread. It takes the audio in batches of several seconds, copied, so that
// it is woken a few hundred times a disc rather than for every piece, and it and the reading
// thread wait for each other by sleeping: spinning would take a core from the encoder (or,
// with true peaks, from the meter itself) on a machine of two.
class MeteredSink::Thread {
 public:
  explicit Thread(LoudnessMeter& meter) : meter_(meter) {
    for (Batch& batch : batches_) batch.bytes.resize(kBatchBytes);
    thread_ = std::thread([this] { Run(); });
  }
  ~Thread() {
    Finish();
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  void Add(const uint8_t* data, size_t size) {
    while (size > 0) {
      Batch& batch = batches_[posted_ % kBatches];
      const size_t take = std::min(size, kBatchBytes - batch.size);
      std::memcpy(batch.bytes.data() + batch.size, data, take);
      batch.size += take;
      data += take;
      size -= take;
      if (batch.size == kBatchBytes) Post();
    }
  }

  // Until everything added is measured.
  void Finish() {
    if (batches_[posted_ % kBatches].size > 0) Post();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return done_ == posted_; });
  }

 private:
  static constexpr size_t kBatches = 3;
  static constexpr size_t kBatchBytes = size_t{1} << 20;  // about 6 seconds of audio
  struct Batch {
    std::vector<uint8_t> bytes;
    size_t size = 0;
  };

  // Hands the batch being filled over, then waits until the next one is free.
  void Post() {
    std::unique_lock lock(mutex_);
    ++posted_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return posted_ - done_ < kBatches; });
    batches_[posted_ % kBatches].size = 0;
  }

  void Run() {
    // When the meter and the reading thread share a core the reading thread goes first: the
    // encoder waits on it, while the meter has batches in hand and catches up in its waits.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kMeterNiceness);
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return quit_ || done_ < posted_; });
      if (done_ == posted_) return;
      Batch& batch = batches_[done_ % kBatches];
      lock.unlock();
      meter_.Write(batch.bytes.data(), batch.size);
      lock.lock();
      ++done_;
      changed_.notify_all();
    }
  }

  LoudnessMeter& meter_;
  Batch batches_[kBatches];
  uint64_t posted_ = 0;  // batches handed over; the reading thread's to change
  uint64_t done_ = 0;    // batches measured; the meter thread's
  bool quit_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;
};

MeteredSink::MeteredSink(LoudnessMeter* meter, PcmSink& next, bool ownThread)
    : meter_(meter && meter->ok() ? meter : nullptr), next_(next) {
  if (!meter_ || !ownThread) return;
  try {
    thread_ = std::make_unique<Thread>(*meter_);
  } catch (const std::exception&) {
    // No thread or memory to be had: the meter works on the caller's thread.
  }
}

MeteredSink::~MeteredSink() = default;

bool MeteredSink::Write(const uint8_t* data, size_t size) {
  if (thread_) {
    thread_->Add(data, size);
  } else if (meter_) {
    meter_->Write(data, size);
  }
  return next_.Write(data, size);
}

bool MeteredSink::Drain() {
  const bool ok = next_.Drain();
  if (thread_) thread_->Finish();
  return ok;
}
