// Named-value registry routines over the kernel handle's get/set slots, with failure
// reports and an optional debug echo to the kernel's journal. The registry's storage and
// the texts of the kernel statuses are the host's.
#include "support/qknr.h"

#include "support/zcase.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

std::string qkNarrow(const QkChar* text, int32_t length) {
  std::string out;
  for (int32_t i = 0; i < length; ++i) {
    uint32_t c = text[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x110000) {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += '?';
    }
  }
  return out;
}

namespace {

constexpr QkChar kDebugName[] = U"OSENV.QRX_QKNR_DEBUG";

QkHandle* handle() { return Exported_QKHandle; }

QkJournal* journalOf(QkHandle* qk) { return qk ? qk->journal : nullptr; }

[[nodiscard]] int32_t lengthOf(const QkChar* text, int32_t length) {
  if (length >= 1 || !text)
    return text ? length : 0;
  int32_t n = 0;
  while (text[n] != 0)
    ++n;
  return n;
}

[[nodiscard]] bool debugOn(QkHandle* qk) {
  return qk && qk->nameValueExists &&
         qk->nameValueExists(qk, kDebugName, static_cast<int32_t>(std::size(kDebugName) - 1)) != 0;
}

void journalLine(QkHandle* qk, uint32_t status, int32_t level, const std::string& text) {
  QkJournal* j = journalOf(qk);
  if (j && j->report)
    j->report(j, status, level, text.c_str());
}

// "<service> failed for <name> in <routine>", then the kernel status.
void reportFailure(QkHandle* qk, const char* service, const std::string& name, const char* routine,
                   uint32_t status, const char* extra = nullptr) {
  if (!journalOf(qk))
    return;
  std::string text = std::string(service) + " failed for " + name + " in " + routine;
  if (extra)
    text += extra;
  journalLine(qk, 0, 4, text);
  if (status != 0)
    qklStatusToJnl(journalOf(qk), 4, status);
}

void echo(QkHandle* qk, const char* routine, const std::string& name, const std::string& rest) {
  journalLine(qk, 0, 2, std::string(routine) + "(" + name + ")" + rest);
}

[[nodiscard]] bool wrongType(uint32_t status) {
  return status == kQkWrongType || status == kQkWrongType2;
}

// Reads the value as text into buffer (capacity characters including the terminator).
// Returns the kernel status; *length receives the characters read.
[[nodiscard]] uint32_t readText(QkHandle* qk, const QkChar* name, int32_t nameLength,
                                QkChar* buffer, int32_t capacity, int32_t* length) {
  *length = 0;
  if (!buffer)
    return kQkNotSet;
  if (capacity >= 1)
    buffer[0] = 0;
  if (!qk || !qk->qkNameValueGet || capacity < 2)
    return kQkNotSet;
  QkNameValue v{};
  v.type = QK_VALUE_TEXT;
  v.text = buffer;
  v.capacity = capacity - 1;
  uint32_t status = qk->qkNameValueGet(qk, name, nameLength, &v);
  if (status == 0) {
    int32_t n = v.length;
    if (n < 0)
      n = 0;
    if (n > capacity - 1)
      n = capacity - 1;
    *length = n;
  }
  buffer[*length] = 0;
  return status;
}

[[nodiscard]] int32_t textRead(const char* routine, const QkChar* name, int32_t nameLength,
                               QkChar* buffer, int32_t capacity) {
  QkHandle* qk = handle();
  nameLength = lengthOf(name, nameLength);
  int32_t length = 0;
  uint32_t status = readText(qk, name, nameLength, buffer, capacity, &length);
  if (status != 0 && status != kQkNotSet && capacity >= 2)
    reportFailure(qk, "qkNameValueGet", qkNarrow(name, nameLength), routine, status);
  return length;
}

// Integer read shared by qknrlget and qknrlimit: *found tells whether a usable value was
// stored, *unreadable that something was stored but could not be read as an integer; a
// stored text that is not an integer is reported with kQknrBadInteger.
[[nodiscard]] int64_t integerRead(QkHandle* qk, const QkChar* name, int32_t nameLength,
                                  int64_t defaultValue, const char* routine, bool* found,
                                  bool* unreadable) {
  *found = false;
  *unreadable = false;
  if (!qk || !qk->qkNameValueGet)
    return defaultValue;
  QkNameValue v{};
  v.type = QK_VALUE_INT64;
  uint32_t status = qk->qkNameValueGet(qk, name, nameLength, &v);
  if (status == 0) {
    *found = true;
    return v.l;
  }
  if (status == kQkNotSet)
    return defaultValue;
  *unreadable = true;
  if (!wrongType(status)) {
    reportFailure(qk, "qkNameValueGet", qkNarrow(name, nameLength), routine, status);
    return defaultValue;
  }
  QkChar text[101];
  int32_t length = 0;
  status = readText(qk, name, nameLength, text, 101, &length);
  if (status != 0) {
    if (status != kQkNotSet)
      reportFailure(qk, "qkNameValueGet", qkNarrow(name, nameLength), routine, status);
    return defaultValue;
  }
  int64_t value = qknrstol(text);
  if (value == kQknrInvalid) {
    std::string t = qkNarrow(text, length), n = qkNarrow(name, nameLength);
    HostMsgArg args[] = {HostMsgArg(t.c_str(), static_cast<int32_t>(t.size())),
                         HostMsgArg(n.c_str(), static_cast<int32_t>(n.size())),
                         HostMsgArg(static_cast<long long>(-kQknrMagnitude)),
                         HostMsgArg(static_cast<long long>(kQknrMagnitude))};
    qklStatusValues(journalOf(qk), 3, kQknrBadInteger, args, 4);
    return defaultValue;
  }
  *unreadable = false;
  *found = true;
  return value;
}

[[nodiscard]] uint32_t setValue(QkHandle* qk, const QkChar* name, int32_t nameLength,
                                const QkNameValue& v) {
  if (!qk || !qk->qkNameValueSet)
    return 0;
  return qk->qkNameValueSet(qk, name, nameLength, &v, 1);
}

[[nodiscard]] uint32_t setText(QkHandle* qk, const char* routine, const QkChar* name,
                               int32_t nameLength, const QkChar* text, int32_t textLength) {
  QkNameValue v{};
  v.type = QK_VALUE_TEXT;
  v.text = const_cast<QkChar*>(text);
  v.capacity = textLength;
  v.length = textLength;
  uint32_t status = setValue(qk, name, nameLength, v);
  if (status == kQkNotSet)
    return 0;
  if (status != 0)
    reportFailure(qk, "qkNameValueSet", qkNarrow(name, nameLength), routine, status);
  return status;
}

// Sets a number; when the registry holds a text under the name, stores the number's text.
[[nodiscard]] uint32_t setNumber(QkHandle* qk, const char* routine, const QkChar* name,
                                 int32_t nameLength, const QkNameValue& v, const char* asText) {
  uint32_t status = setValue(qk, name, nameLength, v);
  if (wrongType(status)) {
    QkChar text[32];
    int32_t n = 0;
    for (; asText[n] != 0 && n < 31; ++n)
      text[n] = static_cast<unsigned char>(asText[n]);
    text[n] = 0;
    return setText(qk, routine, name, nameLength, text, n);
  }
  if (status == kQkNotSet)
    return 0;
  if (status != 0)
    reportFailure(qk, "qkNameValueSet", qkNarrow(name, nameLength), routine, status);
  return status;
}

[[nodiscard]] bool isBlank(QkChar c) { return c == U' ' || c == U'\t'; }

} // namespace

