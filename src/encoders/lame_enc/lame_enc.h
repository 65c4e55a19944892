// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// liblame_enc.so: Obrin's MP3 encoder library, a thin stream interface over libmp3lame.
//
// The program binds the six entry points at run time (dlopen + dlsym by the names below), so
// this header is the whole contract. All structures are packed to 1-byte alignment and use
// fixed-width types: a DWORD of the classic interface is uint32_t here, a BOOL int32_t.
//
// Input PCM
//   Always interleaved signed 16-bit little-endian samples, TWO channels (left, right), at
//   LHV1.dwSampleRate. Mono output (nMode 3) mixes the two channels down ((L + R) / 2).
//
// Sample rates
//   dwSampleRate is the input rate; dwReSampleRate, when not 0, is the output rate and
//   libmp3lame resamples. When dwReSampleRate is 0 the output keeps the input rate. Both must
//   be MPEG audio rates: 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100 or 48000.
//   The MPEG version follows from the output rate; dwMpegVersion is informational only, as
//   is dwPsyModel.
//
// Presets (nPreset). A named preset stands for a sound the user picked, so whatever it fixes
// wins over the fields; everything it does not fix (mode, rates, header bits, bNoRes, ...)
// comes from the fields. "Fields as given" means: bEnableVBR 0 gives CBR at dwBitrate;
// bEnableVBR 1 gives VBR (nVbrMethod) at nVBRQuality with dwBitrate as the lowest and
// dwMaxBitrate as the highest bitrate (0 = no limit). Algorithm quality is libmp3lame's -q
// (0 best/slowest .. 9 fastest); nQuality, when not 0, overrides a preset's.
//     0 Normal          fields as given, library default algorithm quality.
//     1 Low             fields as given, algorithm quality 7 (lame -f).
//     2 High            fields as given, algorithm quality 2 (lame -h).
//     3 Voice           fields as given, but mono output and a 12 kHz lowpass.
//     4 R3mix           lame --preset r3mix (VBR -V 3 with r3mix tuning); fixes VBR and
//                       bitrates (dwBitrate, dwMaxBitrate, nVBRQuality ignored).
//     5 Very high       fields as given, algorithm quality 0. With Obrin's defaults (VBR on,
//                       quality 2, 128..192 kbps, bNoRes 1) this is
//                       lame -V 2 -b 128 -B 192 --nores. (libmp3lame's VBR searches as
//                       thoroughly at its default quality; CBR takes about four times as long
//                       as with Normal.)
//     6 Standard        lame --preset standard (-V 2, full bitrate range); fixes VBR.
//     7 Fast standard   lame --preset fast standard (same as Standard in libmp3lame 3.100).
//     8 Extreme         lame --preset extreme (-V 0); fixes VBR.
//     9 Fast extreme    lame --preset fast extreme (same as Extreme in libmp3lame 3.100).
//    10 Insane          lame --preset insane (CBR 320 kbps); fixes bitrate, VBR off.
//    11 ABR             lame --preset <kbps>: average bitrate at dwVbrAbr_bps / 1000 kbps, or
//                       dwBitrate when dwVbrAbr_bps is 0; bEnableVBR and nVBRQuality ignored.
//    12 CBR             lame --preset cbr <dwBitrate>: CBR with the preset tuning; VBR off.
//   Presets 1000..5000 fix mode, CBR bitrate and output rate (dwReSampleRate, nMode and the
//   VBR fields are ignored); 6000..10000 fix mode and CBR bitrate and keep the requested
//   output rate:
//  1000 Phone           mono, 16 kbps, 8000 Hz, lowpass 3.2 kHz.
//  2000 SW              mono, 24 kbps, 11025 Hz, lowpass 4.8 kHz.
//  3000 AM              mono, 40 kbps, 16000 Hz, lowpass 7.2 kHz.
//  4000 FM              joint stereo, 112 kbps, 32000 Hz, lowpass 15 kHz.
//  5000 Voice (new)     mono, 56 kbps, 32000 Hz, lowpass 12 kHz.
//  6000 Radio           joint stereo, 112 kbps, lowpass 15 kHz.
//  7000 Tape            joint stereo, 128 kbps, lowpass 17 kHz.
//  8000 HiFi            joint stereo, 160 kbps, library lowpass.
//  9000 CD              stereo, 192 kbps, library lowpass.
// 10000 Studio          stereo, 256 kbps, library lowpass.
//   Any other preset number is rejected (BE_ERR_INVALID_FORMAT_PARAMETERS). -1 (no preset)
//   is the same as 0.
//
// Other fields
//   nMode           0 stereo, 1 joint stereo, 2 dual channel (encoded as stereo by
//                   libmp3lame), 3 mono; anything else is rejected.
//   dwBitrate, dwMaxBitrate  kbps; libmp3lame takes the nearest bitrate the MPEG version
//                   allows. A maximum below the minimum is raised to the minimum. dwBitrate 0
//                   means 128 kbps where a bitrate is needed (CBR, ABR) and no VBR minimum.
//   nVBRQuality     0 (best) .. 9; values outside are clamped.
//   nVbrMethod      -1 none (CBR even with bEnableVBR 1), 0 default, 1 old (lame vbr-old),
//                   2 new, 3 mtrh (0, 2 and 3 are libmp3lame's default VBR), 4 ABR (mean from
//                   dwVbrAbr_bps, or dwBitrate when 0; dwBitrate/dwMaxBitrate bound it when
//                   they lie below/above the mean). Anything else is rejected.
//   dwEmphasis      0 none, 1 50/15 us, 3 CCITT J.17.
//   bPrivate, bCRC, bCopyright, bOriginal  the matching header bits (bCRC adds the 16-bit
//                   frame CRC).
//   bNoRes          1 disables the bit reservoir: every frame carries all of its own audio
//                   data, so frames can be cut or decoded on their own, at some cost in
//                   quality per bit.
//   bStrictIso      strict ISO compliance (lame --strictly-enforce-ISO).
//   nQuality        0: the preset's or library's algorithm quality. Otherwise the classic
//                   encoding: low byte q (0..9) with the high byte its complement (~q & 0xFF),
//                   e.g. 0xFD02 for q 2; a plain value 1..9 is also taken as q. Anything else
//                   is rejected.
//   bWriteVBRHeader accepted and not needed: every stream reserves its info frame (below).
//
// Info frame
//   Every stream starts with a placeholder frame that beWriteVBRHeader later turns into the
//   Xing (VBR/ABR) or Info (CBR) frame with the LAME extension: frame and byte counts, seek
//   table, encoder delay and padding (so decoders trim exactly to the input length). Until then
//   the placeholder decodes as one frame of silence. CBR frames too small to hold the info
//   frame (under about 160 bytes: the Phone and SW presets) get neither placeholder nor info
//   frame.
//
// Threads
//   Streams are independent and calls on one stream are serialised, so misuse from several
//   threads cannot corrupt it; stale, closed or foreign handles are detected and answered with
//   BE_ERR_INVALID_HANDLE.
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define BE_EXPORT __attribute__((visibility("default")))

