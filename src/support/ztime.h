// The clock of the kernel-client layer: time of day, the bracketed time prefix of journal
// lines, the time as a double with the kernel's periodic time-of-day hook, and a
// microsecond counter. Case mapping and strings are in zcase.h.
#pragma once

#include "support/hostif.h"

#include <cstdint>

// Length of the time prefix "[hh:mm:ss] ".
inline constexpr int32_t kLogTimeLength = 11;
// Flags of bkzAddTimeT: the prefix is written when the first is set and the second is not.
inline constexpr uint32_t kAddTimeStamp = 0x20000u;
inline constexpr uint32_t kAddTimeSuppress = 0x200000u;

// The local time of day: hour and minute, seconds with the microseconds. Returns 0.
[[nodiscard]] int32_t qkztime(int32_t* hour, int32_t* minute, double* seconds);
// Writes "[hh:mm:ss] " and a terminator into a buffer of at least 12 bytes; returns the tens
// part of the seconds times 10.
int32_t bkzGetLogTime(char* buffer);
// Writes the prefix for the given clock fields (the formatter of bkzGetLogTime).
[[nodiscard]] int32_t bkzFormatLogTime(char* buffer, int32_t hour, int32_t minute, int32_t second);
// Copies the terminated text to output, preceded by the time prefix when flags ask for it.
void bkzAddTimeT(const QkChar* text, QkChar* output, void* reserved, uint32_t flags);
// The current time in seconds (seconds + microseconds / 1e6); runs the kernel's time-of-day
// hook at most once every 6 seconds of wall time (and whenever the clock goes back).
double bkztod();
// (seconds AND mask) * 1000000 + microseconds of the current time.
[[nodiscard]] int64_t qkzTimeUsec(int64_t mask);