void qklStatusToJnl(QkJournal* journal, int32_t level, uint32_t status) {
  if (journal && journal->report)
    journal->report(journal, status, level, nullptr);
}

uint32_t qklStatusValues(QkJournal* journal, int32_t severity, uint32_t status,
                         const HostMsgArg* values, int32_t count) {
  if (!journal)
    return 0;
  if (journal->reportStatus)
    return journal->reportStatus(journal, severity, status, values, count);
  if (!journal->report)
    return 0;
  // A journal without the formatting entry gets the values as a plain list.
  std::string text;
  char buf[40];
  for (int32_t i = 0; i < count; ++i) {
    if (i)
      text += ", ";
    const HostMsgArg& a = values[i];
    if (a.kind == HostMsgArg::Int) {
      std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(a.i));
      text += buf;
    } else if (a.kind == HostMsgArg::Dbl) {
      std::snprintf(buf, sizeof buf, "%.17g", a.d);
      text += buf;
    } else if (a.s) {
      text.append(a.s, static_cast<size_t>(a.len));
    }
  }
  journal->report(journal, status, severity, text.c_str());
  return 0;
}

int64_t qknrstol(const QkChar* text) {
  if (!text)
    return kQknrInvalid;
  const QkChar* p = text;
  while (isBlank(*p))
    ++p;
  bool negative = false;
  if (*p == U'-' || *p == U'+') {
    negative = *p == U'-';
    ++p;
  }
  if (*p < U'0' || *p > U'9')
    return kQknrInvalid;
  const double limit = static_cast<double>(kQknrMagnitude);
  double value = 0.0;
  for (; *p >= U'0' && *p <= U'9'; ++p) {
    value = value * 10.0 + static_cast<double>(*p - U'0');
    if (value > limit)
      return negative ? -kQknrMagnitude : kQknrMagnitude;
  }
  if (*p == U'.') {
    ++p;
    while (*p == U'0')
      ++p;
  }
  while (isBlank(*p))
    ++p;
  if (*p != 0)
    return kQknrInvalid;
  int64_t v = static_cast<int64_t>(value);
  return negative ? -v : v;
}