typedef uint32_t BE_ERR;
#define BE_ERR_SUCCESSFUL 0x00000000u
#define BE_ERR_INVALID_FORMAT 0x00000001u
#define BE_ERR_INVALID_FORMAT_PARAMETERS 0x00000002u
#define BE_ERR_NO_MORE_HANDLES 0x00000003u
#define BE_ERR_INVALID_HANDLE 0x00000004u
#define BE_ERR_BUFFER_TOO_SMALL 0x00000005u

#define BE_CONFIG_LAME 256
#define BE_CONFIG_STRUCT_VERSION 1
#define BE_CONFIG_STRUCT_SIZE 331

#define BE_MP3_MODE_STEREO 0
#define BE_MP3_MODE_JSTEREO 1
#define BE_MP3_MODE_DUALCHANNEL 2
#define BE_MP3_MODE_MONO 3

// dwMpegVersion values.
#define BE_MPEG1 1
#define BE_MPEG2 0

// nPreset values.
#define LQP_NOPRESET (-1)
#define LQP_NORMAL_QUALITY 0
#define LQP_LOW_QUALITY 1
#define LQP_HIGH_QUALITY 2
#define LQP_VOICE_QUALITY 3
#define LQP_R3MIX 4
#define LQP_VERYHIGH_QUALITY 5
#define LQP_STANDARD 6
#define LQP_FAST_STANDARD 7
#define LQP_EXTREME 8
#define LQP_FAST_EXTREME 9
#define LQP_INSANE 10
#define LQP_ABR 11
#define LQP_CBR 12
#define LQP_PHONE 1000
#define LQP_SW 2000
#define LQP_AM 3000
#define LQP_FM 4000
#define LQP_VOICE 5000
#define LQP_RADIO 6000
#define LQP_TAPE 7000
#define LQP_HIFI 8000
#define LQP_CD 9000
#define LQP_STUDIO 10000

