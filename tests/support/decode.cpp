// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "support/decode.h"

#include <mpg123.h>
#include <vorbis/vorbisfile.h>

#include <mutex>

#include "support/test_env.h"

Decoded Decode(const std::string& path) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { mpg123_init(); });
  Decoded d;
  mpg123_handle* h = mpg123_new(nullptr, nullptr);
  if (!h) return d;
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
  int encoding = 0, r = MPG123_ERR;  // the native rate and channels, 16 bits by default
  if (mpg123_open(h, path.c_str()) == MPG123_OK &&
      mpg123_getformat(h, &d.rate, &d.channels, &encoding) == MPG123_OK &&
      encoding == MPG123_ENC_SIGNED_16) {
    std::vector<int16_t> buf(32768);
    size_t done = 0;
    do {
      r = mpg123_read(h, buf.data(), buf.size() * 2, &done);
      d.samples.insert(d.samples.end(), buf.begin(), buf.begin() + done / 2);
    } while (r == MPG123_OK || r == MPG123_NEW_FORMAT);
  }
  d.ok = r == MPG123_DONE;
  mpg123_close(h);
  mpg123_delete(h);
  return d;
}

OggDecoded DecodeOgg(const std::string& path) {
  OggDecoded d;
  OggVorbis_File file;
  if (ov_fopen(path.c_str(), &file) != 0) return d;
  const vorbis_info* info = ov_info(&file, -1);
  d.rate = info->rate;
  d.nominalBitrate = info->bitrate_nominal;
  const vorbis_comment* vc = ov_comment(&file, -1);
  d.comments.assign(vc->user_comments, vc->user_comments + vc->comments);
  d.audio.resize(static_cast<size_t>(info->channels));
  float** pcm = nullptr;
  int link = 0;
  for (long got; (got = ov_read_float(&file, &pcm, 4096, &link)) > 0;) {
    for (size_t c = 0; c < d.audio.size(); ++c)
      d.audio[c].insert(d.audio[c].end(), pcm[c], pcm[c] + got);
  }
  ov_clear(&file);
  return d;
}

std::optional<std::string> DecodeFlac(const std::string& path) {
  const CommandResult r = RunCommand({"/usr/bin/flac", "-d", "-c", "-s", "--force-raw-format",
                                      "--endian=little", "--sign=signed", path});
  if (r.exitStatus != 0) return std::nullopt;
  return r.out;
}
