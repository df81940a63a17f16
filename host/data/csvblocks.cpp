// The blocks of CSV text read on the threads: cutting the text into blocks, finding their
// records by quote parity, and parsing each block's values straight into the columns. The
// fields are csvrecord.h's; the header, types, errors and windows are csvfile.cpp's.
#include "host/data/csvblocks.h"
#include "host/data/csvrecord.h"
#include "host/workpool.h"
#include "support/hostif.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <exception>
#include <mutex>

#include <fast_float/fast_float.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qrxhost::csvread {
namespace {

// ---- blocks -----------------------------------------------------------------------------

bool lineStart(const Text& x, size_t p) {
  return p == x.start || (p > x.start && x.t[p - 1] == '\n');
}
bool nonEmptyAt(const Text& x, size_t p) {
  const char c = x.t[p];
  return c != '\n' && !(c == '\r' && p + 1 < x.n && x.t[p + 1] == '\n');
}

// A block without quotes, in one pass that looks for quotes and line feeds together, sixteen
// bytes at a time; false (with nothing counted) when the block holds a quote.
bool scanPlainBlock(const Text& x, size_t lo, size_t hi, BlockScan* s) {
  BlockScan r;
  if (lineStart(x, lo) && nonEmptyAt(x, lo))
    ++r.starts[0];
  if (x.start > lo && x.start < hi && nonEmptyAt(x, x.start))
    ++r.starts[0]; // the first line, after a byte-order mark
  auto lineFeed = [&](size_t nl) {
    ++r.newlines;
    if (nl + 1 < hi && nonEmptyAt(x, nl + 1))
      ++r.starts[0];
  };
  size_t p = lo;
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"'), feed = _mm_set1_epi8('\n');
  for (; p + 16 <= hi; p += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x.t + p));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(b, quote)))
      return false;
    for (auto m = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(b, feed))); m; m &= m - 1)
      lineFeed(p + static_cast<size_t>(std::countr_zero(m)));
  }
#endif
  for (; p < hi; ++p) {
    if (x.t[p] == '"')
      return false;
    if (x.t[p] == '\n')
      lineFeed(p);
  }
  *s = r;
  return true;
}

BlockScan scanBlock(const Text& x, size_t lo, size_t hi) {
  BlockScan s;
  if (scanPlainBlock(x, lo, hi, &s))
    return s;
  int parity = 0;
  for (size_t p = lo; p < hi; ++p) {
    if (lineStart(x, p) && nonEmptyAt(x, p))
      ++s.starts[parity];
    const char c = x.t[p];
    if (c == '"') {
      parity ^= 1;
      ++s.quotes;
    } else if (c == '\n') {
      ++s.newlines;
    }
  }
  return s;
}

// Runs fn(b) for every block on up to `threads` threads (the caller's and the process's
// workers), blocks handed out in order; workers the system cannot start or that are busy
// leave their blocks to the others. The first exception
// a block throws (memory that could not be had) stops the handing out and is thrown again
// here, on the caller's thread, once every thread has stopped.
template <class Fn> void forEachBlock(size_t count, int threads, Fn&& fn) {
  std::atomic<size_t> next{0};
  std::exception_ptr failure;
  std::mutex failureLock;
  auto work = [&] {
    try {
      for (size_t b; (b = next.fetch_add(1)) < count;)
        fn(b);
    } catch (...) {
      next.store(count);
      std::lock_guard<std::mutex> lock(failureLock);
      if (!failure)
        failure = std::current_exception();
    }
  };
  const size_t runs = std::min<size_t>(count, static_cast<size_t>(std::max(threads, 1)));
  workRuns(static_cast<int32_t>(runs), [&](int32_t) { work(); });
  if (failure)
    std::rethrow_exception(failure);
}

} // namespace

BlockText::BlockText(const Text& x, size_t lo, size_t end) : view_(x) {
  if (x.file == nullptr)
    return;
  end = std::min(end, x.n);
  ok_ = x.file->mapPiece(lo > 0 ? lo - 1 : 0, end, &piece_);
  view_.t = ok_ ? piece_.origin() : nullptr;
  view_.n = end;
  view_.file = nullptr;
}