// nVbrMethod values.
#define VBR_METHOD_NONE (-1)
#define VBR_METHOD_DEFAULT 0
#define VBR_METHOD_OLD 1
#define VBR_METHOD_NEW 2
#define VBR_METHOD_MTRH 3
#define VBR_METHOD_ABR 4

#pragma pack(push, 1)

// The LAME form of the configuration block; every unused byte should be zero.
typedef struct {
  uint32_t dwConfig;  // BE_CONFIG_LAME
  union {
    struct {
      uint32_t dwStructVersion;  // BE_CONFIG_STRUCT_VERSION
      uint32_t dwStructSize;     // BE_CONFIG_STRUCT_SIZE
      uint32_t dwSampleRate;     // input rate, Hz
      uint32_t dwReSampleRate;   // output rate, Hz; 0 = the input rate
      int32_t nMode;             // BE_MP3_MODE_*
      uint32_t dwBitrate;        // kbps: CBR rate, or lowest VBR rate
      uint32_t dwMaxBitrate;     // kbps: highest VBR rate, 0 = no limit
      int32_t nPreset;           // LQP_*
      uint32_t dwMpegVersion;    // BE_MPEG1/BE_MPEG2, informational
      uint32_t dwPsyModel;       // informational
      uint32_t dwEmphasis;       // 0, 1 or 3
      int32_t bPrivate;
      int32_t bCRC;
      int32_t bCopyright;
      int32_t bOriginal;
      int32_t bWriteVBRHeader;  // accepted, not needed
      int32_t bEnableVBR;
      int32_t nVBRQuality;  // 0..9
      uint32_t dwVbrAbr_bps;
      int32_t nVbrMethod;  // VBR_METHOD_*
      int32_t bNoRes;
      int32_t bStrictIso;
      uint16_t nQuality;
      uint8_t btReserved[237];
    } LHV1;
    uint8_t raw[327];
  } format;
} BE_CONFIG, *PBE_CONFIG;

// Filled by beVersion. 265 bytes.
typedef struct {
  uint8_t byDLLMajorVersion;  // this library's interface version
  uint8_t byDLLMinorVersion;
  uint8_t byMajorVersion;  // libmp3lame's version
  uint8_t byMinorVersion;
  uint8_t byDay;  // this library's release date
  uint8_t byMonth;
  uint16_t wYear;
  char zHomepage[129];   // libmp3lame's home page, NUL-terminated
  uint8_t byAlphaLevel;  // libmp3lame's alpha and beta levels, 0 for a release
  uint8_t byBetaLevel;
  uint8_t byMMXEnabled;  // 1 when libmp3lame was built with SIMD code
  uint8_t btReserved[125];
} BE_VERSION, *PBE_VERSION;

#pragma pack(pop)

// Opaque stream handle; never 0 for a stream that was opened.
typedef struct BeStreamToken* HBE_STREAM;

// Checks the configuration and opens a stream. On success (0) *dwSamples is the number of
// 16-bit samples (both channels together, always even) to pass per beEncodeChunk call at most,
// *dwBufferSize the output buffer size in bytes that every beEncodeChunk and beDeinitStream
// call of this stream needs, and *phbeStream the handle. On failure no stream exists and the
// outputs are zero.
BE_EXPORT BE_ERR beInitStream(PBE_CONFIG pbeConfig, uint32_t* dwSamples, uint32_t* dwBufferSize,
                              HBE_STREAM* phbeStream);

