// Generator methods and the random-number reports: the method keyword table read from
// OSENV.QRX_RNG_METHOD, the state sizes of the methods, and the report filter with its
// severity, message-level and allowance options. Clock seeds live in zrngseed.h.
#pragma once

#include "support/hostif.h"

#include <cstdint>
#include <initializer_list>

// Method codes of OSENV.QRX_RNG_METHOD (there is no code 5).
enum ZrngMethod : int32_t {
  ZRNG_HARDWARE = 1,
  ZRNG_MT1998 = 2,
  ZRNG_MTHYBRID = 3,
  ZRNG_MT2002 = 4,
  ZRNG_MT64 = 6,
  ZRNG_MH3 = 7,
  ZRNG_XOR64 = 8,
  ZRNG_XOR128 = 9,
  ZRNG_XOR1024 = 10,
  ZRNG_XOR4096 = 11,
  ZRNG_XORGENS = 12,
  ZRNG_R123 = 13,
};

// Report severities.
enum ZrngSeverity : int32_t {
  ZRNG_SEV_ZERO = 0,
  ZRNG_SEV_CHANGE = 1,
  ZRNG_SEV_NOTE = 2,
  ZRNG_SEV_WARNING = 3,
  ZRNG_SEV_ERROR = 4,
};

// Status codes of the random-number reports (texts are the host's).
inline constexpr uint32_t kZrngHybrid2002 = 0x8C7FE80Au; // seed multiple of 8192: 2002 seeding
inline constexpr uint32_t kZrngNoMethod = 0x8C7FE814u;   // method not offered; MT2002 used
inline constexpr uint32_t kZrngNoHardware = 0x8C7FE815u; // hardware generator not available
inline constexpr uint32_t kZrngClockSeed = 0x8C7FE81Eu;  // a clock seed was made
inline constexpr uint32_t kZrngFoldedSeed = 0x8C7FE81Fu; // a seed was folded into 31 bits

// The generator method asked for by OSENV.QRX_RNG_METHOD; 3 (MTHYBRID) when absent or
// unknown.
[[nodiscard]] int32_t zrngopt();

// Reports a status through the kernel's journal, filtered by OSENV.QRX_RNG_SEVERITY and
// OSENV.QRX_RNG_MESSAGES and limited by OSENV.QRX_RNG_NOTE_LIMIT / _ERROR_LIMIT. Returns 0,
// or the journal's non-zero result of formatting the report.
[[nodiscard]] int32_t zrngmsg(int32_t severity, uint32_t status,
                              std::initializer_list<HostMsgArg> values = {});

// Size in bytes of the state of a method for the general entry zrngfnc.
[[nodiscard]] int32_t zrngsize(int32_t method);
