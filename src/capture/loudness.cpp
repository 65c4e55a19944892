// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "capture/loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>

#include "capture/writer_thread.h"

namespace {

constexpr unsigned kChannels = 2;

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

MeteredSink::MeteredSink(LoudnessMeter* meter, PcmSink& next, bool ownThread)
    : meter_(meter && meter->ok() ? meter : nullptr), next_(next) {
  if (!meter_) return;
  if (ownThread) pipeline_ = std::make_unique<PipelinedSink>(*meter_);
  metering_ = pipeline_ ? pipeline_.get() : meter_;
}

bool MeteredSink::Write(const uint8_t* data, size_t size) {
  if (metering_) metering_->Write(data, size);
  return next_.Write(data, size);
}

bool MeteredSink::Drain() {
  const bool ok = next_.Drain();
  if (metering_) metering_->Drain();
  return ok;
}
