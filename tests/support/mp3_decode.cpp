#include "support/mp3_decode.h"

#include <mpg123.h>

#include <mutex>

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
