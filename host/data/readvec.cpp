// Read vectors: a list of (variable, offset, length, kind) entries declared once and
// applied to every observation; the formatted values they deliver; and the host's
// variable-name rewriting (zname). Values are fetched from the input's typed columns for
// the current observation: exactly what xobsnum/xobschar deliver, without a call per value.
#include "host/data/readvec.h"

#include "host/data/csvfile.h"
#include "host/data/dataset.h"
#include "host/data/serviceresult.h"
#include "host/output/numformat.h"
#include "host/supervisor.h"
#include "host/textcase.h"
#include "support/threadscratch.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

struct HostReadVector {
  struct Entry {
    int32_t number;
    int32_t offset;
    int32_t length;
    int32_t type; // 8 value, 4 formatted
    bool numeric;
  };
  uint32_t magic = 0;
  HostDataSet* data = nullptr;
  int32_t capacity = 0;
  bool ended = false;
  std::vector<Entry> entries;
};

namespace qrxhost {
namespace {

constexpr uint32_t kLiveVector = 0x52445643u; // marks a vector that has not been released

HostReadVector* live(HostReadVector* v) { return v && v->magic == kLiveVector ? v : nullptr; }

void putText(char* out, int32_t width, const char* text, size_t length) {
  size_t n = std::min(length, static_cast<size_t>(width));
  std::memcpy(out, text, n);
  std::memset(out + n, ' ', static_cast<size_t>(width) - n);
}

int32_t vgeti(HostDataSet* data, int32_t capacity, HostReadVector** out) {
  if (out)
    *out = nullptr;
  if (!data || !out || capacity < 0 || dataSetServices()->xdsnvar(data) < 0)
    return -1;
  auto* v = new HostReadVector;
  v->magic = kLiveVector;
  v->data = data;
  v->capacity = capacity;
  v->entries.reserve(static_cast<size_t>(capacity));
  *out = v;
  return 0;
}

int32_t vgetd(HostReadVector* vector, int32_t number, int32_t offset, int32_t, int32_t length,
              int32_t type) {
  HostReadVector* v = live(vector);
  if (!v || v->ended || offset < 0 || length <= 0 || (type != 8 && type != 4))
    return -1;
  // More entries than the vector was started for is the caller's sizing fault.
  if (static_cast<int32_t>(v->entries.size()) >= v->capacity)
    return codeOf(ServiceResult::TooManyEntries);
  HostVariable* desc = nullptr;
  if (dataSetServices()->xvname(v->data, number, &desc) != 0 || !desc)
    return codeOf(ServiceResult::UnknownVariable);
  bool numeric = desc->type == 1;
  if (type == 8 && numeric && length != 8)
    return codeOf(ServiceResult::NumericLength);
  v->entries.push_back({number, offset, length, type, numeric});
  return 0;
}

int32_t vgete(HostReadVector* vector) {
  HostReadVector* v = live(vector);
  if (!v)
    return -1;
  v->ended = true;
  return 0;
}

// One entry's value of a held observation, at `index` in the column's storage: the one place
// the read vectors touch the column storage. A formatted number is written as xobsnum's value
// in the default format; a formatted text is the value cut or padded, as xobschar's.
void columnValue(const HostReadVector::Entry& e, const CsvColumn& c, int64_t index, char* at) {
  assert(e.length > 0 && e.offset >= 0 && "an entry vgetd took");
  if (e.numeric) {
    const double x = c.nums[static_cast<size_t>(index)];
    if (e.type == 4) {
      const std::string text = formattedNumber(x, e.length);
      std::memcpy(at, text.data(), static_cast<size_t>(e.length));
    } else {
      std::memcpy(at, &x, sizeof x);
    }
    return;
  }
  const std::string_view text = c.str(index);
  putText(at, e.length, text.data(), text.size());
}

// One entry's value: from the input's values when there is a current observation, else
// what the per-value services give (missing, empty).
void putValue(const HostReadVector& v, const HostReadVector::Entry& e, CsvRows* rows, int64_t obs,
              char* at) {
  if (rows && obs >= 0 && rows->reach(obs)) {
    columnValue(e, rows->column(static_cast<size_t>(e.number - 1)), obs - rows->first(), at);
    return;
  }
  if (e.type == 4) {
    std::string text = formattedValue(v.data, e.number, e.length);
    std::memcpy(at, text.data(), static_cast<size_t>(e.length));
    return;
  }
  HostDataSetServices* ds = dataSetServices();
  if (e.numeric) {
    double value = ds->xobsnum(v.data, e.number);
    std::memcpy(at, &value, sizeof value);
  } else {
    const char* text = nullptr;
    int32_t n = ds->xobschar(v.data, e.number, &text);
    putText(at, e.length, text ? text : "", static_cast<size_t>(std::max(n, 0)));
  }
}

int32_t yvget(HostReadVector* vector, void* record) {
  HostReadVector* v = live(vector);
  if (!v || !v->ended || !record)
    return -1;
  int64_t obs = -1;
  CsvRows* rows = inputRows(v->data, &obs);
  for (const HostReadVector::Entry& e : v->entries)
    putValue(*v, e, rows, obs, static_cast<char*>(record) + e.offset);
  return 0;
}

// `count` records of missing values: numbers missing, texts blank.
void missingRecords(const HostReadVector& v, int64_t count, char* records, int64_t stride) {
  const double missing = hostMissing();
  for (const HostReadVector::Entry& e : v.entries) {
    char* at = records + e.offset;
    for (int64_t i = 0; i < count; ++i, at += stride) {
      if (e.numeric && e.type != 4)
        std::memcpy(at, &missing, sizeof missing);
      else if (e.numeric)
        std::memcpy(at, formattedNumber(missing, e.length).data(), static_cast<size_t>(e.length));
      else
        putText(at, e.length, "", 0);
    }
  }
}

// Entries ahead of the one being copied whose values are fetched into the cache beforehand:
// the values of one entry sit in a column of their own, away from the others', and a wide
// table's columns each start a page of their own, so that without the hint every entry would
// wait for memory.
constexpr size_t kPrefetchEntries = 8;

void prefetchValues(const HostReadVector::Entry& e, const CsvRows& rows, int64_t index, int64_t n) {
  if (!e.numeric)
    return;
  const char* p = reinterpret_cast<const char*>(
      rows.column(static_cast<size_t>(e.number - 1)).nums.data() + index);
  const char* end = p + n * static_cast<int64_t>(sizeof(double));
  for (int lines = 0; p < end && lines < 4; p += 64, ++lines)
    __builtin_prefetch(p);
}

// The held observations index .. index + n - 1 of every entry into records `stride` bytes
// apart, entry by entry (each column in order).
void copyColumns(const HostReadVector& v, const CsvRows& rows, int64_t index, int64_t n,
                 char* records, int64_t stride) {
  assert(index >= 0 && n > 0 && index + n <= rows.end() - rows.first() && "held observations");
  const size_t entries = v.entries.size();
  for (size_t k = 0; k < std::min(entries, kPrefetchEntries); ++k)
    prefetchValues(v.entries[k], rows, index, n);
  for (size_t k = 0; k < entries; ++k) {
    if (k + kPrefetchEntries < entries)
      prefetchValues(v.entries[k + kPrefetchEntries], rows, index, n);
    const HostReadVector::Entry& e = v.entries[k];
    const CsvColumn& c = rows.column(static_cast<size_t>(e.number - 1));
    char* at = records + e.offset;
    if (e.numeric && e.type == 8) { // the common entry: the doubles as they are
      const double* from = c.nums.data() + index;
      for (int64_t i = 0; i < n; ++i, at += stride)
        std::memcpy(at, from + i, sizeof(double));
      continue;
    }
    for (int64_t i = 0; i < n; ++i, at += stride)
      columnValue(e, c, index + i, at);
  }
}

// Observations first .. first + count - 1 (1-based) into records `stride` bytes apart. It
// never reads or moves the read position, so that workers may call it while the main thread
// moves on.
int32_t yvgetn(HostReadVector* vector, int64_t first, int32_t count, void* records,
               int64_t stride) {
  HostReadVector* v = live(vector);
  if (!v || !v->ended || !records || count < 0 || first < 1)
    return -1;
  if (!blockReadable(v->data, first - 1))
    return codeOf(ServiceResult::BlockUnreadable);
  int32_t rc = 0;
  const bool open = withBlockRows(v->data, [&](CsvRows& rows) {
    if (first - 1 + count > rows.table().nobs) {
      rc = codeOf(ServiceResult::PastTheEnd);
      return;
    }
    // Entry by entry, each column in order, a window at a time.
    for (int64_t k = 0; k < count;) {
      const int64_t obs = first - 1 + k;
      if (!rows.reach(obs)) {
        // The file changed since it was first read, or cannot be read again (reported by
        // the data set): the caller ends the step.
        missingRecords(*v, count - k, static_cast<char*>(records) + k * stride, stride);
        rc = codeOf(ServiceResult::FileUnreadable);
        return;
      }
      const int64_t n = std::min(count - k, rows.end() - obs);
      copyColumns(*v, rows, obs - rows.first(), n, static_cast<char*>(records) + k * stride,
                  stride);
      k += n;
    }
  });
  return open ? rc : -2;
}

void vgett(HostReadVector* vector) {
  HostReadVector* v = live(vector);
  if (!v)
    return;
  v->magic = 0;
  delete v;
}

void hostZname(int32_t, char* text, int32_t length) { validName(text, length); }

int32_t vget1v(HostDataSet* data, int32_t number, int32_t width, char* out) {
  HostVariable* desc = nullptr;
  if (!out || width <= 0 || dataSetServices()->xvname(data, number, &desc) != 0)
    return -1;
  std::string text = formattedValue(data, number, width);
  std::memcpy(out, text.data(), static_cast<size_t>(width));
  return 0;
}

} // namespace

std::string formattedText(const char* text, int32_t length, int32_t width) {
  std::string out(static_cast<size_t>(std::max(width, 0)), ' ');
  putText(out.data(), width, text != nullptr ? text : "", static_cast<size_t>(std::max(length, 0)));
  return out;
}

namespace {

// The BEST text of a number without its leading blanks, formatted once for each distinct
// value on a thread: the values of a CLASS variable come back row after row. The table is
// emptied when it reaches kKeptTexts entries, so that continuous values cannot grow it.
constexpr size_t kKeptTexts = size_t{1} << 18;
const std::string& bestText(double value) {
  thread_local ThreadScratch<std::unordered_map<uint64_t, std::string>> keptScratch;
  std::unordered_map<uint64_t, std::string>& kept = keptScratch.get();
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  if (auto it = kept.find(bits); it != kept.end())
    return it->second;
  if (kept.size() >= kKeptTexts)
    kept.clear();
  std::string text = formatBest(value, kBestWidth);
  const size_t lead = text.find_first_not_of(' ');
  text = lead == std::string::npos ? std::string() : text.substr(lead);
  return kept.emplace(bits, std::move(text)).first->second;
}

} // namespace

std::string formattedNumber(double value, int32_t width) {
  const std::string& text = bestText(value);
  return formattedText(text.data(), static_cast<int32_t>(text.size()), width);
}

std::string formattedValue(HostDataSet* data, int32_t number, int32_t width) {
  HostDataSetServices* ds = dataSetServices();
  HostVariable* desc = nullptr;
  if (ds->xvname(data, number, &desc) == 0 && desc && desc->type == 1)
    return formattedNumber(ds->xobsnum(data, number), width);
  if (desc) {
    const char* chars = nullptr;
    int32_t n = ds->xobschar(data, number, &chars);
    return formattedText(chars, n, width);
  }
  return formattedText(nullptr, 0, width);
}

void validName(char* text, int32_t length) {
  if (!text || length <= 0)
    return;
  const std::string rule = asciiUpper(hostOption("VALIDVARNAME").value_or("V7"));
  if (rule == "ANY")
    return;
  int32_t n = length;
  while (n > 0 && text[n - 1] == ' ')
    --n;
  // Each run of characters that cannot be in a name becomes one underscore.
  std::string name;
  bool inRun = false;
  for (int32_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (std::isalnum(c) || c == '_') {
      name += static_cast<char>(c);
      inRun = false;
    } else if (!inRun) {
      name += '_';
      inRun = true;
    }
  }
  if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0])))
    name.insert(name.begin(), '_');
  size_t limit = static_cast<size_t>(rule == "V6" ? std::min(length, 8) : length);
  if (name.size() > limit)
    name.resize(limit);
  putText(text, length, name.data(), name.size());
}

void installReadVectorServices(HostDataSetServices* services) {
  services->xvgeti = vgeti;
  services->xvgetd = vgetd;
  services->xvgete = vgete;
  services->xyvget = yvget;
  services->xyvgetn = yvgetn;
  services->xvgett = vgett;
  services->zname = hostZname;
  services->xvget1v = vget1v;
}

} // namespace qrxhost