std::string notedText(std::string_view v) {
  if (v.size() <= kNotedBytes)
    return std::string(v);
  size_t n = kNotedBytes;
  while (n > 0 && (static_cast<unsigned char>(v[n]) & 0xC0) == 0x80)
    --n; // not inside a character of several bytes
  return std::string(v.substr(0, n)) + "...";
}

uint64_t windowBytes(const CsvReadOptions& options) {
  return std::max<uint64_t>(options.windowBytes ? options.windowBytes : options.holdBytes / 4, 1);
}

namespace {

// A text about as long as the values it holds could need windows: its blocks are cut to fit.
bool mayBeWindowed(const Text& x, const CsvReadOptions& options) {
  return options.holdBytes > 0 && x.n > options.holdBytes / 2;
}

} // namespace

namespace {

constexpr size_t kPieceBlockBytes = size_t{4} << 20;

void markReadEnds(const Text& x, std::vector<Block>& blocks, int threads);

} // namespace

// Cuts the text into blocks and counts them on the threads; fills in where each block's
// records begin among all records and on which line the block begins.
std::vector<Block> layBlocks(const Text& x, const CsvReadOptions& options) {
  const int threads = std::max(options.threads, 1);
  size_t size = options.blockBytes;
  if (size == 0 && mayBeWindowed(x, options)) // blocks small enough for a window of several
    size = std::clamp<size_t>(windowBytes(options) / (static_cast<size_t>(threads) * 2), 64,
                              size_t{64} << 20);
  if (size == 0)
    size = std::clamp<size_t>(x.n / (static_cast<size_t>(threads) * 8), size_t{1} << 20,
                              size_t{64} << 20);
  if (x.file != nullptr) // pieces a few of which fit in memory at once
    size = std::min(size, kPieceBlockBytes);
  std::vector<Block> blocks((x.n + size - 1) / size);
  for (size_t b = 0; b < blocks.size(); ++b) {
    blocks[b].lo = b * size;
    blocks[b].hi = std::min(x.n, blocks[b].lo + size);
  }
  forEachBlock(blocks.size(), threads, [&](size_t b) {
    // the byte before the block and the one after it tell where lines start
    const BlockText v(x, blocks[b].lo, blocks[b].hi + 1);
    if (v.ok())
      blocks[b].scan = scanBlock(v.text(), blocks[b].lo, blocks[b].hi);
    if (options.doneWith)
      options.doneWith(blocks[b].lo, blocks[b].hi);
  });
  int64_t quotes = 0, lines = 1, records = 0;
  for (Block& k : blocks) {
    k.parity = static_cast<int>(quotes & 1);
    k.firstLine = lines;
    k.firstRecord = records;
    k.records = k.scan.starts[k.parity];
    quotes += k.scan.quotes;
    lines += k.scan.newlines;
    records += k.records;
  }
  if (x.file != nullptr)
    markReadEnds(x, blocks, threads);
  return blocks;
}

