// CSV files as tables: the header and its names, the errors in the order a reader meets
// them, the columns' types and lengths, the windows of a table too large to hold, and the
// texts written back. Cutting the text into blocks and parsing them on the threads is
// csvblocks.cpp's, the fields csvrecord.h's, mapping the file csvmap.cpp's.
#include "host/data/csvfile.h"
#include "host/data/csvblocks.h"
#include "host/data/csvmap.h"
#include "host/data/csvrecord.h"
#include "host/utf8text.h"
#include "support/hostif.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <set>

namespace qrxhost {

using namespace csvread;

namespace {

const char kChanged[] = "the file changed while it was being read";

// ---- the table --------------------------------------------------------------------------

// The header record: the variables' names, checked. Syntax errors anywhere in the file come
// before the name checks, so the caller checks names after the blocks are read.
bool readHeader(const Text& x, std::vector<Field>* fields, int64_t* line, CsvError* error,
                size_t* end) {
  size_t i = x.start;
  *line = 1;
  skipEmptyLines(x, &i, line);
  if (i >= x.n) {
    *error = {1, "the file has no header line of variable names"};
    return false;
  }
  SyntaxError err;
  const int64_t headerLine = *line;
  parseRecord(x, &i, line, &err, [&](int64_t, const Field& f, size_t* at) {
    if (!at)
      fields->push_back(f);
    return false;
  });
  *end = i;
  *line = headerLine;
  if (err.set)
    *error = err.error;
  return !err.set;
}

// The name of a column whose header is empty, as files written with a row index have in
// their first column: VARn after its column number, with _2, _3, ... added while another
// column of the header has that name.
std::string unnamedColumnName(const std::vector<Field>& fields, size_t c) {
  std::set<std::string> given;
  for (const Field& f : fields)
    given.insert(nameUpper(std::string(trimView(unescaped(f)))));
  const std::string base = "VAR" + std::to_string(c + 1);
  std::string name = base;
  for (int k = 2; given.count(nameUpper(name)) != 0; ++k)
    name = base + "_" + std::to_string(k);
  return name;
}

bool checkNames(const std::vector<Field>& fields, int64_t line, CsvTable* out, CsvError* error) {
  std::map<std::string, int> seen;
  const int ln = static_cast<int>(line);
  for (size_t c = 0; c < fields.size(); ++c) {
    std::string name(trimView(unescaped(fields[c])));
    if (!validUtf8(name)) {
      *error = {ln,
                "the name of column " + std::to_string(c + 1) + " holds a byte that is not UTF-8"};
      return false;
    }
    if (name.empty()) {
      name = unnamedColumnName(fields, c);
      out->unnamed.push_back(c);
    }
    if (name.size() > 32) {
      *error = {ln, "the name " + name +
                        " is longer than 32 bytes (a letter outside ASCII takes two or more)"};
      return false;
    }
    if (!seen.emplace(nameUpper(name), static_cast<int>(c)).second) {
      *error = {ln, "the name " + name + " is given twice"};
      return false;
    }
    out->columns[c].name = name;
  }
  return true;
}

// The error the file's text holds, in the order a reader going through it would meet them:
// the first syntax error, then the names, then the first ragged row, then the first number
// beyond the largest double in a column that stays numeric.
bool syntaxError(const std::vector<Block>& blocks, CsvError* error) {
  for (const Block& k : blocks)
    if (k.syntax.set) {
      *error = k.syntax.error;
      return true;
    }
  return false;
}

bool rowErrors(const std::vector<Block>& blocks, const std::vector<CsvColumn>& columns,
               CsvError* error) {
  for (const Block& k : blocks)
    if (k.mismatch) {
      *error = {0, kChanged};
      return true;
    }
  for (const Block& k : blocks)
    for (size_t c = 0; c < k.columns.size(); ++c)
      if (const ColumnStats& cs = k.columns[c]; cs.longRecord >= 0) {
        *error = {static_cast<int>(cs.longLine),
                  "the value of column " + std::to_string(c + 1) + " (" + columns[c].name +
                      ") is " + std::to_string(cs.longBytes) + " bytes long, more than the " +
                      std::to_string(kLongestValue) + " bytes a value may have"};
        return true;
      }
  for (const Block& k : blocks)
    if (k.raggedRecord >= 0) {
      *error = {static_cast<int>(k.raggedLine), "the row has " + std::to_string(k.raggedCount) +
                                                    " values but the header names " +
                                                    std::to_string(columns.size()) + " variables"};
      return true;
    }
  const ColumnStats* best = nullptr;
  size_t bestColumn = 0;
  for (const Block& k : blocks) {
    for (size_t c = 0; c < k.columns.size(); ++c) {
      const ColumnStats& cs = k.columns[c];
      if (columns[c].numeric && cs.badRecord >= 0 && (!best || cs.badRecord < best->badRecord)) {
        best = &cs;
        bestColumn = c;
      }
    }
    if (best)
      break;
  }
  if (!best)
    return false;
  *error = {static_cast<int>(best->badLine),
            "column " + std::to_string(bestColumn + 1) + " (" + columns[bestColumn].name +
                "): the value \"" + best->badText +
                "\" is a number beyond the largest that can be held"};
  return true;
}

// Settles each column's type: numeric when every block found only numbers in it.
void settleTypes(const std::vector<Block>& blocks, std::vector<CsvColumn>& columns) {
  for (const Block& k : blocks)
    for (size_t c = 0; c < k.columns.size(); ++c)
      columns[c].numeric = columns[c].numeric && k.columns[c].numeric;
}

// Frees the numbers of character columns and sizes their byte buffers and lengths. True when
// some column is character.
bool sizeCharacterColumns(const std::vector<Block>& blocks, std::vector<CsvColumn>& columns,
                          int64_t nobs, ColumnStorage where) {
  bool anyCharacter = false;
  for (size_t c = 0; c < columns.size(); ++c) {
    CsvColumn& col = columns[c];
    if (col.numeric)
      continue;
    uint64_t bytes = 0;
    int32_t longest = 1;
    for (const Block& k : blocks) {
      if (k.columns.empty())
        continue;
      bytes += k.columns[c].bytes;
      longest = std::max(longest, k.columns[c].longest);
    }
    anyCharacter = true;
    col.length = longest;
    col.nums.release();
    col.chars.allocate(std::max<uint64_t>(bytes, 1), where);
    col.offsets.allocate(static_cast<size_t>(nobs) + 1, where);
    col.offsets[static_cast<size_t>(nobs)] = bytes;
  }
  return anyCharacter;
}

// The character columns' lengths when their values are not held: the longest value, at least 1.
void settleCharacterLengths(const std::vector<Block>& blocks, std::vector<CsvColumn>& columns) {
  for (size_t c = 0; c < columns.size(); ++c) {
    if (columns[c].numeric)
      continue;
    int32_t longest = 1;
    for (const Block& k : blocks)
      if (!k.columns.empty())
        longest = std::max(longest, k.columns[c].longest);
    columns[c].length = longest;
  }
}

} // namespace

// The text behind a table read window by window, its blocks as the first reading settled
// them, and the windows: runs of blocks, each holding about the window's share of values.
struct CsvSource {
  std::shared_ptr<const void> owner;          // keeps the text alive (the mapped file)
  const std::atomic<bool>* changed = nullptr; // set when the text vanished under the reader
  std::function<void(size_t begin, size_t end)> doneWith;
  Text x;
  int threads = 1;
  std::vector<Block> blocks;
  std::vector<size_t> windowBlock; // first block of each window; one more: blocks.size()
  std::vector<int64_t> windowRow;  // first observation of each window; one more: nobs
};

namespace {

int64_t firstRowOf(const Block& k) { return std::max<int64_t>(k.firstRecord - 1, 0); }
int64_t endRowOf(const Block& k) { return std::max<int64_t>(k.firstRecord + k.records - 1, 0); }

// The values' bytes of a block when held: 8 per number, a character value's bytes and NUL
// and 8 for its offset.
uint64_t heldBytes(const Block& k, const std::vector<CsvColumn>& columns) {
  const uint64_t rows = static_cast<uint64_t>(endRowOf(k) - firstRowOf(k));
  uint64_t bytes = 0;
  for (size_t c = 0; c < columns.size(); ++c)
    bytes += columns[c].numeric || k.columns.empty() ? 8 * rows : 8 * rows + k.columns[c].bytes;
  return bytes;
}

// Cuts the blocks into windows of about `limit` bytes of values (at least one block each).
void layWindows(CsvSource* src, const std::vector<CsvColumn>& columns, uint64_t limit,
                int64_t nobs) {
  uint64_t held = 0;
  for (size_t b = 0; b < src->blocks.size(); ++b) {
    const uint64_t bytes = heldBytes(src->blocks[b], columns);
    if (b == 0 || (held > 0 && held + bytes > limit)) {
      src->windowBlock.push_back(b);
      src->windowRow.push_back(firstRowOf(src->blocks[b]));
      held = 0;
    }
    held += bytes;
  }
  src->windowBlock.push_back(src->blocks.size());
  src->windowRow.push_back(nobs);
}

// The whole road: every value parsed into the columns at once.
void holdValues(const Text& x, std::vector<Block>& blocks, const CsvReadOptions& options,
                CsvTable* out) {
  if (sizeCharacterColumns(blocks, out->columns, out->nobs, ColumnStorage::OwnPages))
    writeCharacters(x, blocks, Storage{&out->columns, nullptr, 0}, options);
}

// The windowed road: the blocks as settled are kept for parsing windows later.
void keepSource(const Text& x, std::vector<Block>& blocks, const CsvReadOptions& options,
                CsvTable* out) {
  settleCharacterLengths(blocks, out->columns);
  auto src = std::make_shared<CsvSource>();
  src->x = x;
  src->threads = options.threads;
  src->doneWith = options.doneWith;
  src->blocks = std::move(blocks);
  layWindows(src.get(), out->columns, windowBytes(options), out->nobs);
  out->source = std::move(src);
}

// The header of a text, read from the text itself or, for a text in pieces, from a piece at
// its start long enough to hold the header record; `head` keeps that piece, which the
// names point into.
bool readHeaderOf(const Text& x, std::vector<Field>* names, int64_t* line,
                  std::unique_ptr<BlockText>* head, CsvError* error) {
  size_t end = 0;
  if (x.file == nullptr)
    return readHeader(x, names, line, error, &end);
  for (size_t m = size_t{1} << 20;; m *= 2) {
    *head = std::make_unique<BlockText>(x, 0, m);
    if (!(*head)->ok()) {
      *error = {0, x.file->readError()};
      return false;
    }
    names->clear();
    const bool ok = readHeader((*head)->text(), names, line, error, &end);
    if (m >= x.n || (ok && end < m))
      return ok;
  }
}

bool parseText(const Text& x, const CsvReadOptions& options, CsvTable* out, CsvError* error) {
  std::vector<Field> names;
  int64_t headerLine = 1;
  std::unique_ptr<BlockText> head;
  if (!readHeaderOf(x, &names, &headerLine, &head, error))
    return false;
  std::vector<Block> blocks = layBlocks(x, options);
  int64_t records = 0;
  for (const Block& k : blocks)
    records += k.records;
  if (records < 1) {
    *error = {0, kChanged};
    return false;
  }
  out->nobs = records - 1;
  out->columns.clear();
  out->unnamed.clear();
  out->columns.resize(names.size());
  // Beyond the bound, the first reading settles types, lengths, lines and errors only.
  const uint64_t values = static_cast<uint64_t>(out->nobs) * names.size() * 8;
  const bool windowed = options.holdBytes > 0 && values > options.holdBytes;
  if (!windowed)
    for (CsvColumn& col : out->columns)
      col.nums.allocate(static_cast<size_t>(out->nobs), ColumnStorage::OwnPages);
  out->lines.assign(static_cast<size_t>(out->nobs), 0);
  readBlocks(x, blocks, Storage{&out->columns, out->lines.data(), 0}, options);
  if (syntaxError(blocks, error) || !checkNames(names, headerLine, out, error))
    return false;
  settleTypes(blocks, out->columns);
  if (rowErrors(blocks, out->columns, error))
    return false;
  if (windowed)
    keepSource(x, blocks, options, out);
  else
    holdValues(x, blocks, options, out);
  return true;
}

// Parses window w of a table (names, types and lengths copied from the table); null when the
// text no longer holds what the first reading found.
std::shared_ptr<const CsvWindow> loadWindow(const CsvTable& table, size_t w,
                                            std::shared_ptr<CsvColumnPool> pool) {
  const CsvSource& src = *table.source;
  std::vector<Block> blocks(src.blocks.begin() + static_cast<ptrdiff_t>(src.windowBlock[w]),
                            src.blocks.begin() + static_cast<ptrdiff_t>(src.windowBlock[w + 1]));
  auto window = std::make_shared<CsvWindow>();
  window->pool = std::move(pool);
  window->first = src.windowRow[w];
  window->end = src.windowRow[w + 1];
  const auto rows = static_cast<size_t>(window->end - window->first);
  std::vector<CsvColumn>* columns = &window->columns;
  columns->resize(table.columns.size());
  for (size_t c = 0; c < columns->size(); ++c) {
    (*columns)[c].name = table.columns[c].name;
    (*columns)[c].numeric = table.columns[c].numeric;
    if ((*columns)[c].numeric) {
      if (window->pool != nullptr)
        (*columns)[c].nums = window->pool->take(rows);
      else
        (*columns)[c].nums.allocate(rows);
    }
  }
  CsvReadOptions options;
  options.threads = src.threads;
  const Storage to{columns, nullptr, window->first};
  readBlocks(src.x, blocks, to, options);
  if (sizeCharacterColumns(blocks, *columns, static_cast<int64_t>(rows), ColumnStorage::Heap))
    writeCharacters(src.x, blocks, to, options);
  for (size_t c = 0; c < columns->size(); ++c)
    (*columns)[c].length = table.columns[c].length;
  if (src.doneWith && !blocks.empty())
    src.doneWith(blocks.front().lo, blocks.back().hi);
  const bool changed = src.changed && src.changed->load();
  if (changed || std::any_of(blocks.begin(), blocks.end(), [](const Block& k) {
        return k.syntax.set || k.mismatch || k.raggedRecord >= 0;
      }))
    return nullptr;
  return window;
}

// The window holding observation obs of a table read window by window.
size_t windowOf(const CsvTable& table, int64_t obs) {
  const std::vector<int64_t>& starts = table.source->windowRow;
  return static_cast<size_t>(std::upper_bound(starts.begin(), starts.end() - 1, obs) -
                             starts.begin()) -
         1;
}

} // namespace

namespace {

// firstTextAmongNumbers for a windowed table, from what the first reading kept of each block:
// the first text of the earliest block that met one, and whether a block met a number.
bool windowedTextAmongNumbers(const CsvSource& src, size_t column, int64_t* obs,
                              std::string* text) {
  bool sawNumber = false, sawText = false;
  for (const Block& k : src.blocks) {
    if (k.columns.size() <= column)
      continue;
    const ColumnStats& cs = k.columns[column];
    sawNumber = sawNumber || cs.valued;
    if (!sawText && cs.textRecord >= 0) {
      sawText = true;
      *obs = cs.textRecord - 1;
      *text = cs.text;
    }
  }
  return sawNumber && sawText;
}

} // namespace

bool firstTextAmongNumbers(const CsvTable& table, size_t column, int64_t* obs, std::string* text) {
  if (column >= table.columns.size() || table.columns[column].numeric)
    return false;
  if (table.windowed())
    return windowedTextAmongNumbers(*table.source, column, obs, text);
  const CsvColumn& col = table.columns[column];
  bool sawNumber = false, sawText = false;
  for (int64_t i = 0; i < table.nobs && !(sawNumber && sawText); ++i) {
    const std::string_view v = trimView(col.str(i));
    double value = 0;
    if (isMissingText(v) || isMissingNumberText(v))
      continue;
    if (classifyNumber(v, &value) == NumberText::kNumber) {
      sawNumber = true;
    } else if (!sawText) {
      sawText = true;
      *obs = i;
      *text = notedText(v);
    }
  }
  return sawNumber && sawText;
}

bool columnHasNoValues(const CsvTable& table, size_t column) {
  if (table.nobs <= 0 || column >= table.columns.size())
    return false;
  const CsvColumn& col = table.columns[column];
  if (table.windowed())
    return std::none_of(
        table.source->blocks.begin(), table.source->blocks.end(), [&](const Block& k) {
          return k.columns.size() > column &&
                 (col.numeric ? k.columns[column].valued : k.columns[column].longest > 0);
        });
  const auto n = static_cast<size_t>(table.nobs);
  if (!col.numeric) {
    for (size_t i = 0; i < n; ++i)
      if (!col.str(static_cast<int64_t>(i)).empty())
        return false;
    return true;
  }
  if (col.nums.size() < n)
    return false;
  for (size_t i = 0; i < n; ++i)
    if (!isHostMissing(col.nums[i]))
      return false;
  return true;
}

bool parseCsvNumber(const std::string& text, double* value) {
  return classifyNumber(trimView(text), value) == NumberText::kNumber;
}

bool parseCsv(const char* text, size_t size, const CsvReadOptions& options, CsvTable* out,
              CsvError* error) {
  Text x{text, size, 0};
  if (size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0)
    x.start = 3; // byte-order mark
  out->columns.clear();
  out->lines.clear();
  out->nobs = 0;
  return parseText(x, options, out, error);
}

bool parseCsv(const std::string& text, CsvTable* out, CsvError* error) {
  return parseCsv(text.data(), text.size(), CsvReadOptions(), out, error);
}

bool readCsvFile(const std::string& path, const CsvReadOptions& options, CsvTable* out,
                 CsvError* error) {
  auto file = std::make_shared<MappedFile>();
  if (!file->open(path, options.mapBytes, error))
    return false;
  CsvReadOptions mapped = options;
  const MappedFile* f = file.get(); // kept alive by the table's source when windows need it
  mapped.doneWith = [f, done = options.doneWith](size_t begin, size_t end) {
    f->release(begin, end);
    if (done)
      done(begin, end);
  };
  out->file = path;
  bool ok = false;
  if (file->inPieces()) {
    Text x{nullptr, file->size(), 0, file.get()};
    if (char bom[3]; file->readStart(bom, 3) == 3 && std::memcmp(bom, "\xEF\xBB\xBF", 3) == 0)
      x.start = 3;
    out->columns.clear();
    out->lines.clear();
    out->nobs = 0;
    ok = parseText(x, mapped, out, error);
  } else {
    ok = parseCsv(file->data(), file->size(), mapped, out, error);
  }
  if (std::string why = file->readError(); !why.empty()) {
    *error = {0, why};
    out->source.reset();
    return false;
  }
  if (file->changed().load()) {
    *error = {0, kChanged};
    out->source.reset();
    return false;
  }
  if (ok && out->source) {
    auto src = std::const_pointer_cast<CsvSource>(out->source);
    src->owner = file;
    src->changed = &file->changed();
  }
  return ok;
}

std::string windowFailure(const CsvTable& table) {
  if (table.source && table.source->x.file)
    if (std::string why = table.source->x.file->readError(); !why.empty())
      return why;
  return kChanged;
}

// Windows kept at most besides those being parsed: the one the readers behind are in and the
// one the readers ahead have gone on to.
constexpr size_t kKeptWindows = 2;

ColumnBuffer<double> CsvColumnPool::take(size_t n) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    // Windows differ a little in their rows: a buffer of up to twice the room serves.
    for (auto it = kept_.begin(); it != kept_.end(); ++it)
      if (it->size() >= n && it->size() / 2 <= n) {
        ColumnBuffer<double> b = std::move(*it);
        kept_.erase(it);
        return b;
      }
  }
  ColumnBuffer<double> b;
  b.allocate(n);
  return b;
}