int32_t qknrtget(const QkChar* name, int32_t nameLength, QkChar* buffer, int32_t capacity) {
  int32_t length = textRead("qknrtget", name, nameLength, buffer, capacity);
  QkHandle* qk = handle();
  if (debugOn(qk)) {
    int32_t n = lengthOf(name, nameLength);
    echo(qk, "qknrtget", qkNarrow(name, n), "='" + qkNarrow(buffer, length) + "'");
  }
  return length;
}

int32_t qknrcget(const QkChar* name, int32_t nameLength, char* buffer, int32_t capacity) {
  if (!buffer || capacity < 1)
    return 0;
  buffer[0] = 0;
  if (capacity < 2)
    return 0;
  std::u32string wide(static_cast<size_t>(capacity), U'\0');
  int32_t length = textRead("qknrcget", name, nameLength, wide.data(), capacity);
  for (int32_t i = 0; i < length; ++i)
    buffer[i] = wide[i] < 256 ? static_cast<char>(wide[i]) : '?';
  buffer[length] = 0;
  QkHandle* qk = handle();
  if (debugOn(qk)) {
    int32_t n = lengthOf(name, nameLength);
    echo(qk, "qknrcget", qkNarrow(name, n), "='" + std::string(buffer, length) + "'");
  }
  return length;
}

int64_t qknrlget(const QkChar* name, int32_t nameLength, int64_t defaultValue) {
  QkHandle* qk = handle();
  nameLength = lengthOf(name, nameLength);
  bool found = false, unreadable = false;
  int64_t value = integerRead(qk, name, nameLength, defaultValue, "qknrlget", &found, &unreadable);
  if (debugOn(qk))
    echo(qk, "qknrlget", qkNarrow(name, nameLength),
         std::string("=").append(std::to_string(value)));
  return value;
}

double qknrdget(const QkChar* name, int32_t nameLength, double defaultValue) {
  QkHandle* qk = handle();
  nameLength = lengthOf(name, nameLength);
  double value = defaultValue;
  if (qk && qk->qkNameValueGet) {
    QkNameValue v{};
    v.type = QK_VALUE_DOUBLE;
    uint32_t status = qk->qkNameValueGet(qk, name, nameLength, &v);
    if (status == 0) {
      value = v.d;
    } else if (wrongType(status)) {
      QkChar text[101];
      int32_t length = 0;
      if (readText(qk, name, nameLength, text, 101, &length) == 0) {
        std::string t = qkNarrow(text, length);
        char* end = nullptr;
        double d = std::strtod(t.c_str(), &end);
        while (end && (*end == ' ' || *end == '\t'))
          ++end;
        if (end && end != t.c_str() && *end == 0)
          value = d;
      }
    } else if (status != kQkNotSet) {
      reportFailure(qk, "qkNameValueGet", qkNarrow(name, nameLength), "qknrdget", status);
    }
  }
  if (debugOn(qk)) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "=%20g", value);
    echo(qk, "qknrdget", qkNarrow(name, nameLength), buf);
  }
  return value;
}

uint32_t qknrtset(const QkChar* name, int32_t nameLength, const QkChar* text, int32_t textLength) {
  QkHandle* qk = handle();
  nameLength = lengthOf(name, nameLength);
  static constexpr QkChar kEmpty[] = U"";
  if (!text)
    text = kEmpty;
  textLength = lengthOf(text, textLength);
  uint32_t status = setText(qk, "qknrtset", name, nameLength, text, textLength);
  if (debugOn(qk))
    echo(qk, "qknrtset", qkNarrow(name, nameLength), "='" + qkNarrow(text, textLength) + "'");
  return status;
}

