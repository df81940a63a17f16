// The method keyword table, the state sizes and the report filter of the random-number
// library. The named values live in the host's registry (reached through qknr*); the
// texts of the status codes are the host's.
#include "numerics/zrngopt.h"

#include "support/qknr.h"

namespace {

constexpr QknrKeyword kMethods[] = {{U"TRNG", ZRNG_HARDWARE},
                                    {U"RDRAND", ZRNG_HARDWARE},
                                    {U"HARDWARE", ZRNG_HARDWARE},
                                    {U"HARD", ZRNG_HARDWARE},
                                    {U"MT1998", ZRNG_MT1998},
                                    {U"MTHYBRID", ZRNG_MTHYBRID},
                                    {U"MT2002", ZRNG_MT2002},
                                    {U"MT32", ZRNG_MT2002},
                                    {U"MT64", ZRNG_MT64},
                                    {U"MH3", ZRNG_MH3},
                                    {U"XOR64", ZRNG_XOR64},
                                    {U"XOR128", ZRNG_XOR128},
                                    {U"XOR1024", ZRNG_XOR1024},
                                    {U"XOR4096", ZRNG_XOR4096},
                                    {U"XORGENS", ZRNG_XORGENS},
                                    {U"R123", ZRNG_R123},
                                    {nullptr, 0}};

constexpr QknrKeyword kSeverities[] = {{U"ERROR", 4},  {U"WARN", 3}, {U"WARNING", 3}, {U"NOTE", 2},
                                       {U"CHANGE", 1}, {U"ZERO", 0}, {nullptr, 0}};

constexpr QknrKeyword kMessageLevels[] = {
    {U"NO", 9},      {U"NONE", 9},     {U"ERROR", 4},  {U"ERRORS", 4},  {U"WARN", 3},
    {U"WARNING", 3}, {U"WARNINGS", 3}, {U"CHANGE", 1}, {U"CHANGED", 1}, {U"CHANGES", 1},
    {U"NOTE", 0},    {U"NOTES", 0},    {U"YES", 0},    {U"ALL", 0},     {nullptr, 0}};

} // namespace

int32_t zrngopt() { return qknrlook(U"OSENV.QRX_RNG_METHOD", 0, ZRNG_MTHYBRID, kMethods); }

int32_t zrngsize(int32_t method) {
  switch (method) {
  case ZRNG_MT64:
    return 2504;
  case ZRNG_MH3:
    return 8;
  case ZRNG_XOR64:
  case ZRNG_XOR128:
  case ZRNG_XOR1024:
  case ZRNG_XOR4096:
    return 520;
  case ZRNG_XORGENS:
    return 536;
  case ZRNG_R123:
    return 56;
  default:
    return 2500;
  }
}

int32_t zrngmsg(int32_t severity, uint32_t status, std::initializer_list<HostMsgArg> values) {
  QkHandle* qk = Exported_QKHandle;
  QkJournal* journal = qk ? qk->journal : nullptr;
  if (!journal)
    return 0;
  if (severity < ZRNG_SEV_NOTE) {
    severity = qknrlook(U"OSENV.QRX_RNG_SEVERITY", 0, severity, kSeverities);
    if (severity < ZRNG_SEV_NOTE) {
      int32_t level = qknrlook(U"OSENV.QRX_RNG_MESSAGES", 0, 1, kMessageLevels);
      if (severity < level)
        return 0;
    }
  }
  if (severity <= ZRNG_SEV_NOTE) {
    if (qknrlimit(U"OSENV.QRX_RNG_NOTE_LIMIT", 0, 100) < 0)
      return 0;
    severity = ZRNG_SEV_NOTE;
  } else if (qknrlimit(U"OSENV.QRX_RNG_ERROR_LIMIT", 0, 100) < 0) {
    return 0;
  }
  uint32_t rc = qklStatusValues(journal, severity, status, values.begin(),
                                static_cast<int32_t>(values.size()));
  if (rc != 0) {
    qklStatusToJnl(journal, ZRNG_SEV_ERROR, rc);
    return static_cast<int32_t>(rc);
  }
  return 0;
}