namespace {

// The first record start in a block (outside quotes, at a line start, not an empty line),
// with the line feeds before it; false when there is none.
bool firstRecordIn(const Text& x, const Block& k, size_t* at, int64_t* newlines) {
  int parity = k.parity;
  *newlines = 0;
  for (size_t p = k.lo; p < k.hi; ++p) {
    if (parity == 0 && lineStart(x, p) && nonEmptyAt(x, p)) {
      *at = p;
      return true;
    }
    if (x.t[p] == '"')
      parity ^= 1;
    else if (x.t[p] == '\n')
      ++*newlines;
  }
  return false;
}

// For a text in pieces: where each block's reading ends, the start of the next block's
// first record (its last record ends before it), so that the piece mapped for the block
// holds all of its records.
void markReadEnds(const Text& x, std::vector<Block>& blocks, int threads) {
  std::vector<uint8_t> found(blocks.size(), 0);
  forEachBlock(blocks.size(), threads, [&](size_t b) {
    Block& k = blocks[b];
    const BlockText v(x, k.lo, k.hi + 1);
    int64_t newlines = 0;
    found[b] = k.records > 0 && v.ok() && firstRecordIn(v.text(), k, &k.recordStart, &newlines);
  });
  size_t next = x.n;
  for (size_t b = blocks.size(); b-- > 0;) {
    blocks[b].readEnd = next;
    if (found[b])
      next = std::min(x.n, blocks[b].recordStart + 2);
  }
}

// Walks the records of a block: onRecord(record index, position, line) parses the record
// at the position and returns false to stop. Marks the block when the records found differ
// from the count made before.
template <class OnRecord> void walkRecords(const Text& x, Block& k, OnRecord&& onRecord) {
  size_t i = k.recordStart;
  int64_t line = k.recordLine;
  for (int64_t r = 0; r < k.records; ++r) {
    if (r > 0) {
      skipEmptyLines(x, &i, &line);
      if (i >= k.hi) {
        k.mismatch = true;
        return;
      }
    }
    if (!onRecord(k.firstRecord + r, &i, &line))
      return;
  }
  skipEmptyLines(x, &i, &line);
  if (i < k.hi)
    k.mismatch = true;
}

// ---- the values -------------------------------------------------------------------------

// Powers of ten held exactly by a double, and as integers.
constexpr double kExactPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
constexpr uint64_t kPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

uint64_t loadEight(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// The value of the first n (0 to 8) decimal digits of eight bytes (first byte lowest), by
// pairs, fours and eights of digits at once.
uint64_t digitsValue(uint64_t w, int n) {
  if (n == 0)
    return 0;
  uint64_t d = (w - 0x3030303030303030) << (8 * (8 - n)); // leading zero digits
  d = d * 10 + (d >> 8);
  return (((d & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
          (((d >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >>
         32;
}

bool endsField(char c) { return c == ',' || c == '\n' || c == '\r'; }

// Sixteen bytes of text as bit masks, bit k standing for byte k.
struct WindowMasks {
  uint32_t nondigit = 0, minus = 0, dot = 0, separator = 0;
};

WindowMasks windowMasks(const char* p) {
  WindowMasks m;
#if defined(__SSE2__)
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i d = _mm_sub_epi8(b, _mm_set1_epi8('0'));
  const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d);
  auto bits = [](__m128i v) { return static_cast<uint32_t>(_mm_movemask_epi8(v)); };
  auto equal = [&](char c) { return _mm_cmpeq_epi8(b, _mm_set1_epi8(c)); };
  m.nondigit = ~bits(digit) & 0xFFFF;
  m.minus = bits(equal('-'));
  m.dot = bits(equal('.'));
  m.separator = bits(_mm_or_si128(_mm_or_si128(equal(','), equal('\n')), equal('\r')));
#else
  for (uint32_t k = 0; k < 16; ++k) {
    m.nondigit |= uint32_t{!isDigit(p[k])} << k;
    m.minus |= uint32_t{p[k] == '-'} << k;
    m.dot |= uint32_t{p[k] == '.'} << k;
    m.separator |= uint32_t{endsField(p[k])} << k;
  }
#endif
  return m;
}

// The common number of a data file, an optional minus, up to eight digits and a fraction of
// up to eight (-12.034567), ending at a separator within sixteen bytes: read as its digits,
// an integer held exactly, divided by an exact power of ten, which one correctly rounded
// division makes the nearest double, the value a full conversion gives. Null for anything
// else (exponents, long numbers, the text's last bytes), left to the full conversion.
// The field's end comes from the window's masks alone, so that the reading of one field
// does not wait on the digits of the one before.
[[gnu::always_inline]] inline const char* plainDecimal(const char* s, const char* e,
                                                       double* value) {
  if (e - s < 32)
    return nullptr;
  const WindowMasks m = windowMasks(s);
  const uint32_t sign = m.minus & 1;
  const uint32_t stops = (m.nondigit & ~sign) | 0x10000;
  const int first = std::countr_zero(stops);
  const bool dot = (m.dot >> first) & 1;
  const int end = dot ? std::countr_zero(stops & (stops - 1)) : first;
  const int whole = first - static_cast<int>(sign);
  const int fraction = dot ? end - first - 1 : 0;
  if (end >= 16 || !((m.separator >> end) & 1) || whole > 8 || fraction > 8 ||
      whole + fraction == 0)
    return nullptr;
  // At most fourteen digits: an integer below 2^53, held exactly.
  const uint64_t mantissa = digitsValue(loadEight(s + sign), whole) * kPowersOfTen[fraction] +
                            digitsValue(loadEight(s + first + 1), fraction);
  // The sign goes in as a bit: a branch on it would be mispredicted on half of the values
  // of a column whose signs are random.
  const double v = static_cast<double>(mantissa) / kExactPowersOfTen[fraction];
  *value = std::bit_cast<double>(std::bit_cast<uint64_t>(v) | uint64_t{sign} << 63);
  return s + end;
}

// Reads an unquoted number in place when the field is one fast_float takes whole and it
// ends at a separator: the common case, read in one pass. Other texts take the full rules.
// Both conversions round correctly, so they give the same bits.
bool fastNumber(const Text& x, size_t* at, double* value, size_t* length) {
  const char* s = x.t + *at;
  const char* e = x.t + x.n;
  if (s == e || !(isDigit(*s) || *s == '-' || *s == '.'))
    return false;
  if (const char* end = plainDecimal(s, e, value)) {
    *length = static_cast<size_t>(end - s);
    *at = static_cast<size_t>(end - x.t);
    return true;
  }
  auto res = fast_float::from_chars(s, e, *value);
  if (res.ec != std::errc() || !std::isfinite(*value))
    return false;
  if (res.ptr != e && !endsField(*res.ptr))
    return false;
  *length = static_cast<size_t>(res.ptr - s);
  *at = static_cast<size_t>(res.ptr - x.t);
  return true;
}

bool atFieldEnd(const Text& x, size_t at) { return at >= x.n || endsField(x.t[at]); }

// The numeric value of a field in a column still numeric; clears `numeric` when the field is
// not a number and keeps the first number the host cannot hold.
double numericValue(const Field& f, int64_t record, int64_t line, ColumnStats* cs) {
  if (f.pairs > 0) { // a quote in the value: text
    cs->numeric = false;
    return hostMissing();
  }
  const std::string_view tv = trimView(f.raw);
  double v = hostMissing();
  if (isMissingText(tv) || isMissingNumberText(tv))
    return v;
  switch (classifyNumber(tv, &v)) {
  case NumberText::kNumber:
    return v;
  case NumberText::kNotNumber:
    cs->numeric = false;
    cs->textRecord = record;
    cs->textLine = line;
    cs->text = notedText(tv);
    break;
  case NumberText::kTooLarge:
    if (cs->badRecord < 0) {
      cs->badRecord = record;
      cs->badLine = line;
      cs->badText = notedText(tv);
    }
    break;
  }
  return hostMissing();
}

// Counts a value's length; keeps the first value longer than a value may be.
void noteLength(ColumnStats* cs, size_t length, int64_t record, int64_t line) {
  if (length > kLongestValue) {
    if (cs->longRecord < 0) {
      cs->longRecord = record;
      cs->longLine = line;
      cs->longBytes = length;
    }
    length = 0;
  }
  cs->bytes += length + 1;
  cs->longest = std::max(cs->longest, static_cast<int32_t>(length));
}

// The common record, read without splitting it into fields first: the road for data files
// of numbers, and of numbers beside columns of unquoted texts.
struct PlainRecords {
  std::vector<double*> outs;    // each column's numbers (null: not held)
  std::vector<uint8_t> numeric; // each column numeric so far in the block
  std::vector<int32_t> lengths; // the record's field lengths until it is taken whole
  std::vector<uint64_t> bytes;  // as ColumnStats, for the records read here
  std::vector<int32_t> longest;
  std::vector<uint8_t> valued; // as ColumnStats, for columns whose numbers are not held
  double missing = 0;
};

// The end of an unquoted field: the first separator, line end or quote (a quote then fails the
// caller's check for a separator, sending the record to the full rules), or the text's end.
const char* plainText(const char* q, const char* e) {
#if defined(__SSE2__)
  for (; e - q >= 16; q += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    auto equal = [&](char c) { return _mm_cmpeq_epi8(b, _mm_set1_epi8(c)); };
    const __m128i stop =
        _mm_or_si128(_mm_or_si128(equal(','), equal('\n')), _mm_or_si128(equal('\r'), equal('"')));
    if (const auto m = static_cast<uint32_t>(_mm_movemask_epi8(stop)))
      return q + std::countr_zero(m);
  }
#endif
  while (q < e && !endsField(*q) && *q != '"')
    ++q;
  return q;
}

// Past the end of a record whose last field ends at `end`: a line feed, CRLF or the text's
// end (counting the line); null when something else follows.
const char* pastRecordEnd(const Text& x, const char* end, int64_t* line) {
  const char* const e = x.t + x.n;
  if (end < e && *end == '\r' && end + 1 < e && end[1] == '\n')
    ++end;
  if (end == e)
    return end;
  if (*end != '\n')
    return nullptr;
  ++*line;
  return end + 1;
}

// The fields of a plain record from q: in a numeric column each a number plainDecimal or
// fastNumber takes, or empty, written to the storage; in a column of texts an unquoted
// text. The lengths are noted. Returns the end of the last field, or null at anything else
// (a text in a numeric column, quotes, fewer fields than columns).
const char* plainFields(const Text& x, const char* q, size_t row, PlainRecords& p) {
  const char* const e = x.t + x.n;
  double* const* outs = p.outs.data();
  int32_t* lengths = p.lengths.data();
  const size_t last = p.outs.size() - 1;
  for (size_t c = 0;; ++c) {
    if (!p.numeric[c]) {
      const char* end = plainText(q, e);
      Field f;
      f.raw = std::string_view(q, static_cast<size_t>(end - q));
      const size_t length = characterSize(f);
      if (length > kLongestValue)
        return nullptr; // the full rules note it
      lengths[c] = static_cast<int32_t>(length);
      if (c == last)
        return end;
      if (end == e || *end != ',')
        return nullptr;
      q = end + 1;
      continue;
    }
    double v = p.missing;
    const char* end = plainDecimal(q, e, &v);
    if (!end) {
      size_t i = static_cast<size_t>(q - x.t), length = 0;
      if (!atFieldEnd(x, i) && !fastNumber(x, &i, &v, &length))
        return nullptr;
      end = x.t + i;
    }
    lengths[c] = static_cast<int32_t>(end - q);
    if (double* out = outs[c])
      out[row] = v;
    else
      p.valued[c] |= static_cast<uint8_t>(!isHostMissing(v));
    if (c == last)
      return end;
    if (end == e || *end != ',')
      return nullptr;
    q = end + 1;
  }
}

// Reads the record at *at when its fields are plain (plainFields), there are as many as
// columns and the record ends at a line feed (or CRLF, or the text's end). False for any
// other record, which the general road then reads from the same place: the numbers written
// here are written again, and no length is counted until the record is whole.
bool plainRecord(const Text& x, size_t* at, int64_t* line, size_t row, PlainRecords& p) {
  const char* end = plainFields(x, x.t + *at, row, p);
  if (!end || !(end = pastRecordEnd(x, end, line)))
    return false;
  for (size_t c = 0; c < p.lengths.size(); ++c) {
    p.bytes[c] += static_cast<uint64_t>(p.lengths[c]) + 1;
    p.longest[c] = std::max(p.longest[c], p.lengths[c]);
  }
  *at = static_cast<size_t>(end - x.t);
  return true;
}

PlainRecords plainRecords(std::vector<CsvColumn>& columns) {
  PlainRecords p;
  p.missing = hostMissing();
  for (CsvColumn& col : columns)
    p.outs.push_back(col.nums.data());
  p.numeric.assign(columns.size(), 1);
  p.lengths.assign(columns.size(), 0);
  p.bytes.assign(columns.size(), 0);
  p.longest.assign(columns.size(), 0);
  p.valued.assign(columns.size(), 0);
  return p;
}

// Adds the lengths counted on the plain road to the block's column statistics.
void addPlainLengths(const PlainRecords& p, std::vector<ColumnStats>& stats) {
  for (size_t c = 0; c < p.bytes.size(); ++c) {
    stats[c].bytes += p.bytes[c];
    stats[c].longest = std::max(stats[c].longest, p.longest[c]);
    stats[c].valued = stats[c].valued || p.valued[c] != 0;
  }
}

// The data rows of one block: numbers into the storage, types, lengths, and the first ragged
// row and syntax error.
void readBlockValues(const Text& x, Block& k, const Storage& to) {
  std::vector<CsvColumn>& columns = *to.columns;
  const int64_t ncol = static_cast<int64_t>(columns.size());
  k.columns.assign(columns.size(), ColumnStats());
  const double missing = hostMissing();
  PlainRecords plain = plainRecords(columns);
  walkRecords(x, k, [&](int64_t record, size_t* i, int64_t* line) {
    const int64_t recordLine = *line;
    const size_t row = static_cast<size_t>(record - 1 - to.base);
    if (record > 0 && to.lines)
      to.lines[row] = static_cast<int32_t>(recordLine);
    if (record > 0 && ncol > 0 && plainRecord(x, i, line, row, plain))
      return true;
    auto onField = [&](int64_t c, const Field& f, size_t* at) {
      if (record == 0 || c >= ncol)
        return false;
      ColumnStats& cs = k.columns[static_cast<size_t>(c)];
      double* out = columns[static_cast<size_t>(c)].nums.data();
      if (at) { // offered the field before it is split: an empty field or a plain number
        size_t length = 0;
        double v = missing;
        if (!atFieldEnd(x, *at) && !(cs.numeric && fastNumber(x, at, &v, &length)))
          return false;
        if (out)
          out[row] = v;
        else
          cs.valued = cs.valued || !isHostMissing(v);
        noteLength(&cs, length, record, recordLine);
        return true;
      }
      noteLength(&cs, characterSize(f), record, recordLine);
      if (cs.numeric) {
        const double v = numericValue(f, record, recordLine, &cs);
        if (out)
          out[row] = v;
        else
          cs.valued = cs.valued || !isHostMissing(v);
      }
      return true;
    };
    const int64_t fields = parseRecord(x, i, line, &k.syntax, onField);
    if (fields < 0)
      return false;
    if (record > 0 && fields != ncol && k.raggedRecord < 0) {
      k.raggedRecord = record;
      k.raggedLine = recordLine;
      k.raggedCount = fields;
    }
    for (size_t c = 0; c < k.columns.size(); ++c)
      plain.numeric[c] = k.columns[c].numeric;
    return true;
  });
  addPlainLengths(plain, k.columns);
}

// The character columns' values of one block, written at the block's place in each buffer.
// Writes a character value at the column's cursor for observation `row`.
void putCharacter(CsvColumn& col, uint64_t& pos, size_t row, const Field& f) {
  col.offsets[row] = pos;
  char* end = writeCharacter(f, characterSize(f), col.chars.data() + pos);
  *end = '\0';
  pos = static_cast<uint64_t>(end + 1 - col.chars.data());
}

// The record at *at when no field is quoted and there are as many fields as columns: its
// fields split at the separators into `fields` and the position moved past it. False for any
// other record, left to the full rules.
bool plainSplit(const Text& x, size_t* at, int64_t* line, std::vector<Field>& fields) {
  const char* q = x.t + *at;
  const char* const e = x.t + x.n;
  for (size_t c = 0;; ++c) {
    const char* end = plainText(q, e);
    fields[c].raw = std::string_view(q, static_cast<size_t>(end - q));
    if (c + 1 == fields.size()) {
      if (!(end = pastRecordEnd(x, end, line)))
        return false;
      *at = static_cast<size_t>(end - x.t);
      return true;
    }
    if (end == e || *end != ',')
      return false;
    q = end + 1;
  }
}

void writeBlockCharacters(const Text& x, Block& k, const Storage& to,
                          std::vector<uint64_t>& cursor) {
  std::vector<CsvColumn>& columns = *to.columns;
  std::vector<Field> fields(columns.size());
  walkRecords(x, k, [&](int64_t record, size_t* i, int64_t* line) {
    const size_t row = static_cast<size_t>(record - 1 - to.base);
    if (record > 0 && !fields.empty() && plainSplit(x, i, line, fields)) {
      for (size_t c = 0; c < columns.size(); ++c)
        if (!columns[c].numeric)
          putCharacter(columns[c], cursor[c], row, fields[c]);
      return true;
    }
    auto onField = [&](int64_t c, const Field& f, size_t* at) {
      if (at || record == 0)
        return false;
      CsvColumn& col = columns[static_cast<size_t>(c)];
      if (!col.numeric)
        putCharacter(col, cursor[static_cast<size_t>(c)], row, f);
      return true;
    };
    return parseRecord(x, i, line, &k.syntax, onField) >= 0;
  });
}

} // namespace

void writeCharacters(const Text& x, std::vector<Block>& blocks, const Storage& to,
                     const CsvReadOptions& options) {
  const std::vector<CsvColumn>& columns = *to.columns;
  std::vector<std::vector<uint64_t>> cursors(blocks.size(),
                                             std::vector<uint64_t>(columns.size(), 0));
  std::vector<uint64_t> at(columns.size(), 0);
  for (size_t b = 0; b < blocks.size(); ++b) {
    if (blocks[b].columns.empty())
      continue;
    cursors[b] = at;
    for (size_t c = 0; c < columns.size(); ++c)
      at[c] += blocks[b].columns[c].bytes;
  }
  forEachBlock(blocks.size(), options.threads, [&](size_t b) {
    if (blocks[b].records > 0)
      if (const BlockText v(x, blocks[b].lo, blocks[b].readEnd); v.ok())
        writeBlockCharacters(v.text(), blocks[b], to, cursors[b]);
    if (options.doneWith)
      options.doneWith(blocks[b].lo, blocks[b].hi);
  });
}

// The blocks' records on the threads: the values, lines, types and errors.
void readBlocks(const Text& x, std::vector<Block>& blocks, const Storage& to,
                const CsvReadOptions& options) {
  // The count and its report move together under one lock: a thread reporting a smaller
  // count after another's larger one would run the shown count backwards.
  std::mutex progressLock;
  int64_t rowsRead = 0;
  forEachBlock(blocks.size(), options.threads, [&](size_t b) {
    Block& k = blocks[b];
    int64_t newlines = 0;
    if (k.records > 0) {
      const BlockText v(x, k.lo, k.readEnd);
      if (!v.ok() || !firstRecordIn(v.text(), k, &k.recordStart, &newlines)) {
        k.mismatch = true;
      } else {
        k.recordLine = k.firstLine + newlines;
        readBlockValues(v.text(), k, to);
      }
    }
    if (options.doneWith)
      options.doneWith(k.lo, k.hi);
    if (options.progress) {
      // the observations of the block: its records less the header line
      const int64_t rows = std::max<int64_t>(k.firstRecord + k.records - 1, 0) -
                           std::max<int64_t>(k.firstRecord - 1, 0);
      std::lock_guard<std::mutex> lock(progressLock);
      rowsRead += rows;
      options.progress(rowsRead);
    }
  });
}

} // namespace qrxhost::csvread
