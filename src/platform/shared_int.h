// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// A 32-bit integer shared between the user-interface thread and the rip worker.
//
// Each value is written whole by one side and polled by the other, so an atomic is all the
// synchronisation needed. Unlike std::atomic it copies (by value), so the records that hold
// one can live in growable arrays.
#include <atomic>
#include <cstdint>

class SharedInt {
 public:
  constexpr SharedInt(int32_t value = 0) noexcept : value_(value) {}
  SharedInt(const SharedInt& other) noexcept : value_(other.load()) {}
  SharedInt& operator=(const SharedInt& other) noexcept {
    store(other.load());
    return *this;
  }
  SharedInt& operator=(int32_t value) noexcept {
    store(value);
    return *this;
  }
  operator int32_t() const noexcept { return load(); }

  int32_t load() const noexcept { return value_.load(std::memory_order_seq_cst); }
  void store(int32_t value) noexcept { value_.store(value, std::memory_order_seq_cst); }

 private:
  std::atomic<int32_t> value_;
};
