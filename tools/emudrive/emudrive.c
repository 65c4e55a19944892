// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
//
// libemudrive.so: an emulated CD drive for tests. Loaded with LD_PRELOAD, it makes one device
// path (default /dev/sr0) a CD drive as Linux shows one to a program: a block device of the
// SCSI CD major, the cdrom ioctls, and MMC commands through CDROM_SEND_PACKET (and SG_IO). The
// disc is a raw image of 2352-byte sectors whose byte 0 is LBA 0; the drive's habits (read
// offset, cache, C2, faults, timing) come from a description file. Everything else, every other
// path and descriptor, goes to the real functions untouched.
//
// Environment:
//   OBRIN_EMUDRIVE      the description file; unset, the library does nothing
//   OBRIN_EMUDRIVE_LOG  a log file; overrides the description's "log" line
//
// The description is one "key value..." per line; "#" at a line's start or after a blank
// begins a comment. Keys whose value is text or a path take the rest of the line.
//   device PATH             the emulated device node (default /dev/sr0)
//   vendor TEXT | model TEXT | revision TEXT   INQUIRY identity (8, 16, 4 characters)
//   disc present|absent|tray-open              what is in the drive (default present)
//   image PATH              raw audio image: 2352-byte sectors, byte 0 is LBA 0
//   track N START [audio|data|copy|preemphasis]...   one line per track, in order
//   leadout LBA             default: the image's whole sectors
//   last-session N          track N starts the disc's second (last) session (CD-Extra)
//   mcn DIGITS              13 digits
//   isrc N CODE             12 characters
//   index N X LBA           track N's index X: 0 (pregap, before START) or 2..99 (after it)
//   cdtext PATH             raw 18-byte CD-Text packs (READ TOC format 5)
//   read-offset SAMPLES     the audio of LBA n as delivered starts at image sample 588*n+SAMPLES
//   offset-correction S     the same as read-offset -S: the correction a ripper must apply
//   overread-leadin N       sectors before LBA 0 the drive reads (default 0)
//   overread-leadout N      sectors from the lead-out on the drive reads (default 0)
//   cache N                 audio cache of the last N sectors read (default 0: none)
//   readahead N             sectors read into the cache past each read (needs a cache)
//   c2 none|honest|missing  C2 error pointers: refused; set on damaged bytes; always clear
//   unreadable A[-B] [KK/AA/QQ]  sectors that fail the command (sense default 03/11/00)
//   flaky A[-B] P           each byte of these sectors is damaged with probability P per read
//   fail-ms MS              time each failing read command costs (default 0)
//   seed N                  seed of the damage (default 1)
//   speed X                 read speed (1x = 75 sectors/s); without it reads cost no time
//   seek-ms MS              cost of a read that does not follow the last one (default 8)
//   becoming-ready N        the first N commands that need the disc get 02/04/01
//   ready-retry-ms MS       the kernel's pause between its retries of those (default 2000)
//   media-changed           a disc change is pending: 06/28/00 once, CDROM_MEDIA_CHANGED 1 once
//   permissions user|root|denied   what the kernel lets the caller send (default user)
//   max-transfer BYTES      larger packets fail with EIO and no sense, as the kernel does
//   q-adr23 EVERY           MCN and ISRC Q frames once every EVERY sectors (default 100, 0 none)
//   q bcd|binary|raw-only|none   formatted Q as on the disc (default); with its numbers in
//                           binary and the CRC made over those; refused (raw P-W served);
//                           no sub-channel at all (READ CD refuses it, READ SUB-CHANNEL
//                           knows no MCN or ISRC)
//   q-corrupt P             each Q frame served has its CRC broken with probability P
//   accurate-stream yes|no  page 2A byte 5 bit 1 (default yes)
//   log PATH                one line per command served
//   malformed short-inquiry [BYTES] | toc-backwards | cdtext-no-size | short-read [BYTES]
//
// A description that does not parse is reported on stderr ("emudrive: FILE:LINE: ...") and
// the device then does not exist at all.
//
// What a command costs: a read of sectors the cache does not hold takes seek-ms when it does
// not start where the last read from the surface ended, plus sectors/(75*speed) seconds at the
// speed given (or the lower one the host selected); cache hits cost nothing, each failing
// command fail-ms. The time is spent (slept) inside the command, as a drive would.
//
// READ CD (0xBE, and 0xB9 by MSF) serves, per sector: 2352 bytes of audio (or a data sector's
// raw 2352 or user 2048 bytes), then C2 pointers when byte 9 asks (01b: 294 bytes, one bit a
// byte, MSB first; 10b: those and a block error byte and a pad byte), then sub-channel when
// byte 10 asks (010b: formatted Q, 16 bytes with its CRC; 001b: raw P-W with P and Q only;
// 100b: 96 zero bytes of R-W). Q is made up from the description: ADR 1 position with track,
// index and relative time (counting down in a pregap), ADR 2 (MCN) at LBA % EVERY == EVERY-1,
// ADR 3 (the track's ISRC) at LBA % EVERY == EVERY/2. The true lead-in's Q (the TOC) is not.
//
// Log lines: "KIND NAME LBA COUNT RESULT [key=value...]", "-" where a field does not apply.
// KIND is open, close, ioctl, mmc or read; RESULT is ok, a sense key/ASC/ASCQ as KK/AA/QQ in
// hex, or an errno name. READ CD lines add cached=N (sectors served from the cache) and ms=N
// (time charged).
#define _GNU_SOURCE
#include <ctype.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/cdrom.h>
#include <pthread.h>
#include <scsi/sg.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))

enum {
  kSector = 2352,
  kUserData = 2048,
  kC2Bytes = 294,
  kMaxTracks = 99,
  kMaxFds = 64,
  kMaxFaults = 256,
  kPacks = 18,
};

#define kNoIndex INT32_MIN

// --- The real functions ---
//
// Resolved on first use: other libraries' constructors call stat before ours could run.

static void* Resolve(const char* name, void** slot) {
  void* fn = __atomic_load_n(slot, __ATOMIC_ACQUIRE);
  if (!fn) {
    fn = dlsym(RTLD_NEXT, name);
    __atomic_store_n(slot, fn, __ATOMIC_RELEASE);
  }
  return fn;
}

#define REAL_DECL(ret, name, ...)                                  \
  static void* real_slot_##name;                                   \
  static ret (*real_##name(void))(__VA_ARGS__) {                   \
    return (ret(*)(__VA_ARGS__))Resolve(#name, &real_slot_##name); \
  }

REAL_DECL(int, open, const char*, int, ...)
REAL_DECL(int, open64, const char*, int, ...)
REAL_DECL(int, openat, int, const char*, int, ...)
REAL_DECL(int, openat64, int, const char*, int, ...)
REAL_DECL(int, __open_2, const char*, int)
REAL_DECL(int, __open64_2, const char*, int)
REAL_DECL(int, __openat_2, int, const char*, int)
REAL_DECL(int, __openat64_2, int, const char*, int)
REAL_DECL(int, stat, const char*, struct stat*)
REAL_DECL(int, stat64, const char*, struct stat64*)
REAL_DECL(int, lstat, const char*, struct stat*)
REAL_DECL(int, lstat64, const char*, struct stat64*)
REAL_DECL(int, fstat, int, struct stat*)
REAL_DECL(int, fstat64, int, struct stat64*)
REAL_DECL(int, fstatat, int, const char*, struct stat*, int)
REAL_DECL(int, fstatat64, int, const char*, struct stat64*, int)
REAL_DECL(int, statx, int, const char*, int, unsigned, struct statx*)
REAL_DECL(char*, realpath, const char*, char*)
REAL_DECL(ssize_t, readlink, const char*, char*, size_t)
REAL_DECL(int, access, const char*, int)
REAL_DECL(int, faccessat, int, const char*, int, int)
REAL_DECL(int, ioctl, int, unsigned long, ...)
REAL_DECL(int, close, int)
REAL_DECL(ssize_t, read, int, void*, size_t)
REAL_DECL(ssize_t, pread, int, void*, size_t, off_t)
REAL_DECL(ssize_t, pread64, int, void*, size_t, off64_t)
REAL_DECL(off_t, lseek, int, off_t, int)
REAL_DECL(off64_t, lseek64, int, off64_t, int)
REAL_DECL(int, dup, int)
REAL_DECL(int, dup2, int, int)
REAL_DECL(int, dup3, int, int, int)

// A real function that could not be found fails as an unsupported call would.
#define CALL_REAL(name, fail, ...)     \
  do {                                 \
    if (!real_##name()) {              \
      errno = ENOSYS;                  \
      return fail;                     \
    }                                  \
    return real_##name()(__VA_ARGS__); \
  } while (0)

// --- The drive: its description and its state ---

enum { kDiscPresent, kDiscAbsent, kDiscTrayOpen };
enum { kC2None, kC2Honest, kC2Missing };
enum { kPermUser, kPermRoot, kPermDenied };
enum { kFaultUnreadable, kFaultFlaky };

typedef struct {
  int number;
  int32_t start;
  uint8_t ctrl;
  char isrc[13];
  int32_t index[100];  // LBA of each index, kNoIndex where there is none; [1] is the start
} Track;

typedef struct {
  int kind;
  int32_t from, to;
  double probability;
  uint8_t key, asc, ascq;
} Fault;

typedef struct {
  bool valid;
  int32_t lba;
  uint8_t data[kSector];
  uint8_t c2[kC2Bytes];
} Slot;

typedef struct {
  uint8_t key, asc, ascq;
} Sense;

typedef struct {
  // description
  char device[PATH_MAX];
  char vendor[9], model[17], revision[5];
  int disc;
  char imagePath[PATH_MAX];
  const uint8_t* image;
  int64_t imageBytes;
  Track tracks[kMaxTracks];
  int trackCount;
  int32_t leadout;
  bool leadoutGiven;
  int lastSessionTrack;  // 0: one session
  char mcn[14];
  uint8_t* cdtext;
  size_t cdtextBytes;
  int readOffset;
  int32_t overreadLeadin, overreadLeadout;
  int cacheSectors, readahead;
  int c2;
  Fault faults[kMaxFaults];
  int faultCount;
  double failMs, seekMs, speed, readyRetryMs;
  uint64_t seed;
  int becomingReady;
  bool mediaChanged;
  int permissions;
  uint32_t maxTransfer;
  int qEvery;
  int qMode;  // kQBcd, ...
  double qCorrupt;
  bool accurateStream;
  int logFd;
  int shortInquiry, shortRead;  // bytes; 0 off
  bool tocBackwards, cdtextNoSize;
  // state
  bool trayOpen, discIn, locked, unitAttention, changedFlag;
  int readyLeft;
  int32_t head;
  double selectedSpeed;  // 0: as fast as it goes
  Sense lastSense;
  Slot* slots;
  int cacheNext;  // the oldest slot, the next to be replaced
  Slot scratch;
  uint64_t rng;
  dev_t rdev;
  struct timespec birth;
} Drive;

static Drive g_drive;
static bool g_active;  // a description was read and is sound
static pthread_once_t g_loadOnce = PTHREAD_ONCE_INIT;
// The drive serves one command at a time and may sleep while doing so; the descriptor table
// has its own lock so that reads of other files never wait for the drive.
static pthread_mutex_t g_driveLock = PTHREAD_MUTEX_INITIALIZER;
static pthread_mutex_t g_fdLock = PTHREAD_MUTEX_INITIALIZER;

typedef struct {
  bool used;
  int fd;
  int flags;
  dev_t dev;
  ino_t ino;
  int64_t pos;  // for read() of data sectors
} FakeFd;

static FakeFd g_fds[kMaxFds];
static int g_fdCount;

// --- Small helpers ---

static int32_t Be32(const uint8_t* p) {
  return (int32_t)((uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]);
}
static uint32_t Be24(const uint8_t* p) {
  return (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
}
static uint32_t Be16(const uint8_t* p) {
  return (uint32_t)p[0] << 8 | p[1];
}
static void Put16(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)(v >> 8);
  p[1] = (uint8_t)v;
}
static void Put32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)(v >> 24);
  p[1] = (uint8_t)(v >> 16);
  p[2] = (uint8_t)(v >> 8);
  p[3] = (uint8_t)v;
}
static uint8_t Bcd(int v) {
  return (uint8_t)((v / 10) << 4 | (v % 10));
}

// Absolute MSF of an LBA; the lead-in's negative addresses wrap below 100:00:00 as on disc.
static void LbaToMsf(int32_t lba, uint8_t* m, uint8_t* s, uint8_t* f) {
  int32_t a = lba + 150;
  if (a < 0) a += 450000;
  *m = (uint8_t)(a / (60 * 75));
  *s = (uint8_t)(a / 75 % 60);
  *f = (uint8_t)(a % 75);
}

enum { kQBcd, kQBinary, kQRawOnly, kQNone };

static uint64_t NextRandom(void) {
  // xorshift64*: deterministic per seed, so a fault replays the same way.
  uint64_t x = g_drive.rng;
  x ^= x >> 12;
  x ^= x << 25;
  x ^= x >> 27;
  g_drive.rng = x;
  return x * 0x2545F4914F6CDD1DULL;
}

static void SleepMs(double ms) {
  if (ms <= 0) return;
  struct timespec t = {(time_t)(ms / 1000),
                       (long)((ms - (double)(time_t)(ms / 1000) * 1000) * 1e6)};
  while (clock_nanosleep(CLOCK_MONOTONIC, 0, &t, &t) == EINTR) {
  }
}