uint32_t qknrlset(const QkChar* name, int32_t nameLength, int64_t value) {
  QkHandle* qk = handle();
  nameLength = lengthOf(name, nameLength);
  QkNameValue v{};
  v.type = QK_VALUE_INT64;
  v.l = value;
  char text[25];
  std::snprintf(text, sizeof text, "%lli", static_cast<long long>(value));
  uint32_t status = setNumber(qk, "qknrlset", name, nameLength, v, text);
  if (debugOn(qk))
    echo(qk, "qknrlset", qkNarrow(name, nameLength), std::string("=") + text);
  return status;
}

uint32_t qknrdset(const QkChar* name, int32_t nameLength, double value) {
  QkHandle* qk = handle();
  nameLength = lengthOf(name, nameLength);
  QkNameValue v{};
  v.type = QK_VALUE_DOUBLE;
  v.d = value;
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  uint32_t status = setNumber(qk, "qknrdset", name, nameLength, v, text);
  if (debugOn(qk)) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "=%20g", value);
    echo(qk, "qknrdset", qkNarrow(name, nameLength), buf);
  }
  return status;
}

int64_t qknrlimit(const QkChar* name, int32_t nameLength, int64_t defaultValue) {
  QkHandle* qk = handle();
  nameLength = lengthOf(name, nameLength);
  constexpr int64_t kNoCount = -666;
  bool found = false, unreadable = false;
  int64_t count = integerRead(qk, name, nameLength, kNoCount, "qknrlimit", &found, &unreadable);
  if (!found) {
    if (unreadable)
      reportFailure(qk, "qkNameValueGet", qkNarrow(name, nameLength), "qknrlimit", 0,
                    ". The existing value may not be a QKChar string or QRXLONG.");
    count = defaultValue;
  }
  int64_t next = count - 1;
  if (next < -1)
    next = -1;
  if (next == 0) {
    std::string n = qkNarrow(name, nameLength);
    HostMsgArg arg(n.c_str(), static_cast<int32_t>(n.size()));
    qklStatusValues(journalOf(qk), 2, kQknrLimitReached, &arg, 1);
  }
  qknrlset(name, nameLength, next);
  if (debugOn(qk))
    echo(qk, "qknrlimit", qkNarrow(name, nameLength),
         std::string("=").append(std::to_string(next)));
  return next;
}

int32_t qknrlook(const QkChar* name, int32_t nameLength, int32_t defaultCode,
                 const QknrKeyword* pairs) {
  QkHandle* qk = handle();
  nameLength = lengthOf(name, nameLength);
  QkChar value[100];
  int32_t length = textRead("qknrlook", name, nameLength, value, 100);
  length = qkzstrp(value, length);
  qkzstup(value, length);
  value[length] = 0;
  if (length == 0)
    return defaultCode;
  const bool debug = debugOn(qk);
  const std::string nameText = qkNarrow(name, nameLength);
  const std::string valueText = qkNarrow(value, length);
  for (const QknrKeyword* p = pairs; p && p->keyword; ++p) {
    int32_t kl = lengthOf(p->keyword, 0);
    bool same = kl == length;
    for (int32_t i = 0; same && i < kl; ++i)
      same = p->keyword[i] == value[i];
    if (debug)
      echo(qk, "qknrlook", nameText,
           " '" + valueText + (same ? "' == '" : "' != '") + qkNarrow(p->keyword, kl) + "' " +
               std::to_string(p->code));
    if (same) {
      if (debug)
        echo(qk, "qknrlook", nameText,
             std::string("=")
                 .append(std::to_string(p->code))
                 .append(" '")
                 .append(valueText)
                 .append("'"));
      return p->code;
    }
  }
  if (journalOf(qk)) {
    HostMsgArg args[] = {HostMsgArg(valueText.c_str(), static_cast<int32_t>(valueText.size())),
                         HostMsgArg(nameText.c_str(), static_cast<int32_t>(nameText.size()))};
    qklStatusValues(journalOf(qk), 3, kQknrBadKeyword, args, 2);
    static constexpr QkChar kEmpty[] = U"";
    QkNameValue v{};
    v.type = QK_VALUE_TEXT;
    v.text = const_cast<QkChar*>(kEmpty);
    uint32_t status = setValue(qk, name, nameLength, v);
    if (status != 0 && status != kQkNotSet)
      reportFailure(qk, "qkNameValueSet", nameText, "qknrtset", status);
  }
  if (debug)
    echo(qk, "qknrlook", nameText,
         std::string("=")
             .append(std::to_string(defaultCode))
             .append(" '")
             .append(valueText)
             .append("'"));
  return defaultCode;
}
