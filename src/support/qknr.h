// Named-value registry routines: read and set host named values (texts, 64-bit integers,
// doubles) with defaults, count an allowance down, and look a keyword up in a list.
// They wrap the kernel handle's registry slots; the registry itself is the host's.
#pragma once

#include "support/hostif.h"

#include <cstdint>
#include <string>

// UTF-8 form of a host-character string of `length` characters.
[[nodiscard]] std::string qkNarrow(const QkChar* text, int32_t length);

// Kernel statuses reported by these routines (texts belong to the host).
inline constexpr uint32_t kQknrBadInteger = 0x8C7FE864u;   // a stored text is not an integer
inline constexpr uint32_t kQknrBadKeyword = 0x8C7FE865u;   // a stored text is not a keyword
inline constexpr uint32_t kQknrLimitReached = 0x8C7FE866u; // an allowance reached 0

// Result of qknrstol for a text that is not a whole number, and the magnitude limit.
inline constexpr int64_t kQknrInvalid = -9007199254740992LL;  // -2^53
inline constexpr int64_t kQknrMagnitude = 9007199254740992LL; // 2^53

// One entry of a keyword list for qknrlook; the list ends with a null keyword.
struct QknrKeyword {
  const QkChar* keyword; // upper case, zero-terminated
  int32_t code;
};

// Every name and text is a 32-bit character string with its length; a length below 1
// means: count up to the terminating zero.

// Reads a text into buffer (capacity characters, always terminated); returns its length,
// 0 when absent, failed, or capacity below 2.
[[nodiscard]] int32_t qknrtget(const QkChar* name, int32_t nameLength, QkChar* buffer,
                               int32_t capacity);
// The same with an 8-bit result (characters above 255 become '?').
[[nodiscard]] int32_t qknrcget(const QkChar* name, int32_t nameLength, char* buffer,
                               int32_t capacity);
// Reads a 64-bit integer (a stored text is converted with qknrstol), else the default.
int64_t qknrlget(const QkChar* name, int32_t nameLength, int64_t defaultValue);
// Reads a double (a stored text is converted when it is wholly a number), else the default.
double qknrdget(const QkChar* name, int32_t nameLength, double defaultValue);
// Set a text, a 64-bit integer or a double; 0 or the kernel status ("not set" gives 0).
[[nodiscard]] uint32_t qknrtset(const QkChar* name, int32_t nameLength, const QkChar* text,
                                int32_t textLength);
uint32_t qknrlset(const QkChar* name, int32_t nameLength, int64_t value);
[[nodiscard]] uint32_t qknrdset(const QkChar* name, int32_t nameLength, double value);
// Counts an allowance down by one and returns what is left: starts from defaultValue when
// nothing is stored, reports when it reaches 0, and stays at -1 once spent.
int64_t qknrlimit(const QkChar* name, int32_t nameLength, int64_t defaultValue);
// Looks the stored text (blanks stripped, upper-cased) up in pairs; returns the code of
// the first equal keyword, else defaultCode (an unknown text is reported and cleared).
[[nodiscard]] int32_t qknrlook(const QkChar* name, int32_t nameLength, int32_t defaultCode,
                               const QknrKeyword* pairs);
// Converts a zero-terminated text holding a whole number (blanks around it, an optional
// sign, an optional "." followed by zeros); kQknrInvalid otherwise; limited to +-2^53.
[[nodiscard]] int64_t qknrstol(const QkChar* text);

// Journal helpers shared with the random-number reports.
// Writes a status code at a level to the journal (no values).
void qklStatusToJnl(QkJournal* journal, int32_t level, uint32_t status);
// Writes a status code with a severity and values to the journal; returns 0 or the
// non-zero status of a formatting failure. Does nothing for a null journal.
uint32_t qklStatusValues(QkJournal* journal, int32_t severity, uint32_t status,
                         const HostMsgArg* values, int32_t count);