#define NAMED(x) \
  { x, #x }

typedef struct {
  unsigned long code;
  const char* name;
} Name;

static const char* NameOf(const Name* names, size_t count, unsigned long code) {
  for (size_t i = 0; i < count; ++i) {
    if (names[i].code == code) return names[i].name;
  }
  return NULL;
}

static const char* ErrnoName(int e) {
  static const Name names[] = {NAMED(EIO),    NAMED(EPERM),     NAMED(EBUSY),  NAMED(ENOTTY),
                               NAMED(EINVAL), NAMED(ENOMEDIUM), NAMED(ENOSYS), NAMED(EACCES),
                               NAMED(EROFS),  NAMED(EFAULT),    NAMED(EMFILE)};
  const char* name = NameOf(names, sizeof names / sizeof names[0], (unsigned long)e);
  return name ? name : "ERROR";
}

__attribute__((format(printf, 1, 2))) static void Log(const char* fmt, ...) {
  if (g_drive.logFd < 0) return;
  char line[256];
  va_list args;
  va_start(args, fmt);
  int n = vsnprintf(line, sizeof line - 1, fmt, args);
  va_end(args);
  if (n < 0) return;
  if (n > (int)sizeof line - 2) n = (int)sizeof line - 2;
  line[n++] = '\n';
  // One write per line with O_APPEND: lines of several processes do not interleave.
  ssize_t ignored = write(g_drive.logFd, line, (size_t)n);
  (void)ignored;
}

// --- Reading the description ---

typedef struct {
  const char* file;
  int line;
  bool bad;
} Parse;

__attribute__((format(printf, 2, 3))) static void Complain(Parse* p, const char* fmt, ...) {
  char text[512];
  va_list args;
  va_start(args, fmt);
  vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  if (p->line > 0) {
    fprintf(stderr, "emudrive: %s:%d: %s\n", p->file, p->line, text);
  } else {
    fprintf(stderr, "emudrive: %s: %s\n", p->file, text);
  }
  p->bad = true;
}

static bool ParseLong(const char* text, long long min, long long max, long long* out) {
  if (!text || !*text) return false;
  char* end = NULL;
  errno = 0;
  long long v = strtoll(text, &end, 0);
  if (errno || *end || v < min || v > max) return false;
  *out = v;
  return true;
}

static bool ParseDouble(const char* text, double min, double max, double* out) {
  if (!text || !*text) return false;
  char* end = NULL;
  errno = 0;
  double v = strtod(text, &end);
  if (errno || *end || !(v >= min && v <= max)) return false;
  *out = v;
  return true;
}

// "A" or "A-B"; A and B may be negative ("-10--1").
static bool ParseRange(const char* text, int32_t* from, int32_t* to) {
  char* end = NULL;
  errno = 0;
  long a = strtol(text, &end, 10);
  if (errno || end == text) return false;
  long b = a;
  if (*end == '-') {
    const char* second = end + 1;
    b = strtol(second, &end, 10);
    if (errno || end == second) return false;
  }
  if (*end || a > b || a < -500000 || b > 500000) return false;
  *from = (int32_t)a;
  *to = (int32_t)b;
  return true;
}

static bool ParseSense(const char* text, Sense* s) {
  unsigned k, a, q;
  char tail;
  if (sscanf(text, "%2x/%2x/%2x%c", &k, &a, &q, &tail) != 3 || k > 0x0F) return false;
  s->key = (uint8_t)k;
  s->asc = (uint8_t)a;
  s->ascq = (uint8_t)q;
  return true;
}

static void CopyText(char* dst, size_t size, const char* src) {
  snprintf(dst, size, "%s", src);
}

static Track* FindTrack(int number) {
  for (int i = 0; i < g_drive.trackCount; ++i) {
    if (g_drive.tracks[i].number == number) return &g_drive.tracks[i];
  }
  return NULL;
}

static bool ReadWholeFile(Parse* p, const char* what, const char* path, uint8_t** data,
                          size_t* size) {
  FILE* f = fopen(path, "rb");
  if (!f) {
    Complain(p, "cannot open the %s %s: %s", what, path, strerror(errno));
    return false;
  }
  size_t cap = 4096, len = 0;
  uint8_t* buf = malloc(cap);
  while (buf) {
    size_t got = fread(buf + len, 1, cap - len, f);
    len += got;
    if (got == 0) break;
    if (len == cap) {
      if (cap >= (1u << 24)) break;
      uint8_t* bigger = realloc(buf, cap * 2);
      if (!bigger) {
        free(buf);
        buf = NULL;
        break;
      }
      buf = bigger;
      cap *= 2;
    }
  }
  fclose(f);
  if (!buf) {
    Complain(p, "out of memory reading %s", path);
    return false;
  }
  *data = buf;
  *size = len;
  return true;
}

// One line, split into words; `rest` is everything after the key, trimmed.
static void ParseLine(Parse* p, char* line) {
  Drive* d = &g_drive;
  for (char* c = line; *c; ++c) {  // a comment: "#" at the start or after a blank
    if (*c == '#' && (c == line || isspace((unsigned char)c[-1]))) {
      *c = '\0';
      break;
    }
  }
  char* key = line;
  while (*key && isspace((unsigned char)*key)) ++key;
  if (!*key || *key == '#') return;
  char* rest = key;
  while (*rest && !isspace((unsigned char)*rest)) ++rest;
  if (*rest) *rest++ = '\0';
  while (*rest && isspace((unsigned char)*rest)) ++rest;
  size_t restLen = strlen(rest);
  while (restLen > 0 && isspace((unsigned char)rest[restLen - 1])) rest[--restLen] = '\0';

  char copy[1024];
  CopyText(copy, sizeof copy, rest);
  char* words[16];
  int nwords = 0;
  for (char *save = NULL, *w = strtok_r(copy, " \t", &save); w && nwords < 16;
       w = strtok_r(NULL, " \t", &save)) {
    words[nwords++] = w;
  }
  long long v = 0;
  double x = 0;

#define NEED(n)                                                          \
  if (nwords != (n)) {                                                   \
    Complain(p, "'%s' takes %d value%s", key, (n), (n) == 1 ? "" : "s"); \
    return;                                                              \
  }
#define NEED_TEXT()                         \
  if (!*rest) {                             \
    Complain(p, "'%s' needs a value", key); \
    return;                                 \
  }

  if (!strcmp(key, "device")) {
    NEED_TEXT();
    if (rest[0] != '/') {
      Complain(p, "the device must be an absolute path, not '%s'", rest);
      return;
    }
    CopyText(d->device, sizeof d->device, rest);
  } else if (!strcmp(key, "vendor")) {
    NEED_TEXT();
    CopyText(d->vendor, sizeof d->vendor, rest);
  } else if (!strcmp(key, "model")) {
    NEED_TEXT();
    CopyText(d->model, sizeof d->model, rest);
  } else if (!strcmp(key, "revision")) {
    NEED_TEXT();
    CopyText(d->revision, sizeof d->revision, rest);
  } else if (!strcmp(key, "disc")) {
    NEED(1);
    if (!strcmp(words[0], "present")) {
      d->disc = kDiscPresent;
    } else if (!strcmp(words[0], "absent")) {
      d->disc = kDiscAbsent;
    } else if (!strcmp(words[0], "tray-open")) {
      d->disc = kDiscTrayOpen;
    } else {
      Complain(p, "disc is present, absent or tray-open, not '%s'", words[0]);
    }
  } else if (!strcmp(key, "image")) {
    NEED_TEXT();
    CopyText(d->imagePath, sizeof d->imagePath, rest);
  } else if (!strcmp(key, "track")) {
    if (nwords < 2) {
      Complain(p, "'track' takes a number, a start LBA and optional flags");
      return;
    }
    if (d->trackCount >= kMaxTracks) {
      Complain(p, "more than %d tracks", kMaxTracks);
      return;
    }
    long long number, start;
    if (!ParseLong(words[0], 1, 99, &number)) {
      Complain(p, "track number '%s' is not 1 to 99", words[0]);
      return;
    }
    if (!ParseLong(words[1], 0, 449999, &start)) {
      Complain(p, "track start '%s' is not an LBA from 0 to 449999", words[1]);
      return;
    }
    Track* t = &d->tracks[d->trackCount];
    memset(t, 0, sizeof *t);
    for (int i = 0; i < 100; ++i) t->index[i] = kNoIndex;
    t->number = (int)number;
    t->start = (int32_t)start;
    t->index[1] = t->start;
    for (int i = 2; i < nwords; ++i) {
      if (!strcmp(words[i], "audio")) {
        t->ctrl &= (uint8_t)~0x04;
      } else if (!strcmp(words[i], "data")) {
        t->ctrl |= 0x04;
      } else if (!strcmp(words[i], "copy")) {
        t->ctrl |= 0x02;
      } else if (!strcmp(words[i], "preemphasis")) {
        t->ctrl |= 0x01;
      } else {
        Complain(p, "unknown track flag '%s' (audio, data, copy, preemphasis)", words[i]);
        return;
      }
    }
    if (d->trackCount > 0) {
      const Track* prev = &d->tracks[d->trackCount - 1];
      if (t->number != prev->number + 1) {
        Complain(p, "track %d does not follow track %d", t->number, prev->number);
        return;
      }
      if (t->start <= prev->start) {
        Complain(p, "track %d starts at %d, not after track %d (%d)", t->number, t->start,
                 prev->number, prev->start);
        return;
      }
    }
    ++d->trackCount;
  } else if (!strcmp(key, "leadout")) {
    NEED(1);
    if (!ParseLong(words[0], 1, 449999, &v)) {
      Complain(p, "lead-out '%s' is not an LBA from 1 to 449999", words[0]);
      return;
    }
    d->leadout = (int32_t)v;
    d->leadoutGiven = true;
  } else if (!strcmp(key, "last-session")) {
    NEED(1);
    if (!ParseLong(words[0], 2, 99, &v)) {
      Complain(p, "last-session '%s' is not a track number from 2 to 99", words[0]);
      return;
    }
    d->lastSessionTrack = (int)v;
  } else if (!strcmp(key, "mcn")) {
    NEED(1);
    if (strlen(words[0]) != 13 || strspn(words[0], "0123456789") != 13) {
      Complain(p, "an MCN is 13 digits, not '%s'", words[0]);
      return;
    }
    CopyText(d->mcn, sizeof d->mcn, words[0]);
  } else if (!strcmp(key, "isrc")) {
    NEED(2);
    Track* t = ParseLong(words[0], 1, 99, &v) ? FindTrack((int)v) : NULL;
    if (!t) {
      Complain(p, "isrc names track '%s', which no track line before gives", words[0]);
      return;
    }
    const char* code = words[1];
    bool ok = strlen(code) == 12;
    for (int i = 0; ok && i < 12; ++i) {
      const bool alnum = isdigit((unsigned char)code[i]) || isupper((unsigned char)code[i]);
      ok = i < 5 ? alnum : isdigit((unsigned char)code[i]) != 0;
    }
    if (!ok) {
      Complain(p, "an ISRC is 5 letters or digits and 7 digits, not '%s'", code);
      return;
    }
    CopyText(t->isrc, sizeof t->isrc, code);
  } else if (!strcmp(key, "index")) {
    NEED(3);
    Track* t = ParseLong(words[0], 1, 99, &v) ? FindTrack((int)v) : NULL;
    if (!t) {
      Complain(p, "index names track '%s', which no track line before gives", words[0]);
      return;
    }
    long long number, lba;
    if (!ParseLong(words[1], 0, 99, &number) || number == 1) {
      Complain(p, "index number '%s' is not 0 or 2 to 99 (index 1 is the track's start)", words[1]);
      return;
    }
    if (!ParseLong(words[2], -150, 449999, &lba)) {
      Complain(p, "index LBA '%s' is not an LBA", words[2]);
      return;
    }
    t->index[number] = (int32_t)lba;
  } else if (!strcmp(key, "cdtext")) {
    NEED_TEXT();
    free(d->cdtext);
    d->cdtext = NULL;
    if (!ReadWholeFile(p, "CD-Text file", rest, &d->cdtext, &d->cdtextBytes)) return;
    if (d->cdtextBytes == 0 || d->cdtextBytes % kPacks != 0 || d->cdtextBytes > 8 * 256 * 18) {
      Complain(p, "the CD-Text file %s holds %zu bytes, not whole 18-byte packs", rest,
               d->cdtextBytes);
    }
  } else if (!strcmp(key, "read-offset") || !strcmp(key, "offset-correction")) {
    NEED(1);
    const char* w = words[0][0] == '+' ? words[0] + 1 : words[0];
    if (!ParseLong(w, -100000, 100000, &v)) {
      Complain(p, "'%s' is not a number of samples", words[0]);
      return;
    }
    d->readOffset = (int)(key[0] == 'r' ? v : -v);
  } else if (!strcmp(key, "overread-leadin") || !strcmp(key, "overread-leadout")) {
    NEED(1);
    if (!ParseLong(words[0], 0, 100000, &v)) {
      Complain(p, "'%s' is not a number of sectors", words[0]);
      return;
    }
    if (!strcmp(key, "overread-leadin")) {
      d->overreadLeadin = (int32_t)v;
    } else {
      d->overreadLeadout = (int32_t)v;
    }
  } else if (!strcmp(key, "cache") || !strcmp(key, "readahead")) {
    NEED(1);
    // Real drives cache a few thousand sectors; each costs 2.6 kB here.
    if (!ParseLong(words[0], 0, 20000, &v)) {
      Complain(p, "'%s' is not a number of sectors up to 20000", words[0]);
      return;
    }
    if (key[0] == 'c') {
      d->cacheSectors = (int)v;
    } else {
      d->readahead = (int)v;
    }
  } else if (!strcmp(key, "c2")) {
    NEED(1);
    if (!strcmp(words[0], "none")) {
      d->c2 = kC2None;
    } else if (!strcmp(words[0], "honest")) {
      d->c2 = kC2Honest;
    } else if (!strcmp(words[0], "missing")) {
      d->c2 = kC2Missing;
    } else {
      Complain(p, "c2 is none, honest or missing, not '%s'", words[0]);
    }
  } else if (!strcmp(key, "unreadable") || !strcmp(key, "flaky")) {
    const bool flaky = key[0] == 'f';
    if (nwords < 1 || nwords > 2 || (flaky && nwords != 2)) {
      Complain(p, flaky ? "'flaky' takes a sector range and a probability"
                        : "'unreadable' takes a sector range and an optional sense KK/AA/QQ");
      return;
    }
    if (d->faultCount >= kMaxFaults) {
      Complain(p, "more than %d fault lines", kMaxFaults);
      return;
    }
    Fault* f = &d->faults[d->faultCount];
    memset(f, 0, sizeof *f);
    f->kind = flaky ? kFaultFlaky : kFaultUnreadable;
    if (!ParseRange(words[0], &f->from, &f->to)) {
      Complain(p, "'%s' is not a sector or a range FROM-TO", words[0]);
      return;
    }
    Sense s = {0x03, 0x11, 0x00};
    if (flaky && !ParseDouble(words[1], 0, 1, &f->probability)) {
      Complain(p, "probability '%s' is not from 0 to 1", words[1]);
      return;
    }
    if (!flaky && nwords == 2 && !ParseSense(words[1], &s)) {
      Complain(p, "'%s' is not a sense KK/AA/QQ in hex", words[1]);
      return;
    }
    f->key = s.key;
    f->asc = s.asc;
    f->ascq = s.ascq;
    ++d->faultCount;
  } else if (!strcmp(key, "fail-ms") || !strcmp(key, "seek-ms") || !strcmp(key, "ready-retry-ms") ||
             !strcmp(key, "speed")) {
    NEED(1);
    const bool speed = !strcmp(key, "speed");
    if (!ParseDouble(words[0], 0, 600000, &x) || (speed && x <= 0)) {
      Complain(p, "'%s' is not a %s", words[0], speed ? "speed above 0" : "time in ms");
      return;
    }
    if (!strcmp(key, "fail-ms")) {
      d->failMs = x;
    } else if (!strcmp(key, "seek-ms")) {
      d->seekMs = x;
    } else if (!strcmp(key, "ready-retry-ms")) {
      d->readyRetryMs = x;
    } else {
      d->speed = x;
    }
  } else if (!strcmp(key, "seed")) {
    NEED(1);
    if (!ParseLong(words[0], 0, LLONG_MAX, &v)) {
      Complain(p, "seed '%s' is not a number", words[0]);
      return;
    }
    d->seed = (uint64_t)v;
  } else if (!strcmp(key, "becoming-ready")) {
    NEED(1);
    if (!ParseLong(words[0], 0, 1000000, &v)) {
      Complain(p, "'%s' is not a number of commands", words[0]);
      return;
    }
    d->becomingReady = (int)v;
  } else if (!strcmp(key, "media-changed")) {
    NEED(0);
    d->mediaChanged = true;
  } else if (!strcmp(key, "permissions")) {
    NEED(1);
    if (!strcmp(words[0], "user")) {
      d->permissions = kPermUser;
    } else if (!strcmp(words[0], "root")) {
      d->permissions = kPermRoot;
    } else if (!strcmp(words[0], "denied")) {
      d->permissions = kPermDenied;
    } else {
      Complain(p, "permissions are user, root or denied, not '%s'", words[0]);
    }
  } else if (!strcmp(key, "max-transfer")) {
    NEED(1);
    if (!ParseLong(words[0], 1, UINT32_MAX, &v)) {
      Complain(p, "'%s' is not a number of bytes", words[0]);
      return;
    }
    d->maxTransfer = (uint32_t)v;
  } else if (!strcmp(key, "q-adr23")) {
    NEED(1);
    if (!ParseLong(words[0], 0, 100000, &v) || (v != 0 && v < 4)) {
      Complain(p, "'%s' is not 0 or a number of sectors from 4", words[0]);
      return;
    }
    d->qEvery = (int)v;
  } else if (!strcmp(key, "q")) {
    NEED(1);
    static const char* const kModes[] = {"bcd", "binary", "raw-only", "none"};
    int mode = -1;
    for (int i = 0; i < 4; ++i) {
      if (!strcmp(words[0], kModes[i])) mode = i;
    }
    if (mode < 0) {
      Complain(p, "q is bcd, binary, raw-only or none, not '%s'", words[0]);
      return;
    }
    d->qMode = mode;
  } else if (!strcmp(key, "q-corrupt")) {
    NEED(1);
    if (!ParseDouble(words[0], 0, 1, &d->qCorrupt)) {
      Complain(p, "'%s' is not a probability from 0 to 1", words[0]);
      return;
    }
  } else if (!strcmp(key, "accurate-stream")) {
    NEED(1);
    if (strcmp(words[0], "yes") && strcmp(words[0], "no")) {
      Complain(p, "accurate-stream is yes or no, not '%s'", words[0]);
      return;
    }
    d->accurateStream = words[0][0] == 'y';
  } else if (!strcmp(key, "log")) {
    NEED_TEXT();
    if (d->logFd < 0 && !getenv("OBRIN_EMUDRIVE_LOG")) {
      d->logFd = real_open()(rest, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      if (d->logFd < 0) Complain(p, "cannot open the log %s: %s", rest, strerror(errno));
    }
  } else if (!strcmp(key, "malformed")) {
    if (nwords < 1 || nwords > 2) {
      Complain(p, "'malformed' takes a switch and an optional number");
      return;
    }
    long long bytes = -1;
    if (nwords == 2 && !ParseLong(words[1], 1, 1 << 24, &bytes)) {
      Complain(p, "'%s' is not a number of bytes", words[1]);
      return;
    }
    const bool sized = !strcmp(words[0], "short-inquiry") || !strcmp(words[0], "short-read");
    if (nwords == 2 && !sized) {
      Complain(p, "malformed %s takes no number", words[0]);
      return;
    }
    if (!strcmp(words[0], "short-inquiry")) {
      d->shortInquiry = bytes > 0 ? (int)bytes : 8;
    } else if (!strcmp(words[0], "short-read")) {
      d->shortRead = bytes > 0 ? (int)bytes : kSector;
    } else if (!strcmp(words[0], "toc-backwards")) {
      d->tocBackwards = true;
    } else if (!strcmp(words[0], "cdtext-no-size")) {
      d->cdtextNoSize = true;
    } else {
      Complain(p,
               "unknown malformed switch '%s' (short-inquiry, toc-backwards, cdtext-no-size, "
               "short-read)",
               words[0]);
    }
  } else {
    Complain(p, "unknown key '%s'", key);
  }
#undef NEED
#undef NEED_TEXT
}

// What no single line can check: the lines' agreement with each other and with the image.
static void CheckDescription(Parse* p) {
  Drive* d = &g_drive;
  p->line = 0;
  if (d->disc == kDiscPresent || d->disc == kDiscTrayOpen) {
    if (!d->imagePath[0] && d->disc == kDiscPresent) {
      Complain(p, "a disc needs an 'image' line");
      return;
    }
    if (d->trackCount == 0 && d->disc == kDiscPresent) {
      Complain(p, "a disc needs at least one 'track' line");
      return;
    }
  }
  if (d->imagePath[0]) {
    int fd = real_open()(d->imagePath, O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || real_fstat()(fd, &st) != 0) {
      Complain(p, "cannot open the image %s: %s", d->imagePath, strerror(errno));
      if (fd >= 0) real_close()(fd);
      return;
    }
    d->imageBytes = st.st_size;
    if (st.st_size > 0) {
      void* map = mmap(NULL, (size_t)st.st_size, PROT_READ, MAP_PRIVATE, fd, 0);
      if (map == MAP_FAILED) {
        Complain(p, "cannot map the image %s: %s", d->imagePath, strerror(errno));
        real_close()(fd);
        return;
      }
      d->image = map;
    }
    real_close()(fd);
  }
  if (d->trackCount == 0) return;
  if (!d->leadoutGiven) d->leadout = (int32_t)(d->imageBytes / kSector);
  const Track* last = &d->tracks[d->trackCount - 1];
  if (d->leadout <= last->start) {
    Complain(p, "the lead-out (%d) is not after the last track's start (%d)%s", d->leadout,
             last->start, d->leadoutGiven ? "" : "; the image is too short for the tracks");
  }
  if (d->lastSessionTrack &&
      (!FindTrack(d->lastSessionTrack) || d->lastSessionTrack == d->tracks[0].number)) {
    Complain(p, "last-session names track %d, which is not a later track", d->lastSessionTrack);
  }
  for (int i = 0; i < d->trackCount; ++i) {
    const Track* t = &d->tracks[i];
    const int32_t floor = i == 0 ? -150 : d->tracks[i - 1].start + 1;
    const int32_t end = i + 1 < d->trackCount ? d->tracks[i + 1].start : d->leadout;
    if (t->index[0] != kNoIndex) {
      if (t->index[0] < floor || t->index[0] >= t->start) {
        Complain(p,
                 "track %d's index 0 (%d) is not before its start (%d) and after the track "
                 "before",
                 t->number, t->index[0], t->start);
      }
    }
    int32_t previous = t->start;
    for (int x = 2; x < 100; ++x) {
      if (t->index[x] == kNoIndex) continue;
      if (t->index[x] <= previous || t->index[x] >= end ||
          (i + 1 < d->trackCount && d->tracks[i + 1].index[0] != kNoIndex &&
           t->index[x] >= d->tracks[i + 1].index[0])) {
        Complain(p, "track %d's index %d (%d) is not inside the track after the index before",
                 t->number, x, t->index[x]);
      }
      if (t->index[x - 1] == kNoIndex) {
        Complain(p, "track %d has index %d but no index %d", t->number, x, x - 1);
      }
      previous = t->index[x];
    }
  }
  if (d->readahead > 0 && d->cacheSectors == 0) Complain(p, "readahead needs a cache");
  if (d->readahead >= d->cacheSectors && d->readahead > 0) {
    Complain(p, "readahead (%d) must be smaller than the cache (%d)", d->readahead,
             d->cacheSectors);
  }
}

static void LoadOnce(void) {
  Drive* d = &g_drive;
  memset(d, 0, sizeof *d);
  d->logFd = -1;
  CopyText(d->device, sizeof d->device, "/dev/sr0");
  CopyText(d->vendor, sizeof d->vendor, "EMUDRIVE");
  CopyText(d->model, sizeof d->model, "Virtual CD-ROM");
  CopyText(d->revision, sizeof d->revision, "1.00");
  d->c2 = kC2Honest;
  d->seekMs = 8;
  d->readyRetryMs = 2000;
  d->seed = 1;
  d->qEvery = 100;
  d->accurateStream = true;

  const char* path = getenv("OBRIN_EMUDRIVE");
  if (!path || !*path) return;
  const char* logPath = getenv("OBRIN_EMUDRIVE_LOG");
  Parse p = {path, 0, false};
  if (logPath && *logPath) {
    d->logFd = real_open()(logPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (d->logFd < 0) Complain(&p, "cannot open the log %s: %s", logPath, strerror(errno));
  }
  FILE* f = fopen(path, "r");
  if (!f) {
    Complain(&p, "cannot open the description: %s", strerror(errno));
    return;
  }
  char* line = NULL;
  size_t cap = 0;
  while (getline(&line, &cap, f) >= 0) {
    ++p.line;
    size_t n = strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
    ParseLine(&p, line);
  }
  free(line);
  fclose(f);
  if (!p.bad) CheckDescription(&p);
  if (p.bad) {
    fprintf(stderr, "emudrive: %s: the description is not valid; there is no %s\n", path,
            d->device);
    return;
  }
  if (d->cacheSectors > 0) {
    d->slots = calloc((size_t)d->cacheSectors, sizeof(Slot));
    if (!d->slots) {
      fprintf(stderr, "emudrive: no memory for a cache of %d sectors\n", d->cacheSectors);
      return;
    }
  }
  d->trayOpen = d->disc == kDiscTrayOpen;
  d->discIn = d->disc != kDiscAbsent && d->trackCount > 0;
  d->readyLeft = d->becomingReady;
  d->unitAttention = d->mediaChanged;
  d->changedFlag = d->mediaChanged;
  d->rng = d->seed * 0x9E3779B97F4A7C15ULL + 0x632BE59BD9B4E019ULL;
  d->head = 0;
  unsigned minor = 0;
  if (sscanf(d->device, "/dev/sr%u", &minor) != 1) minor = 0;
  d->rdev = makedev(11, minor);
  clock_gettime(CLOCK_REALTIME, &d->birth);
  g_active = true;
}

static bool Active(void) {
  pthread_once(&g_loadOnce, LoadOnce);
  return g_active;
}

// Not inlined, and not analysed across calls: the callers' parameters are declared nonnull,
// and a caller that passes NULL anyway must get the real function's EFAULT, not a crash here.
__attribute__((noipa)) static bool IsDevicePath(const char* path) {
  return path && Active() && strcmp(path, g_drive.device) == 0;
}

// --- Descriptors ---

static int FindFd(int fd, FakeFd* copy);

// fstatat(fd, "", AT_EMPTY_PATH) on a fake descriptor.
__attribute__((noipa)) static bool IsDeviceFdPath(int dirfd, const char* path, int flags) {
  return (flags & AT_EMPTY_PATH) && path && !*path && FindFd(dirfd, NULL) >= 0;
}

// The fake descriptor a real descriptor number stands for, or -1. A table entry whose number
// now names another file (closed behind our back, by fclose of an fdopen'd stream or
// close_range) is dropped: each fake descriptor is a memfd of its own, told apart by inode.
static int FindFd(int fd, FakeFd* copy) {
  if (fd < 0 || __atomic_load_n(&g_fdCount, __ATOMIC_ACQUIRE) == 0) return -1;
  pthread_mutex_lock(&g_fdLock);
  int found = -1;
  for (int i = 0; i < kMaxFds; ++i) {
    if (!g_fds[i].used || g_fds[i].fd != fd) continue;
    struct stat st;
    if (real_fstat()(fd, &st) == 0 && st.st_ino == g_fds[i].ino && st.st_dev == g_fds[i].dev) {
      found = i;
      if (copy) *copy = g_fds[i];
    } else {
      g_fds[i].used = false;
      __atomic_sub_fetch(&g_fdCount, 1, __ATOMIC_RELEASE);
    }
    break;
  }
  pthread_mutex_unlock(&g_fdLock);
  return found;
}

static int OpenFdCount(void) {
  return __atomic_load_n(&g_fdCount, __ATOMIC_ACQUIRE);
}

static void DropFdLocked(int fd) {
  for (int i = 0; i < kMaxFds; ++i) {
    if (g_fds[i].used && g_fds[i].fd == fd) {
      g_fds[i].used = false;
      __atomic_sub_fetch(&g_fdCount, 1, __ATOMIC_RELEASE);
    }
  }
}

static void DropFd(int fd) {
  pthread_mutex_lock(&g_fdLock);
  DropFdLocked(fd);
  pthread_mutex_unlock(&g_fdLock);
}

static bool AddFd(int fd, int flags) {
  struct stat st;
  if (real_fstat()(fd, &st) != 0) return false;
  pthread_mutex_lock(&g_fdLock);
  DropFdLocked(fd);  // a stale entry of a number reused
  bool added = false;
  for (int i = 0; i < kMaxFds && !added; ++i) {
    if (g_fds[i].used) continue;
    g_fds[i] = (FakeFd){true, fd, flags, st.st_dev, st.st_ino, 0};
    __atomic_add_fetch(&g_fdCount, 1, __ATOMIC_RELEASE);
    added = true;
  }
  pthread_mutex_unlock(&g_fdLock);
  return added;
}

static void SetFdPos(int fd, int64_t pos) {
  pthread_mutex_lock(&g_fdLock);
  for (int i = 0; i < kMaxFds; ++i) {
    if (g_fds[i].used && g_fds[i].fd == fd) g_fds[i].pos = pos;
  }
  pthread_mutex_unlock(&g_fdLock);
}

// --- The disc ---

static const Track* TrackAt(int32_t lba) {
  const Drive* d = &g_drive;
  const Track* t = &d->tracks[0];
  for (int i = 1; i < d->trackCount; ++i) {
    if (d->tracks[i].start <= lba) t = &d->tracks[i];
  }
  return t;
}

static bool IsDataSector(int32_t lba) {
  return (TrackAt(lba)->ctrl & 0x04) != 0;
}

static const Fault* FaultAt(int kind, int32_t lba) {
  for (int i = 0; i < g_drive.faultCount; ++i) {
    const Fault* f = &g_drive.faults[i];
    if (f->kind == kind && lba >= f->from && lba <= f->to) return f;
  }
  return NULL;
}

// One sector as the surface gives it this time: the image (shifted by the read offset for
// audio), silence outside the image, and fresh damage on a flaky sector.
static void SurfaceRead(int32_t lba, Slot* slot) {
  const Drive* d = &g_drive;
  const bool data = IsDataSector(lba);
  int64_t at = (int64_t)lba * kSector + (data ? 0 : (int64_t)d->readOffset * 4);
  for (int i = 0; i < kSector;) {
    int64_t pos = at + i;
    if (pos < 0) {
      int n = (int)(-pos < kSector - i ? -pos : kSector - i);
      memset(slot->data + i, 0, (size_t)n);
      i += n;
    } else if (pos >= d->imageBytes) {
      memset(slot->data + i, 0, (size_t)(kSector - i));
      break;
    } else {
      int64_t avail = d->imageBytes - pos;
      int n = (int)(avail < kSector - i ? avail : kSector - i);
      memcpy(slot->data + i, d->image + pos, (size_t)n);
      i += n;
    }
  }
  memset(slot->c2, 0, sizeof slot->c2);
  const Fault* flaky = FaultAt(kFaultFlaky, lba);
  if (flaky && flaky->probability > 0) {
    const double limit = flaky->probability * 18446744073709551616.0;
    const uint64_t threshold = limit >= 18446744073709551615.0 ? UINT64_MAX : (uint64_t)limit;
    for (int i = 0; i < kSector; ++i) {
      if (NextRandom() < threshold || threshold == UINT64_MAX) {
        slot->data[i] ^= (uint8_t)(1u << (NextRandom() >> 61));
        slot->c2[i / 8] |= (uint8_t)(0x80 >> (i % 8));
      }
    }
  }
  slot->lba = lba;
  slot->valid = true;
}

// The cache keeps the last cacheSectors sectors read from the surface, oldest out first, as a
// drive's ring of read buffers does: reading that many other sectors empties it of a stretch.
static Slot* CacheFind(int32_t lba) {
  Drive* d = &g_drive;
  for (int i = 0; i < d->cacheSectors; ++i) {
    if (d->slots[i].valid && d->slots[i].lba == lba) return &d->slots[i];
  }
  return NULL;
}

static Slot* CacheVictim(void) {
  Drive* d = &g_drive;
  if (d->cacheSectors == 0) return &d->scratch;
  Slot* s = &d->slots[d->cacheNext];
  d->cacheNext = (d->cacheNext + 1) % d->cacheSectors;
  return s;
}

static void FlushCache(void) {
  for (int i = 0; i < g_drive.cacheSectors; ++i) g_drive.slots[i].valid = false;
}

static uint16_t QCrc(const uint8_t* q) {
  uint16_t crc = 0;
  for (int i = 0; i < 10; ++i) {
    crc ^= (uint16_t)(q[i] << 8);
    for (int b = 0; b < 8; ++b) crc = (uint16_t)(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return (uint16_t)~crc;
}

// The 12 bytes of the Q sub-channel of a sector (CTRL<<4|ADR first, as on disc): the position
// (ADR 1) in most sectors, the MCN (ADR 2) in sectors with LBA % EVERY == EVERY-1 and the
// track's ISRC (ADR 3) where LBA % EVERY == EVERY/2. In a pregap (index 0) the relative time
// counts down to the track's start.
static void MakeQ(int32_t lba, uint8_t q[12], bool* pause) {
  const Drive* d = &g_drive;
  memset(q, 0, 12);
  int trackIndex = 0;
  for (int i = 0; i < d->trackCount; ++i) {
    const Track* t = &d->tracks[i];
    const int32_t begin = t->index[0] != kNoIndex ? t->index[0] : t->start;
    if (begin <= lba || i == 0) trackIndex = i;
  }
  const Track* t = &d->tracks[trackIndex];
  int number = t->number, index = 1;
  int32_t rel;
  if (lba >= d->leadout) {
    number = 0xAA;
    rel = lba - d->leadout;
    t = &d->tracks[d->trackCount - 1];
  } else if (lba < t->start) {
    index = 0;
    rel = t->start - lba;
  } else {
    for (int x = 2; x < 100; ++x) {
      if (t->index[x] >= 0 && t->index[x] <= lba) index = x;
    }
    rel = lba - t->start;
  }
  *pause = index == 0;
  uint8_t am, as, af;
  LbaToMsf(lba, &am, &as, &af);
  const bool main = index != 0 && number != 0xAA && lba >= 0;
  if (main && d->qEvery && d->mcn[0] && lba % d->qEvery == d->qEvery - 1) {
    q[0] = (uint8_t)(t->ctrl << 4 | 2);
    for (int i = 0; i < 13; ++i) {
      const int digit = d->mcn[i] - '0';
      q[1 + i / 2] |= (uint8_t)(i % 2 ? digit : digit << 4);
    }
    q[9] = Bcd(af);
  } else if (main && d->qEvery && t->isrc[0] && lba % d->qEvery == d->qEvery / 2) {
    // Five 6-bit characters, two zero bits, seven BCD digits, four zero bits.
    uint64_t bits = 0;
    for (int i = 0; i < 5; ++i) {
      const char c = t->isrc[i];
      bits = bits << 6 | (uint64_t)(isdigit((unsigned char)c) ? c - '0' : c - 'A' + 0x11);
    }
    bits <<= 2;
    for (int i = 5; i < 12; ++i) bits = bits << 4 | (uint64_t)(t->isrc[i] - '0');
    bits <<= 4;
    q[0] = (uint8_t)(t->ctrl << 4 | 3);
    for (int i = 0; i < 8; ++i) q[1 + i] = (uint8_t)(bits >> (56 - 8 * i));
    q[9] = Bcd(af);
  } else {
    uint8_t rm, rs, rf;
    LbaToMsf(rel - 150, &rm, &rs, &rf);
    q[0] = (uint8_t)(t->ctrl << 4 | 1);
    q[1] = number == 0xAA ? 0xAA : Bcd(number);
    q[2] = Bcd(index);
    q[3] = Bcd(rm);
    q[4] = Bcd(rs);
    q[5] = Bcd(rf);
    q[7] = Bcd(am);
    q[8] = Bcd(as);
    q[9] = Bcd(af);
  }
  Put16(q + 10, QCrc(q));
}

// The numbers of a frame in binary, as some drives return formatted Q, with a CRC the drive
// made over what it returns.
static void QToBinary(uint8_t q[12]) {
  const int adr = q[0] & 0x0F;
  for (int i = adr == 1 ? 1 : 9; i <= 9; ++i) {
    if (i == 6 || (i == 1 && q[1] == 0xAA)) continue;
    q[i] = (uint8_t)((q[i] >> 4) * 10 + (q[i] & 0x0F));
  }
  Put16(q + 10, QCrc(q));
}

// --- MMC commands ---

typedef struct {
  const uint8_t* cdb;
  uint8_t* buf;
  uint32_t buflen;
  bool writable;  // the descriptor was opened for writing
} Request;

typedef struct {
  int err;  // an errno to fail with and no sense (0: a SCSI status)
  bool check;
  Sense sense;
  uint32_t transferred;
  char detail[96];  // the log line's extra fields
} Reply;

static void Fail(Reply* r, uint8_t key, uint8_t asc, uint8_t ascq) {
  r->check = true;
  r->sense = (Sense){key, asc, ascq};
}

// Copies a reply built in `data` into the caller's buffer, no more than both lengths allow.
static void Give(const Request* q, Reply* r, const uint8_t* data, uint32_t length,
                 uint32_t allocation) {
  uint32_t n = length < allocation ? length : allocation;
  if (n > q->buflen) n = q->buflen;
  if (n && q->buf) memcpy(q->buf, data, n);
  r->transferred = n;
}

// A command that needs the disc: tray, presence, a pending unit attention, spin-up.
static bool MediaReady(Reply* r) {
  Drive* d = &g_drive;
  if (d->trayOpen) {
    Fail(r, 0x02, 0x3A, 0x02);
    return false;
  }
  if (!d->discIn) {
    Fail(r, 0x02, 0x3A, 0x00);
    return false;
  }
  if (d->unitAttention) {
    d->unitAttention = false;
    Fail(r, 0x06, 0x28, 0x00);
    return false;
  }
  if (d->readyLeft > 0) {
    --d->readyLeft;
    Fail(r, 0x02, 0x04, 0x01);
    return false;
  }
  return true;
}

static void Inquiry(const Request* q, Reply* r) {
  const Drive* d = &g_drive;
  if (q->cdb[1] & 0x01) {  // no vital product data pages
    Fail(r, 0x05, 0x24, 0x00);
    return;
  }
  uint8_t b[36] = {0x05, 0x80, 0x00, 0x02, 31};
  memset(b + 8, ' ', 28);
  memcpy(b + 8, d->vendor, strlen(d->vendor));
  memcpy(b + 16, d->model, strlen(d->model));
  memcpy(b + 32, d->revision, strlen(d->revision));
  const uint32_t length = d->shortInquiry ? (uint32_t)d->shortInquiry : sizeof b;
  if (d->shortInquiry) b[4] = 0;
  Give(q, r, b, length < sizeof b ? length : sizeof b, Be16(q->cdb + 3));
}

static uint32_t SpeedKb(void) {
  const double x = g_drive.speed > 0 ? g_drive.speed : 48;
  return (uint32_t)(x * 176.4 + 0.5);
}

// Mode pages 01 (read error recovery), 0E (audio control) and 2A (capabilities).
static uint32_t ModePage(int page, bool changeable, uint8_t* out) {
  const Drive* d = &g_drive;
  uint8_t p[32] = {0};
  uint32_t n = 0;
  if (page == 0x01) {
    n = 12;
    p[0] = 0x01;
    p[1] = 10;
    p[3] = 5;  // read retry count
  } else if (page == 0x0E) {
    n = 16;
    p[0] = 0x0E;
    p[1] = 14;
    p[2] = 0x04;
    p[8] = 0x01;
    p[9] = 0xFF;
    p[10] = 0x02;
    p[11] = 0xFF;
  } else if (page == 0x2A) {
    n = 30;
    p[0] = 0x2A;
    p[1] = 28;
    p[4] = 0x71;  // audio play, mode 2 form 1 and 2, multisession
    p[5] = (uint8_t)(0x61 | (d->accurateStream ? 0x02 : 0) | (d->c2 != kC2None ? 0x10 : 0));
    p[6] = 0x29;  // lock, eject, tray loading
    Put16(p + 8, SpeedKb());
    Put16(p + 10, 256);
    Put16(p + 12, 1024);
    const double current = d->selectedSpeed > 0 ? d->selectedSpeed : d->speed;
    Put16(p + 14, current > 0 ? (uint32_t)(current * 176.4 + 0.5) : SpeedKb());
  }
  if (changeable && n) memset(p + 2, 0, n - 2);
  memcpy(out, p, n);
  return n;
}

static void ModeSense(const Request* q, Reply* r, bool ten) {
  const uint8_t page = q->cdb[2] & 0x3F;
  const bool changeable = (q->cdb[2] >> 6) == 1;
  uint8_t b[128] = {0};
  const uint32_t header = ten ? 8 : 4;
  uint32_t n = header;
  if (!ten && !(q->cdb[1] & 0x08)) {  // a block descriptor unless DBD
    b[3] = 8;
    Put32(b + n + 4, kUserData);
    n += 8;
  }
  if (page == 0x3F) {
    n += ModePage(0x01, changeable, b + n);
    n += ModePage(0x0E, changeable, b + n);
    n += ModePage(0x2A, changeable, b + n);
  } else {
    const uint32_t got = ModePage(page, changeable, b + n);
    if (!got) {
      Fail(r, 0x05, 0x24, 0x00);
      return;
    }
    n += got;
  }
  const uint8_t medium = g_drive.discIn ? (IsDataSector(0) ? 0x01 : 0x02) : 0x70;
  if (ten) {
    Put16(b, n - 2);
    b[2] = medium;
  } else {
    b[0] = (uint8_t)(n - 1);
    b[1] = medium;
  }
  Give(q, r, b, n, ten ? Be16(q->cdb + 7) : q->cdb[4]);
}

// The track list as served: "toc-backwards" hands the starts out in reverse order.
static int32_t ServedStart(int i) {
  const Drive* d = &g_drive;
  return d->tocBackwards ? d->tracks[d->trackCount - 1 - i].start : d->tracks[i].start;
}

static void PutAddress(uint8_t* p, int32_t lba, bool msf) {
  if (msf) {
    p[0] = 0;
    LbaToMsf(lba, &p[1], &p[2], &p[3]);
  } else {
    Put32(p, (uint32_t)lba);
  }
}

static int SessionOf(int i) {
  const Drive* d = &g_drive;
  return d->lastSessionTrack && d->tracks[i].number >= d->lastSessionTrack ? 2 : 1;
}

static void ReadToc(const Request* q, Reply* r) {
  const Drive* d = &g_drive;
  int format = q->cdb[2] & 0x0F;
  if (format == 0 && q->cdb[9] >> 6) format = q->cdb[9] >> 6;  // the older place for it
  const bool msf = q->cdb[1] & 0x02;
  const uint32_t allocation = Be16(q->cdb + 7);
  if (!MediaReady(r)) return;
  if (format == 5) {  // CD-Text, from the lead-in
    if (!d->cdtext) {
      Fail(r, 0x05, 0x24, 0x00);
      return;
    }
    uint8_t* b = malloc(d->cdtextBytes + 4);
    if (!b) {
      Fail(r, 0x04, 0x00, 0x00);
      return;
    }
    uint32_t n = 4;
    for (size_t i = 0; i < d->cdtextBytes; i += kPacks) {
      if (d->cdtextNoSize && d->cdtext[i] == 0x8F) continue;
      memcpy(b + n, d->cdtext + i, kPacks);
      n += kPacks;
    }
    Put16(b, n - 2);
    b[2] = b[3] = 0;
    Give(q, r, b, n, allocation);
    free(b);
    return;
  }
  uint8_t b[4 + 8 * 101 + 11 * 110] = {0};
  uint32_t n = 4;
  const int first = d->tracks[0].number, last = d->tracks[d->trackCount - 1].number;
  if (format == 0) {
    const int from = q->cdb[6];
    if (from > last && from != 0xAA) {
      Fail(r, 0x05, 0x24, 0x00);
      return;
    }
    for (int i = 0; i < d->trackCount; ++i) {
      if (from == 0xAA || d->tracks[i].number < from) continue;
      b[n + 1] = (uint8_t)(0x10 | d->tracks[i].ctrl);
      b[n + 2] = (uint8_t)d->tracks[i].number;
      PutAddress(b + n + 4, ServedStart(i), msf);
      n += 8;
    }
    b[n + 1] = (uint8_t)(0x10 | d->tracks[d->trackCount - 1].ctrl);
    b[n + 2] = 0xAA;
    PutAddress(b + n + 4, d->leadout, msf);
    n += 8;
    b[2] = (uint8_t)first;
    b[3] = (uint8_t)last;
  } else if (format == 1) {
    int i = 0;
    while (i + 1 < d->trackCount && SessionOf(i) != SessionOf(d->trackCount - 1)) ++i;
    b[2] = 1;
    b[3] = (uint8_t)SessionOf(d->trackCount - 1);
    b[n + 1] = (uint8_t)(0x10 | d->tracks[i].ctrl);
    b[n + 2] = (uint8_t)d->tracks[i].number;
    PutAddress(b + n + 4, ServedStart(i), msf);
    n += 8;
  } else if (format == 2) {
    const int sessions = SessionOf(d->trackCount - 1);
    for (int s = 1; s <= sessions; ++s) {
      int lo = -1, hi = -1;
      for (int i = 0; i < d->trackCount; ++i) {
        if (SessionOf(i) != s) continue;
        if (lo < 0) lo = i;
        hi = i;
      }
      // A session's lead-out: the disc's, or where the next session's lead-in begins.
      const int32_t end = s == sessions ? d->leadout : d->tracks[hi + 1].start - 11400;
      const bool xa = s > 1;
      const struct {
        int point;
        uint8_t ctrl;
        int32_t lba;
        uint8_t pm, ps;
      } points[3] = {{0xA0, d->tracks[lo].ctrl, 0, (uint8_t)d->tracks[lo].number, xa ? 0x20 : 0},
                     {0xA1, d->tracks[hi].ctrl, 0, (uint8_t)d->tracks[hi].number, 0},
                     {0xA2, d->tracks[hi].ctrl, end, 0, 0}};
      for (int k = 0; k < 3; ++k) {
        uint8_t* e = b + n;
        e[0] = (uint8_t)s;
        e[1] = (uint8_t)(0x10 | points[k].ctrl);
        e[3] = (uint8_t)points[k].point;
        if (points[k].point == 0xA2) {
          LbaToMsf(points[k].lba, &e[8], &e[9], &e[10]);
        } else {
          e[8] = points[k].pm;
          e[9] = points[k].ps;
        }
        n += 11;
      }
      for (int i = lo; i <= hi; ++i) {
        uint8_t* e = b + n;
        e[0] = (uint8_t)s;
        e[1] = (uint8_t)(0x10 | d->tracks[i].ctrl);
        e[3] = (uint8_t)d->tracks[i].number;
        LbaToMsf(ServedStart(i), &e[8], &e[9], &e[10]);
        n += 11;
      }
    }
    b[2] = 1;
    b[3] = (uint8_t)sessions;
  } else {
    Fail(r, 0x05, 0x24, 0x00);  // no ATIP or PMA on a pressed disc
    return;
  }
  Put16(b, n - 2);
  Give(q, r, b, n, allocation);
}

static void ReadSubChannel(const Request* q, Reply* r) {
  const Drive* d = &g_drive;
  if (!MediaReady(r)) return;
  const bool msf = q->cdb[1] & 0x02;
  const bool subQ = q->cdb[2] & 0x40;
  const int format = q->cdb[3];
  uint8_t b[24] = {0, 0x15};  // no audio play under way
  uint32_t n = 4;
  if (subQ) {
    if (format == 1) {
      uint8_t qq[12];
      bool pause;
      MakeQ(d->head, qq, &pause);
      const Track* t = TrackAt(d->head);
      b[4] = 1;
      b[5] = (uint8_t)(0x10 | t->ctrl);
      b[6] = (uint8_t)t->number;
      b[7] = (uint8_t)((qq[0] & 0x0F) == 1 ? (qq[2] >> 4) * 10 + (qq[2] & 0x0F) : 1);
      PutAddress(b + 8, d->head, msf);
      PutAddress(b + 12, d->head - t->start - (msf ? 150 : 0), msf);
      n = 16;
    } else if (format == 2) {
      b[4] = 2;
      if (d->mcn[0] && d->qMode != kQNone) {
        b[8] = 0x80;
        memcpy(b + 9, d->mcn, 13);
      }
      n = 24;
    } else if (format == 3) {
      const Track* t = FindTrack(q->cdb[6]);
      if (!t) {
        Fail(r, 0x05, 0x24, 0x00);
        return;
      }
      b[4] = 3;
      b[5] = (uint8_t)(0x10 | t->ctrl);
      b[6] = (uint8_t)t->number;
      if (t->isrc[0] && d->qMode != kQNone) {
        b[8] = 0x80;
        memcpy(b + 9, t->isrc, 12);
      }
      n = 24;
    } else {
      Fail(r, 0x05, 0x24, 0x00);
      return;
    }
  }
  Put16(b + 2, n - 4);
  Give(q, r, b, n, Be16(q->cdb + 7));
}

static void GetConfiguration(const Request* q, Reply* r) {
  const Drive* d = &g_drive;
  const int rt = q->cdb[1] & 0x03;
  const uint32_t start = Be16(q->cdb + 2);
  const bool media = d->discIn && !d->trayOpen;
  uint8_t b[64] = {0};
  uint32_t n = 8;
  // Profile list (CD-ROM), Core (ATAPI), Morphing, Removable medium, CD Read.
  const uint8_t features[][12] = {
      {0x00, 0x00, 0x03, 4, 0x00, 0x08, media ? 0x01 : 0x00, 0},
      {0x00, 0x01, 0x0B, 8, 0, 0, 0, 2, 0x01},
      {0x00, 0x02, 0x07, 4, 0x02},
      {0x00, 0x03, 0x03, 4, 0x29},
      {0x00, 0x1E, 0x09, 4, (uint8_t)(0x01 | (d->c2 != kC2None ? 0x02 : 0))},
  };
  for (size_t i = 0; i < sizeof features / sizeof features[0]; ++i) {
    const uint32_t code = Be16(features[i]);
    const bool current = (features[i][2] & 0x01) && (code != 0x1E || media);
    if (code < start || (rt == 1 && !current) || (rt == 2 && code != start)) continue;
    const uint32_t size = 4u + features[i][3];
    memcpy(b + n, features[i], size);
    if (!current) b[n + 2] &= 0xFE;
    n += size;
  }
  Put32(b, n - 4);
  Put16(b + 6, media ? 0x0008 : 0x0000);
  Give(q, r, b, n, Be16(q->cdb + 7));
}

static void GetEventStatus(const Request* q, Reply* r) {
  Drive* d = &g_drive;
  if (!(q->cdb[1] & 0x01)) {  // only polled operation
    Fail(r, 0x05, 0x24, 0x00);
    return;
  }
  uint8_t b[8] = {0};
  uint32_t n = 4;
  b[3] = 0x10;  // media class supported
  if (q->cdb[4] & 0x10) {
    b[2] = 0x04;
    b[4] = d->changedFlag ? 0x02 : 0x00;  // new media
    b[5] = (uint8_t)((d->trayOpen ? 0x01 : 0) | (d->discIn && !d->trayOpen ? 0x02 : 0));
    n = 8;
  } else {
    b[2] = 0x80;  // no event available
  }
  Put16(b, n - 2);
  Give(q, r, b, n, Be16(q->cdb + 7));
}

static void ReadDiscInformation(const Request* q, Reply* r) {
  const Drive* d = &g_drive;
  if (!MediaReady(r)) return;
  uint8_t b[34] = {0};
  Put16(b, 32);
  b[2] = 0x0E;  // complete disc, last session complete
  b[3] = (uint8_t)d->tracks[0].number;
  b[4] = (uint8_t)SessionOf(d->trackCount - 1);
  int i = 0;
  while (i + 1 < d->trackCount && SessionOf(i) != b[4]) ++i;
  b[5] = (uint8_t)d->tracks[i].number;
  b[6] = (uint8_t)d->tracks[d->trackCount - 1].number;
  b[8] = d->lastSessionTrack ? 0x20 : 0x00;
  memset(b + 16, 0xFF, 8);
  Give(q, r, b, sizeof b, Be16(q->cdb + 7));
}

static double SecondsPerSector(void) {
  const Drive* d = &g_drive;
  if (d->speed <= 0) return 0;
  double x = d->speed;
  if (d->selectedSpeed > 0 && d->selectedSpeed < x) x = d->selectedSpeed;
  return 1.0 / (75.0 * x);
}

enum { kReadCd, kReadUser };  // READ CD's layout, or READ(10)/(12)'s 2048-byte blocks

// Reads `count` sectors from `lba`: range and type checks, the cache, the surface and its
// faults, the time it all costs, then the transfer in the layout the command asked for.
static void ReadSectors(const Request* q, Reply* r, int32_t lba, int64_t count, int layout) {
  Drive* d = &g_drive;
  double ms = 0;
  int cached = 0;
  if (!MediaReady(r)) return;
  const uint8_t* cdb = q->cdb;
  const int type = layout == kReadCd ? (cdb[1] >> 2) & 0x07 : 2;
  const uint8_t flags = layout == kReadCd ? cdb[9] : 0x10;
  const int c2 = layout == kReadCd ? (flags >> 1) & 0x03 : 0;
  const int sub = layout == kReadCd ? cdb[10] & 0x07 : 0;
  if (c2 == 3 || (sub != 0 && sub != 1 && sub != 2 && sub != 4) || type > 5) {
    Fail(r, 0x05, 0x24, 0x00);
    return;
  }
  if (c2 && d->c2 == kC2None) {
    Fail(r, 0x05, 0x24, 0x00);
    return;
  }
  if ((sub == 2 && (d->qMode == kQRawOnly || d->qMode == kQNone)) ||
      (sub != 0 && d->qMode == kQNone)) {
    Fail(r, 0x05, 0x24, 0x00);
    return;
  }
  for (int64_t i = 0; i < count; ++i) {
    const int32_t at = (int32_t)(lba + i);
    if (at < -d->overreadLeadin || at >= d->leadout + d->overreadLeadout) {
      Fail(r, 0x05, 0x21, 0x00);
      snprintf(r->detail, sizeof r->detail, "at=%d", at);
      return;
    }
    const bool data = IsDataSector(at);
    if ((type == 1 && data) || (type >= 2 && !data)) {
      Fail(r, 0x05, 0x64, 0x00);
      return;
    }
  }
  // Sectors the cache does not hold come from the surface; one unreadable fails it all.
  int32_t firstMiss = INT32_MIN;
  int64_t misses = 0;
  for (int64_t i = 0; i < count; ++i) {
    const int32_t at = (int32_t)(lba + i);
    if (CacheFind(at)) continue;
    if (firstMiss == INT32_MIN) firstMiss = at;
    ++misses;
    const Fault* f = FaultAt(kFaultUnreadable, at);
    if (f) {
      ms += (firstMiss != d->head ? d->seekMs : 0) + d->failMs;
      d->head = at;
      Fail(r, f->key, f->asc, f->ascq);
      snprintf(r->detail, sizeof r->detail, "at=%d ms=%.0f", at, ms);
      SleepMs(ms);
      return;
    }
  }
  if (misses)
    ms += (firstMiss != d->head ? d->seekMs : 0) + 1000.0 * (double)misses * SecondsPerSector();

  const uint32_t main = flags & 0xF8 ? (layout == kReadUser ? kUserData : kSector) : 0;
  const uint32_t c2Bytes = c2 == 1 ? kC2Bytes : c2 == 2 ? kC2Bytes + 2 : 0;
  const uint32_t subBytes = sub == 2 ? 16 : sub ? 96 : 0;
  const uint32_t per = main + c2Bytes + subBytes;
  const uint64_t total = (uint64_t)per * (uint64_t)count;
  if (total > q->buflen) {  // more than the buffer takes: the transfer overruns
    r->err = EIO;
    return;
  }
  // "short-read": the drive stops early and the rest of the caller's buffer stays as it was.
  const uint64_t room = total > (uint64_t)d->shortRead ? total - (uint64_t)d->shortRead : 0;
  uint8_t* out = q->buf;
  uint64_t written = 0;
  for (int64_t i = 0; i < count; ++i) {
    const int32_t at = (int32_t)(lba + i);
    Slot* s = CacheFind(at);
    if (s) {
      ++cached;
    } else {
      s = CacheVictim();
      SurfaceRead(at, s);
    }
    uint8_t sector[kSector + kC2Bytes + 2 + 96];
    uint32_t k = 0;
    const bool data = IsDataSector(at);
    if (main == kUserData || (main && data && (flags & 0xF8) == 0x10)) {
      memcpy(sector, s->data + 16, kUserData);
      k = kUserData;
    } else if (main) {
      memcpy(sector, s->data, kSector);
      k = kSector;
    }
    if (c2Bytes) {
      uint8_t block = 0;
      for (int j = 0; j < kC2Bytes; ++j) {
        sector[k + (uint32_t)j] = d->c2 == kC2Honest ? s->c2[j] : 0;
        block |= sector[k + (uint32_t)j];
      }
      k += kC2Bytes;
      if (c2 == 2) {
        sector[k++] = block;
        sector[k++] = 0;
      }
    }
    if (subBytes) {
      uint8_t qq[12];
      bool pause;
      MakeQ(at, qq, &pause);
      if (sub == 2 && d->qMode == kQBinary) QToBinary(qq);
      if (d->qCorrupt > 0 && (double)(NextRandom() >> 11) / 9007199254740992.0 < d->qCorrupt) {
        qq[11] ^= 0x5A;
      }
      if (sub == 2) {
        memcpy(sector + k, qq, 12);
        memset(sector + k + 12, 0, 4);
      } else if (sub == 1) {
        for (int j = 0; j < 96; ++j) {
          const int bit = (qq[j / 8] >> (7 - j % 8)) & 1;
          sector[k + (uint32_t)j] = (uint8_t)((pause ? 0x80 : 0) | bit << 6);
        }
      } else {
        memset(sector + k, 0, 96);
      }
      k += subBytes;
    }
    const uint64_t n = written + k <= room ? k : room - written;
    if (n && out) memcpy(out + written, sector, n);
    written += n;
  }
  if (misses) d->head = (int32_t)(lba + count);
  // Read-ahead: the sectors after this read land in the cache while the host is busy.
  if (d->readahead && layout == kReadCd) {
    for (int32_t at = (int32_t)(lba + count); at < lba + count + d->readahead; ++at) {
      if (at >= d->leadout + d->overreadLeadout || FaultAt(kFaultUnreadable, at)) break;
      if (!CacheFind(at)) SurfaceRead(at, CacheVictim());
      d->head = at + 1;
    }
  }
  r->transferred = (uint32_t)written;
  snprintf(r->detail, sizeof r->detail, "cached=%d ms=%.0f", cached, ms);
  SleepMs(ms);
}

static void ReadCd(const Request* q, Reply* r, bool msfForm) {
  int32_t lba;
  int64_t count;
  if (msfForm) {
    const uint8_t* c = q->cdb;
    lba = (c[3] * 60 + c[4]) * 75 + c[5] - 150;
    const int32_t end = (c[6] * 60 + c[7]) * 75 + c[8] - 150;
    count = end - lba;
    if (count < 0) {
      Fail(r, 0x05, 0x24, 0x00);
      return;
    }
  } else {
    lba = Be32(q->cdb + 2);
    count = Be24(q->cdb + 6);
  }
  ReadSectors(q, r, lba, count, kReadCd);
}

static void Eject(Reply* r, bool load) {
  Drive* d = &g_drive;
  if (load) {
    if (d->trayOpen) {
      d->trayOpen = false;
      d->discIn = d->disc != kDiscAbsent && d->trackCount > 0;
      d->unitAttention = d->changedFlag = d->discIn;
      if (d->cacheSectors) FlushCache();
    }
    return;
  }
  if (d->locked) {
    Fail(r, 0x05, 0x53, 0x02);  // medium removal prevented
    return;
  }
  d->trayOpen = true;
  if (d->cacheSectors) FlushCache();
}

// Which commands the kernel lets through for a caller without CAP_SYS_RAWIO: reading ones on
// any descriptor, a few more on one opened for writing.
static bool Permitted(const Request* q) {
  static const uint8_t reading[] = {0x00, 0x03, 0x12, 0x1A, 0x5A, 0x1B, 0x25, 0x28, 0xA8,
                                    0x2B, 0x42, 0x43, 0x44, 0x46, 0x4A, 0x51, 0x52, 0x5C,
                                    0xBE, 0xB9, 0xBD, 0x45, 0x47, 0x4B, 0x4E, 0xAD};
  static const uint8_t writing[] = {0x15, 0x55, 0xBB, 0x1E, 0xB6, 0xA7};
  if (g_drive.permissions == kPermRoot || memchr(reading, q->cdb[0], sizeof reading)) return true;
  return q->writable && memchr(writing, q->cdb[0], sizeof writing);
}

static const char* OpName(uint8_t op) {
  static const Name names[] = {
      {0x00, "TEST_UNIT_READY"},
      {0x03, "REQUEST_SENSE"},
      {0x12, "INQUIRY"},
      {0x15, "MODE_SELECT_6"},
      {0x1A, "MODE_SENSE_6"},
      {0x1B, "START_STOP_UNIT"},
      {0x1E, "PREVENT_ALLOW"},
      {0x25, "READ_CAPACITY"},
      {0x28, "READ_10"},
      {0x2B, "SEEK"},
      {0x42, "READ_SUB_CHANNEL"},
      {0x43, "READ_TOC"},
      {0x45, "PLAY_AUDIO_10"},
      {0x46, "GET_CONFIGURATION"},
      {0x47, "PLAY_AUDIO_MSF"},
      {0x4A, "GET_EVENT_STATUS"},
      {0x4B, "PAUSE_RESUME"},
      {0x4E, "STOP_PLAY"},
      {0x51, "READ_DISC_INFORMATION"},
      {0x55, "MODE_SELECT_10"},
      {0x5A, "MODE_SENSE_10"},
      {0xA8, "READ_12"},
      {0xAD, "READ_DVD_STRUCTURE"},
      {0xB9, "READ_CD_MSF"},
      {0xBB, "SET_CD_SPEED"},
      {0xBD, "MECHANISM_STATUS"},
      {0xBE, "READ_CD"},
  };
  return NameOf(names, sizeof names / sizeof names[0], op);
}

// Serves one command; the caller holds the drive lock.
static void RunCommand(const Request* q, Reply* r) {
  Drive* d = &g_drive;
  const uint8_t* c = q->cdb;
  memset(r, 0, sizeof *r);
  if (d->maxTransfer && q->buflen > d->maxTransfer) {
    r->err = EIO;
  } else if (!Permitted(q)) {
    r->err = EPERM;
  } else {
    switch (c[0]) {
      case 0x00:
        MediaReady(r);
        break;
      case 0x03: {
        uint8_t b[18] = {0x70, 0, d->lastSense.key, 0, 0, 0, 0, 10};
        b[12] = d->lastSense.asc;
        b[13] = d->lastSense.ascq;
        Give(q, r, b, sizeof b, c[4]);
        d->lastSense = (Sense){0, 0, 0};
        break;
      }
      case 0x12:
        Inquiry(q, r);
        break;
      case 0x1A:
        ModeSense(q, r, false);
        break;
      case 0x5A:
        ModeSense(q, r, true);
        break;
      case 0x15:
      case 0x55:
        break;
      case 0x1B:
        if (c[4] & 0x02) Eject(r, c[4] & 0x01);
        break;
      case 0x1E:
        d->locked = c[4] & 0x01;
        break;
      case 0x25:
        if (MediaReady(r)) {
          uint8_t b[8];
          Put32(b, (uint32_t)(d->leadout - 1));
          Put32(b + 4, kUserData);
          Give(q, r, b, sizeof b, sizeof b);
        }
        break;
      case 0x28:
      case 0xA8:
        if (c[1] & 0x08 && d->cacheSectors) FlushCache();  // FUA: past the cache
        ReadSectors(q, r, Be32(c + 2), c[0] == 0x28 ? Be16(c + 7) : (uint32_t)Be32(c + 6),
                    kReadUser);
        break;
      case 0x2B:
        if (MediaReady(r)) d->head = Be32(c + 2);
        break;
      case 0x42:
        ReadSubChannel(q, r);
        break;
      case 0x43:
        ReadToc(q, r);
        break;
      case 0x46:
        GetConfiguration(q, r);
        break;
      case 0x4A:
        GetEventStatus(q, r);
        if (q->cdb[4] & 0x10) d->changedFlag = false;
        break;
      case 0x51:
        ReadDiscInformation(q, r);
        break;
      case 0xBB: {
        const uint32_t kb = Be16(c + 2);
        d->selectedSpeed = kb == 0xFFFF ? 0 : kb / 176.4;
        break;
      }
      case 0xBD: {
        uint8_t b[8] = {(uint8_t)(d->trayOpen ? 0x10 : 0)};
        b[2] = (uint8_t)(d->head >> 16);
        b[3] = (uint8_t)(d->head >> 8);
        b[4] = (uint8_t)d->head;
        Give(q, r, b, sizeof b, Be16(c + 8));
        break;
      }
      case 0xBE:
        ReadCd(q, r, false);
        break;
      case 0xB9:
        ReadCd(q, r, true);
        break;
      case 0x45:
      case 0x47:
      case 0x4B:
      case 0x4E:
        MediaReady(r);
        break;
      case 0xAD:
        Fail(r, 0x05, 0x30, 0x02);
        break;  // a CD holds no DVD structures
      default:
        Fail(r, 0x05, 0x20, 0x00);
        break;
    }
  }
  if (r->check) d->lastSense = r->sense;

  char op[8];
  const char* name = OpName(c[0]);
  if (!name) {
    snprintf(op, sizeof op, "OP_%02X", c[0]);
    name = op;
  }
  char where[32] = "- -";
  char tail[16] = "";
  if (c[0] == 0xBE || c[0] == 0x28 || c[0] == 0xA8) {
    const int64_t count = c[0] == 0xBE   ? Be24(c + 6)
                          : c[0] == 0x28 ? Be16(c + 7)
                                         : (uint32_t)Be32(c + 6);
    snprintf(where, sizeof where, "%d %lld", Be32(c + 2), (long long)count);
  } else if (c[0] == 0xB9) {
    const int32_t from = (c[3] * 60 + c[4]) * 75 + c[5] - 150;
    snprintf(where, sizeof where, "%d %d", from, (c[6] * 60 + c[7]) * 75 + c[8] - 150 - from);
  } else if (c[0] == 0x43 || c[0] == 0x42) {
    snprintf(tail, sizeof tail, " format=%d", c[0] == 0x43 ? (c[2] & 0x0F) : c[3]);
  }
  char result[16];
  if (r->err) {
    snprintf(result, sizeof result, "%s", ErrnoName(r->err));
  } else if (r->check) {
    snprintf(result, sizeof result, "%02X/%02X/%02X", r->sense.key, r->sense.asc, r->sense.ascq);
  } else {
    snprintf(result, sizeof result, "ok");
  }
  Log("mmc %s %s %s%s%s%s", name, where, result, tail, r->detail[0] ? " " : "", r->detail);
}

static void WriteSense(void* to, const Sense* s) {
  uint8_t b[sizeof(struct request_sense)] = {0x70, 0, s->key, 0, 0, 0, 0, 10};
  b[12] = s->asc;
  b[13] = s->ascq;
  memcpy(to, b, sizeof b);
}

static int SendPacket(const FakeFd* f, struct cdrom_generic_command* cgc) {
  // Only a command that reads may fill the buffer (libcdio hands SET CD SPEED one to write).
  const bool in = cgc->data_direction == CGC_DATA_READ || cgc->data_direction == CGC_DATA_UNKNOWN;
  Request q = {cgc->cmd, in ? cgc->buffer : NULL, in ? cgc->buflen : 0,
               (f->flags & O_ACCMODE) != O_RDONLY};
  Reply r;
  pthread_mutex_lock(&g_driveLock);
  RunCommand(&q, &r);
  pthread_mutex_unlock(&g_driveLock);
  if (r.err) {
    errno = r.err;
    return -1;
  }
  if (r.check) {
    if (cgc->sense) WriteSense(cgc->sense, &r.sense);
    cgc->stat = 0x02;  // CHECK CONDITION
    errno = EIO;
    return -1;
  }
  cgc->stat = 0;
  if (in) cgc->buflen = q.buflen - r.transferred;  // the residue, as the kernel leaves it
  return 0;
}

static int SgIo(const FakeFd* f, sg_io_hdr_t* h) {
  if (h->interface_id != 'S' || h->iovec_count || h->cmd_len < 6 || h->cmd_len > 16) {
    errno = EINVAL;
    return -1;
  }
  uint8_t cdb[16] = {0};
  memcpy(cdb, h->cmdp, h->cmd_len);
  const bool in = h->dxfer_direction == SG_DXFER_FROM_DEV;
  Request q = {cdb, in ? h->dxferp : NULL, in ? h->dxfer_len : 0,
               (f->flags & O_ACCMODE) != O_RDONLY};
  Reply r;
  pthread_mutex_lock(&g_driveLock);
  RunCommand(&q, &r);
  pthread_mutex_unlock(&g_driveLock);
  if (r.err) {
    errno = r.err;
    return -1;
  }
  h->status = h->masked_status = 0;
  h->host_status = h->driver_status = 0;
  h->sb_len_wr = 0;
  h->info = 0;
  h->duration = 0;
  h->resid = (int)(h->dxfer_len - r.transferred);
  if (r.check) {
    // SG_IO itself succeeds on CHECK CONDITION; the header tells.
    uint8_t sense[sizeof(struct request_sense)];
    WriteSense(sense, &r.sense);
    h->status = 0x02;
    h->masked_status = 0x01;
    h->driver_status = 0x08;
    h->info |= SG_INFO_CHECK;
    const unsigned n = h->mx_sb_len < 18 ? h->mx_sb_len : 18;
    if (h->sbp && n) memcpy(h->sbp, sense, n);
    h->sb_len_wr = (unsigned char)n;
  }
  return 0;
}

// --- The cdrom ioctls the kernel serves itself ---

// What the kernel makes of the disc state before a TOC-style ioctl: it retries "becoming
// ready" and a unit attention on its own (sr_do_ioctl), up to ten times, two seconds apart.
static int KernelMediaCheck(void) {
  Drive* d = &g_drive;
  if (d->trayOpen || !d->discIn) return ENOMEDIUM;
  d->unitAttention = false;
  for (int tries = 0; d->readyLeft > 0; ++tries) {
    if (tries == 10) return EIO;
    --d->readyLeft;
    SleepMs(d->readyRetryMs);
  }
  return 0;
}

static int DriveStatus(void) {
  const Drive* d = &g_drive;
  if (d->trayOpen) return CDS_TRAY_OPEN;
  if (!d->discIn) return CDS_NO_DISC;
  if (d->readyLeft > 0) return CDS_DRIVE_NOT_READY;
  return CDS_DISC_OK;
}

static const char* IoctlName(unsigned long request) {
  static const Name names[] = {
      NAMED(CDROMREADTOCHDR),
      NAMED(CDROMREADTOCENTRY),
      NAMED(CDROMEJECT),
      NAMED(CDROMCLOSETRAY),
      NAMED(CDROMSUBCHNL),
      NAMED(CDROMMULTISESSION),
      NAMED(CDROM_GET_MCN),
      NAMED(CDROMVOLREAD),
      NAMED(CDROM_SELECT_SPEED),
      NAMED(CDROM_MEDIA_CHANGED),
      NAMED(CDROM_DRIVE_STATUS),
      NAMED(CDROM_DISC_STATUS),
      NAMED(CDROM_LOCKDOOR),
      NAMED(CDROM_GET_CAPABILITY),
      NAMED(CDROMREADAUDIO),
      NAMED(CDROMREADMODE1),
      NAMED(DVD_READ_STRUCT),
      {0x5382, "SCSI_IOCTL_GET_IDLUN"},
      {0x5386, "SCSI_IOCTL_GET_BUS_NUMBER"},
      {0x125F, "BLKRRPART"},
  };
  return NameOf(names, sizeof names / sizeof names[0], request);
}

static void PutIoctlAddress(union cdrom_addr* a, int32_t lba, int format) {
  if (format == CDROM_MSF) {
    LbaToMsf(lba, &a->msf.minute, &a->msf.second, &a->msf.frame);
  } else {
    a->lba = lba;
  }
}

// Reads through the packet engine on behalf of an ioctl the kernel turns into READ CD.
static int KernelRead(int32_t lba, int count, uint8_t* buf, bool audio) {
  uint8_t cdb[12] = {0xBE, audio ? 0x04 : 0x08};
  Put32(cdb + 2, (uint32_t)lba);
  cdb[6] = (uint8_t)(count >> 16);
  cdb[7] = (uint8_t)(count >> 8);
  cdb[8] = (uint8_t)count;
  cdb[9] = 0x10;  // user data: all 2352 bytes of audio, 2048 of a data sector
  Request q = {cdb, buf, (uint32_t)count * (audio ? kSector : kUserData), true};
  Reply r;
  RunCommand(&q, &r);
  if (r.err) return r.err;
  return r.check ? EIO : 0;
}

static int DriveIoctl(FakeFd* f, unsigned long request, void* arg) {
  Drive* d = &g_drive;
  // Ioctls that take a number get an int: only the register's low half is defined.
  const unsigned value = (unsigned)(uintptr_t)arg;
  int result = 0, err = 0;
  char detail[40] = "";
  if (request == CDROM_SEND_PACKET) return SendPacket(f, arg);
  if (request == SG_IO) return SgIo(f, arg);
  pthread_mutex_lock(&g_driveLock);
  switch (request) {
    case CDROM_GET_CAPABILITY:
      result = CDC_CLOSE_TRAY | CDC_OPEN_TRAY | CDC_LOCK | CDC_SELECT_SPEED | CDC_MULTI_SESSION |
               CDC_MCN | CDC_MEDIA_CHANGED | CDC_PLAY_AUDIO | CDC_RESET | CDC_DRIVE_STATUS |
               CDC_GENERIC_PACKET;
      break;
    case CDROM_DRIVE_STATUS:
      result = DriveStatus();
      break;
    case CDROM_DISC_STATUS: {
      if ((err = KernelMediaCheck())) {
        if (err == ENOMEDIUM) {
          err = 0;
          result = DriveStatus();
        }
        break;
      }
      int audio = 0, data = 0;
      for (int i = 0; i < d->trackCount; ++i) ++*(d->tracks[i].ctrl & 4 ? &data : &audio);
      result = data == 0 ? CDS_AUDIO : audio == 0 ? CDS_DATA_1 : CDS_MIXED;
      break;
    }
    case CDROM_MEDIA_CHANGED:
      result = d->changedFlag;
      d->changedFlag = false;
      break;
    case CDROM_LOCKDOOR:
      d->locked = value != 0;
      break;
    case CDROM_SELECT_SPEED:
      d->selectedSpeed = value == 0 || value > 0xFFFF ? 0 : (double)value;
      snprintf(detail, sizeof detail, " speed=%u", value);
      break;
    case CDROMEJECT:
      // The kernel refuses while another descriptor holds the drive or the door is locked.
      if (OpenFdCount() > 1 || d->locked) {
        err = EBUSY;
      } else {
        Reply r = {0};
        Eject(&r, false);
      }
      break;
    case CDROMCLOSETRAY: {
      Reply r = {0};
      Eject(&r, true);
      break;
    }
    case CDROMREADTOCHDR: {
      struct cdrom_tochdr* h = arg;
      if (!(err = KernelMediaCheck())) {
        h->cdth_trk0 = (uint8_t)d->tracks[0].number;
        h->cdth_trk1 = (uint8_t)d->tracks[d->trackCount - 1].number;
      }
      break;
    }
    case CDROMREADTOCENTRY: {
      struct cdrom_tocentry* e = arg;
      snprintf(detail, sizeof detail, " track=%d", e->cdte_track);
      if (e->cdte_format != CDROM_MSF && e->cdte_format != CDROM_LBA) {
        err = EINVAL;
      } else if (!(err = KernelMediaCheck())) {
        int i = 0;
        while (i < d->trackCount && d->tracks[i].number != e->cdte_track) ++i;
        if (e->cdte_track == CDROM_LEADOUT) {
          e->cdte_adr = 1;
          e->cdte_ctrl = d->tracks[d->trackCount - 1].ctrl;
          PutIoctlAddress(&e->cdte_addr, d->leadout, e->cdte_format);
          e->cdte_datamode = 0;
        } else if (i < d->trackCount) {
          e->cdte_adr = 1;
          e->cdte_ctrl = d->tracks[i].ctrl;
          PutIoctlAddress(&e->cdte_addr, ServedStart(i), e->cdte_format);
          e->cdte_datamode = (d->tracks[i].ctrl & 4) ? 1 : 0;
        } else {
          err = EIO;
        }
      }
      break;
    }
    case CDROMMULTISESSION: {
      struct cdrom_multisession* m = arg;
      if (m->addr_format != CDROM_MSF && m->addr_format != CDROM_LBA) {
        err = EINVAL;
      } else if (!(err = KernelMediaCheck())) {
        const Track* t = d->lastSessionTrack ? FindTrack(d->lastSessionTrack) : NULL;
        m->xa_flag = t != NULL;
        // One session: the kernel gives 0 (00:02:00 as MSF).
        PutIoctlAddress(&m->addr, t ? t->start : 0, m->addr_format);
      }
      break;
    }
    case CDROM_GET_MCN: {
      struct cdrom_mcn* m = arg;
      if (!(err = KernelMediaCheck())) {
        memset(m->medium_catalog_number, 0, sizeof m->medium_catalog_number);
        memcpy(m->medium_catalog_number, d->mcn, strlen(d->mcn));
      }
      break;
    }
    case CDROMSUBCHNL: {
      struct cdrom_subchnl* s = arg;
      if (s->cdsc_format != CDROM_MSF && s->cdsc_format != CDROM_LBA) {
        err = EINVAL;
      } else if (!(err = KernelMediaCheck())) {
        const Track* t = TrackAt(d->head);
        s->cdsc_audiostatus = CDROM_AUDIO_NO_STATUS;
        s->cdsc_adr = 1;
        s->cdsc_ctrl = t->ctrl;
        s->cdsc_trk = (uint8_t)t->number;
        s->cdsc_ind = 1;
        PutIoctlAddress(&s->cdsc_absaddr, d->head, s->cdsc_format);
        if (s->cdsc_format == CDROM_MSF) {
          PutIoctlAddress(&s->cdsc_reladdr, d->head - t->start - 150, CDROM_MSF);
        } else {
          s->cdsc_reladdr.lba = d->head - t->start;
        }
      }
      break;
    }
    case CDROMVOLREAD: {
      struct cdrom_volctrl* v = arg;
      v->channel0 = v->channel1 = v->channel2 = v->channel3 = 0xFF;
      break;
    }
    case CDROMREADAUDIO: {
      struct cdrom_read_audio* a = arg;
      const int32_t lba =
          a->addr_format == CDROM_MSF
              ? (a->addr.msf.minute * 60 + a->addr.msf.second) * 75 + a->addr.msf.frame - 150
              : a->addr.lba;
      if ((a->addr_format != CDROM_MSF && a->addr_format != CDROM_LBA) || a->nframes < 1 ||
          a->nframes > 75) {
        err = EINVAL;
      } else {
        err = KernelMediaCheck();
        if (!err) err = KernelRead(lba, a->nframes, a->buf, true);
      }
      snprintf(detail, sizeof detail, " lba=%d count=%d", lba, a->nframes);
      break;
    }
    case CDROMREADMODE1: {
      struct cdrom_msf* m = arg;
      const int32_t lba = (m->cdmsf_min0 * 60 + m->cdmsf_sec0) * 75 + m->cdmsf_frame0 - 150;
      err = KernelMediaCheck();
      if (!err) err = KernelRead(lba, 1, (uint8_t*)arg, false);
      break;
    }
    case 0x5382: {  // SCSI_IOCTL_GET_IDLUN (also CDROMAUDIOBUFSIZ)
      int* idlun = arg;
      idlun[0] = 0;
      idlun[1] = 0;
      break;
    }
    case 0x5386:  // SCSI_IOCTL_GET_BUS_NUMBER
      *(int*)arg = 0;
      break;
    case DVD_READ_STRUCT:
      err = ENOSYS;
      break;  // not a DVD drive
    case 0x125F:
      err = EINVAL;
      break;  // BLKRRPART: no partitions on a CD
    default:
      err = ENOTTY;
      break;
  }
  const char* name = IoctlName(request);
  char unknown[24];
  if (!name) {
    snprintf(unknown, sizeof unknown, "0x%lx", request);
    name = unknown;
  }
  if (err) {
    Log("ioctl %s - - %s%s", name, ErrnoName(err), detail);
  } else if (request == CDROM_GET_CAPABILITY || request == CDROM_DRIVE_STATUS ||
             request == CDROM_DISC_STATUS || request == CDROM_MEDIA_CHANGED) {
    Log("ioctl %s - - ok result=%d%s", name, result, detail);
  } else {
    Log("ioctl %s - - ok%s", name, detail);
  }
  pthread_mutex_unlock(&g_driveLock);
  if (err) {
    errno = err;
    return -1;
  }
  return result;
}

// --- Opening and the stat family ---

static int OpenDevice(const char* path, int flags) {
  Drive* d = &g_drive;
  pthread_mutex_lock(&g_driveLock);
  int err = 0;
  if (d->permissions == kPermDenied) {
    err = EACCES;
  } else if (!(flags & O_NONBLOCK)) {
    // The kernel closes an open tray for a blocking open, then wants a disc, and a disc it
    // can write for O_WRONLY or O_RDWR.
    if (d->trayOpen) {
      Reply r = {0};
      Eject(&r, true);
    }
    if (!d->discIn) {
      err = ENOMEDIUM;
    } else if ((flags & O_ACCMODE) != O_RDONLY) {
      err = EROFS;
    }
  }
  int fd = -1;
  if (!err) {
    fd = memfd_create("emudrive", (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0);
    if (fd < 0) fd = real_open()("/dev/null", O_RDONLY | (flags & O_CLOEXEC));
    if (fd < 0) {
      err = errno;
    } else if (!AddFd(fd, flags)) {
      real_close()(fd);
      fd = -1;
      err = EMFILE;
    }
  }
  char mode[48];
  snprintf(mode, sizeof mode, "%s%s%s%s",
           (flags & O_ACCMODE) == O_RDONLY   ? "O_RDONLY"
           : (flags & O_ACCMODE) == O_WRONLY ? "O_WRONLY"
                                             : "O_RDWR",
           flags & O_NONBLOCK ? "|O_NONBLOCK" : "", flags & O_EXCL ? "|O_EXCL" : "",
           flags & O_CLOEXEC ? "|O_CLOEXEC" : "");
  if (err) {
    Log("open %s - - %s", mode, ErrnoName(err));
  } else {
    Log("open %s - - ok fd=%d", mode, fd);
  }
  pthread_mutex_unlock(&g_driveLock);
  (void)path;
  if (err) {
    errno = err;
    return -1;
  }
  return fd;
}

static void FakeStat(struct stat* st) {
  const Drive* d = &g_drive;
  memset(st, 0, sizeof *st);
  st->st_dev = makedev(0, 5);
  st->st_ino = 0xCD0000 + minor(d->rdev);
  st->st_mode = S_IFBLK | 0660;
  st->st_nlink = 1;
  st->st_uid = 0;
  st->st_gid = 24;  // cdrom
  st->st_rdev = d->rdev;
  st->st_blksize = 2048;
  st->st_atim = st->st_mtim = st->st_ctim = d->birth;
}

static int GetMode(int flags, va_list args) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, int) : 0;
}

EXPORT int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = GetMode(flags, args);
  va_end(args);
  if (IsDevicePath(path)) return OpenDevice(path, flags);
  CALL_REAL(open, -1, path, flags, mode);
}

EXPORT int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = GetMode(flags, args);
  va_end(args);
  if (IsDevicePath(path)) return OpenDevice(path, flags);
  CALL_REAL(open64, -1, path, flags, mode);
}

EXPORT int openat(int dirfd, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = GetMode(flags, args);
  va_end(args);
  if (IsDevicePath(path)) return OpenDevice(path, flags);
  CALL_REAL(openat, -1, dirfd, path, flags, mode);
}

EXPORT int openat64(int dirfd, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = GetMode(flags, args);
  va_end(args);
  if (IsDevicePath(path)) return OpenDevice(path, flags);
  CALL_REAL(openat64, -1, dirfd, path, flags, mode);
}

// What _FORTIFY_SOURCE turns open() into when the flags are not known at compile time.
EXPORT int __open_2(const char* path, int flags) {
  if (IsDevicePath(path)) return OpenDevice(path, flags);
  CALL_REAL(__open_2, -1, path, flags);
}

EXPORT int __open64_2(const char* path, int flags) {
  if (IsDevicePath(path)) return OpenDevice(path, flags);
  CALL_REAL(__open64_2, -1, path, flags);
}

EXPORT int __openat_2(int dirfd, const char* path, int flags) {
  if (IsDevicePath(path)) return OpenDevice(path, flags);
  CALL_REAL(__openat_2, -1, dirfd, path, flags);
}

EXPORT int __openat64_2(int dirfd, const char* path, int flags) {
  if (IsDevicePath(path)) return OpenDevice(path, flags);
  CALL_REAL(__openat64_2, -1, dirfd, path, flags);
}

EXPORT int stat(const char* path, struct stat* st) {
  if (IsDevicePath(path)) {
    FakeStat(st);
    return 0;
  }
  CALL_REAL(stat, -1, path, st);
}

EXPORT int stat64(const char* path, struct stat64* st) {
  if (IsDevicePath(path)) {
    FakeStat((struct stat*)st);
    return 0;
  }
  CALL_REAL(stat64, -1, path, st);
}

EXPORT int lstat(const char* path, struct stat* st) {
  if (IsDevicePath(path)) {
    FakeStat(st);
    return 0;
  }
  CALL_REAL(lstat, -1, path, st);
}

EXPORT int lstat64(const char* path, struct stat64* st) {
  if (IsDevicePath(path)) {
    FakeStat((struct stat*)st);
    return 0;
  }
  CALL_REAL(lstat64, -1, path, st);
}

EXPORT int fstat(int fd, struct stat* st) {
  if (FindFd(fd, NULL) >= 0) {
    FakeStat(st);
    return 0;
  }
  CALL_REAL(fstat, -1, fd, st);
}

EXPORT int fstat64(int fd, struct stat64* st) {
  if (FindFd(fd, NULL) >= 0) {
    FakeStat((struct stat*)st);
    return 0;
  }
  CALL_REAL(fstat64, -1, fd, st);
}

EXPORT int fstatat(int dirfd, const char* path, struct stat* st, int flags) {
  if (IsDevicePath(path) || IsDeviceFdPath(dirfd, path, flags)) {
    FakeStat(st);
    return 0;
  }
  CALL_REAL(fstatat, -1, dirfd, path, st, flags);
}

EXPORT int fstatat64(int dirfd, const char* path, struct stat64* st, int flags) {
  if (IsDevicePath(path) || IsDeviceFdPath(dirfd, path, flags)) {
    FakeStat((struct stat*)st);
    return 0;
  }
  CALL_REAL(fstatat64, -1, dirfd, path, st, flags);
}

EXPORT int statx(int dirfd, const char* path, int flags, unsigned mask, struct statx* sx) {
  if (IsDevicePath(path) || IsDeviceFdPath(dirfd, path, flags)) {
    struct stat st;
    FakeStat(&st);
    memset(sx, 0, sizeof *sx);
    sx->stx_mask = STATX_BASIC_STATS;
    sx->stx_blksize = (uint32_t)st.st_blksize;
    sx->stx_nlink = (uint32_t)st.st_nlink;
    sx->stx_uid = st.st_uid;
    sx->stx_gid = st.st_gid;
    sx->stx_mode = (uint16_t)st.st_mode;
    sx->stx_ino = st.st_ino;
    sx->stx_rdev_major = major(st.st_rdev);
    sx->stx_rdev_minor = minor(st.st_rdev);
    sx->stx_dev_major = major(st.st_dev);
    sx->stx_dev_minor = minor(st.st_dev);
    sx->stx_atime.tv_sec = sx->stx_mtime.tv_sec = sx->stx_ctime.tv_sec = st.st_mtim.tv_sec;
    return 0;
  }
  CALL_REAL(statx, -1, dirfd, path, flags, mask, sx);
}

EXPORT char* realpath(const char* path, char* resolved) {
  if (IsDevicePath(path)) {
    const size_t n = strlen(path) + 1;
    char* out = resolved ? resolved : malloc(n > PATH_MAX ? n : PATH_MAX);
    if (!out) {
      errno = ENOMEM;
      return NULL;
    }
    memcpy(out, path, n);
    return out;
  }
  CALL_REAL(realpath, NULL, path, resolved);
}

EXPORT ssize_t readlink(const char* path, char* buf, size_t size) {
  if (IsDevicePath(path)) {
    errno = EINVAL;  // a device node, not a link
    return -1;
  }
  CALL_REAL(readlink, -1, path, buf, size);
}

static int DeviceAccess(int mode) {
  if (g_drive.permissions == kPermDenied && mode != F_OK) {
    errno = EACCES;
    return -1;
  }
  return 0;
}

EXPORT int access(const char* path, int mode) {
  if (IsDevicePath(path)) return DeviceAccess(mode);
  CALL_REAL(access, -1, path, mode);
}

EXPORT int faccessat(int dirfd, const char* path, int mode, int flags) {
  if (IsDevicePath(path)) return DeviceAccess(mode);
  CALL_REAL(faccessat, -1, dirfd, path, mode, flags);
}

// --- Descriptor calls ---

EXPORT int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  FakeFd f;
  if (FindFd(fd, &f) >= 0) return DriveIoctl(&f, request, arg);
  CALL_REAL(ioctl, -1, fd, request, arg);
}

EXPORT int close(int fd) {
  if (FindFd(fd, NULL) >= 0) {
    DropFd(fd);
    pthread_mutex_lock(&g_driveLock);
    Log("close - - - ok fd=%d", fd);
    // The kernel unlocks the door when the last user goes.
    if (OpenFdCount() == 0) g_drive.locked = false;
    pthread_mutex_unlock(&g_driveLock);
  }
  CALL_REAL(close, -1, fd);
}

static int Dup(int from, int to) {
  FakeFd f;
  if (to >= 0 && FindFd(from, &f) >= 0) AddFd(to, f.flags);
  return to;
}

EXPORT int dup(int fd) {
  if (!real_dup()) {
    errno = ENOSYS;
    return -1;
  }
  return Dup(fd, real_dup()(fd));
}

EXPORT int dup2(int fd, int to) {
  if (!real_dup2()) {
    errno = ENOSYS;
    return -1;
  }
  if (fd != to && FindFd(to, NULL) >= 0) DropFd(to);
  return Dup(fd, real_dup2()(fd, to));
}

EXPORT int dup3(int fd, int to, int flags) {
  if (!real_dup3()) {
    errno = ENOSYS;
    return -1;
  }
  if (fd != to && FindFd(to, NULL) >= 0) DropFd(to);
  return Dup(fd, real_dup3()(fd, to, flags));
}

// Cooked 2048-byte blocks of the data tracks, as read() on a real /dev/sr0 gives them; audio
// sectors fail with EIO.
static ssize_t ReadData(int fd, void* buf, size_t size, int64_t pos, bool move) {
  Drive* d = &g_drive;
  pthread_mutex_lock(&g_driveLock);
  ssize_t done = 0;
  int err = 0;
  const int32_t first = (int32_t)(pos / kUserData);
  while ((size_t)done < size) {
    const int64_t at = pos + done;
    const int32_t lba = (int32_t)(at / kUserData);
    if (!d->discIn || d->trayOpen) {
      err = ENOMEDIUM;
      break;
    }
    if (lba >= d->leadout) break;
    if (!IsDataSector(lba)) {
      err = EIO;
      break;
    }
    uint8_t block[kUserData];
    uint8_t cdb[12] = {0x28};
    Put32(cdb + 2, (uint32_t)lba);
    cdb[8] = 1;
    Request q = {cdb, block, sizeof block, false};
    Reply r;
    RunCommand(&q, &r);
    if (r.err || r.check) {
      err = EIO;
      break;
    }
    const size_t skip = (size_t)(at % kUserData);
    size_t n = kUserData - skip;
    if (n > size - (size_t)done) n = size - (size_t)done;
    memcpy((uint8_t*)buf + done, block + skip, n);
    done += (ssize_t)n;
  }
  Log("read DATA %d %zd %s", first, done, err && !done ? ErrnoName(err) : "ok");
  pthread_mutex_unlock(&g_driveLock);
  if (done == 0 && err) {
    errno = err;
    return -1;
  }
  if (move) SetFdPos(fd, pos + done);
  return done;
}

EXPORT ssize_t read(int fd, void* buf, size_t size) {
  FakeFd f;
  if (FindFd(fd, &f) >= 0) return ReadData(fd, buf, size, f.pos, true);
  CALL_REAL(read, -1, fd, buf, size);
}

EXPORT ssize_t pread(int fd, void* buf, size_t size, off_t pos) {
  FakeFd f;
  if (FindFd(fd, &f) >= 0) return ReadData(fd, buf, size, pos, false);
  CALL_REAL(pread, -1, fd, buf, size, pos);
}

EXPORT ssize_t pread64(int fd, void* buf, size_t size, off64_t pos) {
  FakeFd f;
  if (FindFd(fd, &f) >= 0) return ReadData(fd, buf, size, pos, false);
  CALL_REAL(pread64, -1, fd, buf, size, pos);
}

static off_t Seek(int fd, const FakeFd* f, int64_t offset, int whence) {
  int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f->pos : -1;
  if (whence == SEEK_END) {
    pthread_mutex_lock(&g_driveLock);
    base = (int64_t)g_drive.leadout * kUserData;
    pthread_mutex_unlock(&g_driveLock);
  }
  if (base < 0 || base + offset < 0) {
    errno = EINVAL;
    return -1;
  }
  SetFdPos(fd, base + offset);
  return (off_t)(base + offset);
}

EXPORT off_t lseek(int fd, off_t offset, int whence) {
  FakeFd f;
  if (FindFd(fd, &f) >= 0) return Seek(fd, &f, offset, whence);
  CALL_REAL(lseek, -1, fd, offset, whence);
}

EXPORT off64_t lseek64(int fd, off64_t offset, int whence) {
  FakeFd f;
  if (FindFd(fd, &f) >= 0) return Seek(fd, &f, offset, whence);
  CALL_REAL(lseek64, -1, fd, offset, whence);
}
