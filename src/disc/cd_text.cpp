// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/cd_text.h"

#include <cstdint>

namespace {

// The length of the valid UTF-8 sequence at `at` (1 for ASCII), 0 when there is none; the
// code point in `point`.
size_t Utf8At(std::string_view text, size_t at, uint32_t& point) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  if (lead < 0x80) {
    point = lead;
    return 1;
  }
  size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (lead >= 0xF8) length = 0;
  if (length == 0 || at + length > text.size()) return 0;
  point = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    point = point << 6 | (byte(at + i) & 0x3F);
  }
  const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < least[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
  return length;
}

bool ValidUtf8(std::string_view text) {
  uint32_t point = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t length = Utf8At(text, at, point);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

void AppendUtf8(std::string& out, uint32_t point) {
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xC0 | point >> 6);
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    out += static_cast<char>(0xE0 | point >> 12);
    out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | point >> 18);
    out += static_cast<char>(0x80 | (point >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  }
}

// UTF-8 whose every character is below 0x100, as those bytes: what a second encoding
// undoes to. Empty when that is not what `text` is.
std::string OnceDecoded(std::string_view text) {
  std::string bytes;
  bool wide = false;
  uint32_t point = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t length = Utf8At(text, at, point);
    if (length == 0 || point > 0xFF) return {};
    wide = wide || point >= 0x80;
    bytes += static_cast<char>(point);
    at += length;
  }
  return wide ? bytes : std::string();
}

}  // namespace

std::string CleanCdText(std::string_view raw) {
  raw = raw.substr(0, raw.find('\0'));
  std::string text;
  if (ValidUtf8(raw)) {
    const std::string once = OnceDecoded(raw);
    // Only when the bytes underneath are UTF-8 themselves (with characters above ASCII) was it
    // encoded twice; "Ã©" typed on purpose would not decode to valid UTF-8.
    text = !once.empty() && ValidUtf8(once) ? once : std::string(raw);
  } else {
    uint32_t point = 0;
    for (size_t at = 0; at < raw.size();) {
      const size_t length = Utf8At(raw, at, point);
      if (length > 0) {
        text.append(raw.substr(at, length));
        at += length;
      } else {
        AppendUtf8(text, static_cast<uint8_t>(raw[at]));
        ++at;
      }
    }
  }
  for (char& c : text) {
    if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  if (text.size() > kCdTextFieldLimit) {
    size_t cut = kCdTextFieldLimit;
    while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  return text;
}