// Encodes nSamples 16-bit samples (even, at most *dwSamples of beInitStream) from pSamples into
// pOutput (at least *dwBufferSize bytes); *pdwOutput = bytes produced, possibly 0. Too many
// samples give BE_ERR_BUFFER_TOO_SMALL, an odd count or null pointers
// BE_ERR_INVALID_FORMAT_PARAMETERS; nothing is encoded then.
BE_EXPORT BE_ERR beEncodeChunk(HBE_STREAM hbeStream, uint32_t nSamples, const int16_t* pSamples,
                               uint8_t* pOutput, uint32_t* pdwOutput);

// Flushes the stream: the last frames go to pOutput (at least *dwBufferSize bytes) and
// *pdwOutput is their byte count. Keeps what beWriteVBRHeader needs. A stream is flushed once;
// afterwards beEncodeChunk and beDeinitStream answer BE_ERR_INVALID_HANDLE.
BE_EXPORT BE_ERR beDeinitStream(HBE_STREAM hbeStream, uint8_t* pOutput, uint32_t* pdwOutput);

// Releases the stream; the handle is invalid afterwards.
BE_EXPORT BE_ERR beCloseStream(HBE_STREAM hbeStream);

// Fills the version block.
BE_EXPORT void beVersion(PBE_VERSION pbeVersion);

// Writes the info frame of a flushed stream into the closed file lpszFileName in place of the
// stream's placeholder frame. The file must hold exactly that stream's bytes from its start,
// optionally followed by a 128-byte ID3v1 tag ("TAG"), which stays as it is. Returns 0 when
// written; non-zero, touching nothing, when no flushed stream matches the file or the file
// cannot be read and written. Each flushed stream's frame is written at most once; the last
// eight flushed streams are remembered.
BE_EXPORT BE_ERR beWriteVBRHeader(const char* lpszFileName);

// Types for binding the entry points with dlsym.
typedef BE_ERR (*BEINITSTREAM)(PBE_CONFIG, uint32_t*, uint32_t*, HBE_STREAM*);
typedef BE_ERR (*BEENCODECHUNK)(HBE_STREAM, uint32_t, const int16_t*, uint8_t*, uint32_t*);
typedef BE_ERR (*BEDEINITSTREAM)(HBE_STREAM, uint8_t*, uint32_t*);
typedef BE_ERR (*BECLOSESTREAM)(HBE_STREAM);
typedef void (*BEVERSION)(PBE_VERSION);
typedef BE_ERR (*BEWRITEVBRHEADER)(const char*);

#define TEXT_BEINITSTREAM "beInitStream"
#define TEXT_BEENCODECHUNK "beEncodeChunk"
#define TEXT_BEDEINITSTREAM "beDeinitStream"
#define TEXT_BECLOSESTREAM "beCloseStream"
#define TEXT_BEVERSION "beVersion"
#define TEXT_BEWRITEVBRHEADER "beWriteVBRHeader"

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(BE_CONFIG) == BE_CONFIG_STRUCT_SIZE, "BE_CONFIG must be 331 bytes");
static_assert(offsetof(BE_CONFIG, format.LHV1.dwStructVersion) == 4);
static_assert(offsetof(BE_CONFIG, format.LHV1.dwSampleRate) == 12);
static_assert(offsetof(BE_CONFIG, format.LHV1.nMode) == 20);
static_assert(offsetof(BE_CONFIG, format.LHV1.nPreset) == 32);
static_assert(offsetof(BE_CONFIG, format.LHV1.bPrivate) == 48);
static_assert(offsetof(BE_CONFIG, format.LHV1.bEnableVBR) == 68);
static_assert(offsetof(BE_CONFIG, format.LHV1.nVbrMethod) == 80);
static_assert(offsetof(BE_CONFIG, format.LHV1.bNoRes) == 84);
static_assert(offsetof(BE_CONFIG, format.LHV1.nQuality) == 92);
static_assert(offsetof(BE_CONFIG, format.LHV1.btReserved) == 94);
static_assert(sizeof(BE_VERSION) == 265, "BE_VERSION must be 265 bytes");
static_assert(offsetof(BE_VERSION, zHomepage) == 8);
#endif