void CsvColumnPool::give(ColumnBuffer<double>&& buffer) {
  ColumnBuffer<double> mine = std::move(buffer); // freed here, outside the lock, when not kept
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!mine.empty() && kept_.size() < keep_)
    kept_.push_back(std::move(mine));
}

CsvWindow::~CsvWindow() {
  if (pool == nullptr)
    return;
  for (CsvColumn& c : columns)
    if (c.numeric)
      pool->give(std::move(c.nums));
}

CsvWindowCache::CsvWindowCache(std::shared_ptr<const CsvTable> table) : table_(std::move(table)) {
  size_t numeric = 0;
  for (const CsvColumn& c : table_->columns)
    numeric += c.numeric ? 1 : 0;
  pool_ = std::make_shared<CsvColumnPool>(numeric);
}

std::shared_ptr<const CsvWindow> CsvWindowCache::window(size_t w) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    auto it = std::find_if(kept_.begin(), kept_.end(), [w](const Kept& k) { return k.index == w; });
    if (it == kept_.end())
      break;
    if (it->ready)
      return it->window;
    ready_.wait(lock); // another reader is parsing it
  }
  // Windows no reader holds go before another is parsed: the readers go through the
  // observations in order, and a window left behind would only take memory (a reader alone
  // has one window at a time).
  std::erase_if(kept_, [](const Kept& k) { return k.ready && k.window.use_count() == 1; });
  kept_.push_back(Kept{w, nullptr, false});
  lock.unlock();
  std::shared_ptr<const CsvWindow> window;
  try {
    window = loadWindow(*table_, w, pool_);
  } catch (...) {
    // Memory the parse could not have: the readers waiting for the window try it themselves.
    lock.lock();
    std::erase_if(kept_, [w](const Kept& k) { return k.index == w; });
    ready_.notify_all();
    throw;
  }
  lock.lock();
  for (Kept& k : kept_)
    if (k.index == w) {
      k.window = window;
      k.ready = true;
    }
  // The windows parsed first go first; one still being parsed stays.
  for (auto it = kept_.begin(); kept_.size() > kKeptWindows && it != kept_.end();)
    it = it->ready && it->index != w ? kept_.erase(it) : it + 1;
  ready_.notify_all();
  return window;
}

CsvRows::CsvRows(std::shared_ptr<const CsvTable> table, CsvWindowCache* windows)
    : table_(std::move(table)), windows_(windows) {
  if (!table_->windowed())
    end_ = table_->nobs;
}

bool CsvRows::load(int64_t obs) {
  if (!table_->windowed() || obs < 0 || obs >= table_->nobs || changed_)
    return false;
  const size_t w = windowOf(*table_, obs);
  first_ = end_ = 0;
  window_.reset(); // the window left goes before the next is parsed
  window_ = windows_ != nullptr ? windows_->window(w) : loadWindow(*table_, w, nullptr);
  if (window_ == nullptr) {
    changed_ = true;
    return false;
  }
  first_ = window_->first;
  end_ = window_->end;
  return true;
}

bool readCsvFile(const std::string& path, CsvTable* out, CsvError* error) {
  return readCsvFile(path, CsvReadOptions(), out, error);
}

std::string formatCsvNumber(double value) {
  if (isHostMissing(value) || std::isnan(value))
    return std::string();
  char buf[64];
  // A product such as -1 x 0 (an EFFECT-coded column crossed with a zero) is a negative
  // zero: it is written as 0, the value it stands for.
  auto res = std::to_chars(buf, buf + sizeof buf, value == 0 ? 0.0 : value);
  return std::string(buf, res.ptr);
}

std::string csvField(const std::string& text) {
  bool quote = !text.empty() && (text.front() == ' ' || text.back() == ' ');
  for (char c : text)
    if (c == ',' || c == '"' || c == '\n' || c == '\r')
      quote = true;
  if (!quote)
    return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"')
      out += '"';
    out += c;
  }
  out += '"';
  return out;
}

} // namespace qrxhost
