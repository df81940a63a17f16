// CSV files as data sets: parsing a file into typed columns (types, missing values, lengths)
// on several threads, and writing rows back. Opening by name and the services are dataset.cpp's,
// BY groups dsby.cpp's.
#pragma once

#include "host/data/colmem.h"

#include <algorithm>
#include <cassert>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qrxhost {

// Where a column's values live: the heap (windows, which come and go), or for a large array
// of a table held whole a mapping of its own, whose pages discardFront can hand back.
enum class ColumnStorage { Heap, OwnPages };

// A column's values, allocated once at their final size and left unset until written (the
// reader writes every element; zero-filling would cost a pass over the whole design).
template <class T> class ColumnBuffer {
public:
  void allocate(size_t n, ColumnStorage where = ColumnStorage::Heap) {
    Storage s{n * sizeof(T), where == ColumnStorage::OwnPages && n * sizeof(T) >= kColumnMapBytes};
    T* p = s.mapped ? static_cast<T*>(mapColumnBytes(s.bytes)) : new T[n];
    data_ = std::unique_ptr<T[], Storage>(p, s);
    size_ = n;
  }
  void release() {
    data_.reset();
    size_ = 0;
  }
  // Hands the memory of the first n values back to the system (the whole pages of a mapped
  // array; nothing for a small one). They read as zeros afterwards: only an owner that will
  // never read them again may ask.
  void discardFront(size_t n) const {
    if (data_.get_deleter().mapped)
      dropColumnBytes(data_.get(), std::min(n, size_) * sizeof(T));
  }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* data() { return data_.get(); }
  const T* data() const { return data_.get(); }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  const T* begin() const { return data_.get(); }
  const T* end() const { return data_.get() + size_; }

private:
  struct Storage {
    size_t bytes = 0;
    bool mapped = false;
    void operator()(T* p) const {
      if (mapped)
        unmapColumnBytes(p, bytes);
      else
        delete[] p;
    }
  };
  std::unique_ptr<T[], Storage> data_;
  size_t size_ = 0;
};

// One variable of a parsed CSV file. Numeric columns hold doubles (missing values are
// the host's missing value); character columns hold their texts one after another in one
// byte buffer, each followed by a NUL.
struct CsvColumn {
  std::string name;
  bool numeric = true;
  int32_t length = 8;        // bytes: 8 for numeric, the longest value (at least 1) for character
  ColumnBuffer<double> nums; // numeric columns: one value per observation
  ColumnBuffer<char> chars;  // character columns: the values, each ended by a NUL
  ColumnBuffer<uint64_t> offsets; // character columns: start of each value; one extra at the end

  std::string_view str(int64_t obs) const {
    const uint64_t b = offsets[static_cast<size_t>(obs)];
    return {chars.data() + b, offsets[static_cast<size_t>(obs) + 1] - b - 1};
  }
  const char* cstr(int64_t obs) const { return chars.data() + offsets[static_cast<size_t>(obs)]; }
  // Hands back the memory of the values of observations before `obs` (see discardFront).
  void discardFront(int64_t obs) const {
    const size_t n = static_cast<size_t>(obs);
    if (numeric) {
      nums.discardFront(n);
      return;
    }
    chars.discardFront(offsets[n]);
    offsets.discardFront(n);
  }
};

// The text and block layout behind a table whose values are read window by window.
struct CsvSource;

// The parsed copy of a CSV file kept while a step runs. A file whose values would take more
// memory than the reader was allowed is not held whole: the columns then carry names, types
// and lengths only, and CsvRows parses the values window by window from `source`.
struct CsvTable {
  std::string file;
  std::vector<CsvColumn> columns;
  std::vector<int32_t> lines;  // line in the file where each observation starts
  std::vector<size_t> unnamed; // 0-based columns whose header name is empty (named VARn)
  int64_t nobs = 0;
  std::shared_ptr<const CsvSource> source; // set when the values are read window by window
  bool windowed() const { return source != nullptr; }
};

struct CsvError {
  int line = 0; // 0: not tied to a line
  std::string text;
};

// How a parse runs: the number of threads, the size of the pieces the text is cut into
// (0: chosen from the text's size and the threads), a report of the observations read so far
// (called from the reading threads), and a notice that the text of [begin, end) is no longer
// needed (the mapped file's pages can go).
// holdBytes bounds the memory of the values held whole (8 bytes for each value of each
// observation, 0: no bound); a file beyond it is read window by window, each window holding
// about windowBytes of values (0: a quarter of holdBytes).
struct CsvReadOptions {
  int threads = 1;
  size_t blockBytes = 0;
  std::function<void(int64_t rows)> progress;
  std::function<void(size_t begin, size_t end)> doneWith;
  uint64_t holdBytes = 0;
  uint64_t windowBytes = 0;
  // The most bytes of a file mapped whole (0: as many as the address space has room for);
  // a larger file is read piece by piece.
  uint64_t mapBytes = 0;
};

// Parses CSV text (header line of names, then one row per observation). A column is
// numeric when every non-missing value is a number; empty and "." are missing, and in a
// numeric column NA, NaN and N/A (any case) too. A numeric column holding an infinity or
// a number beyond the largest double is an error naming its line, column and text.
bool parseCsv(const char* text, size_t size, const CsvReadOptions& options, CsvTable* out,
              CsvError* error);
bool parseCsv(const std::string& text, CsvTable* out, CsvError* error);
// A table read window by window from text in memory keeps pointing into that text: the text
// has to outlive the table.
// Maps and parses a file; a file that cannot be read, or that another process shortens while
// it is read, is an error with line 0.
bool readCsvFile(const std::string& path, const CsvReadOptions& options, CsvTable* out,
                 CsvError* error);
bool readCsvFile(const std::string& path, CsvTable* out, CsvError* error);

// For a character column that holds numbers among its values: the
// first observation (0-based) whose value is not a number nor missing, and that value. False
// for any other column, such as one of texts alone.
bool firstTextAmongNumbers(const CsvTable& table, size_t column, int64_t* obs, std::string* text);
// Whether a column of a table with observations holds no value: every number missing, every
// text empty. Both answers hold for a table held whole and one read window by window.
bool columnHasNoValues(const CsvTable& table, size_t column);

// Why a window of a table read window by window could not be parsed (CsvRows::changed):
// a piece of its file that could not be mapped (its size and the reason), else that the
// file changed while it was being read.
std::string windowFailure(const CsvTable& table);

// The numeric buffers of windows no reader holds any more, kept for the next windows' parses:
// a window's columns then take memory in use already, not fresh pages that the system zeroes
// and, on many threads, maps and unmaps at the cost of every thread. At most `keep` buffers
// are kept (a window's numeric columns: the readers leave one window as they reach the next).
class CsvColumnPool {
public:
  // Room for the kept buffers is taken here, so that giving one back never allocates: a
  // window gives its buffers back from its destructor, where a failed allocation under an
  // address-space limit would end the process.
  explicit CsvColumnPool(size_t keep) : keep_(keep) { kept_.reserve(keep); }
  // A buffer for n values: a kept one of room enough (up to twice n; its values stale: a
  // parse writes the n it uses), else a new one of n.
  ColumnBuffer<double> take(size_t n);
  void give(ColumnBuffer<double>&& buffer);

private:
  std::mutex mutex_;
  std::vector<ColumnBuffer<double>> kept_;
  size_t keep_;
};

// The values of one window of a table read window by window: observations [first, end).
// Its numeric buffers go back to `pool` (if any) when the last reader lets it go; a buffer
// from the pool may have room past the window's rows.
struct CsvWindow {
  int64_t first = 0, end = 0;
  std::vector<CsvColumn> columns;
  std::shared_ptr<CsvColumnPool> pool;

  CsvWindow() = default;
  CsvWindow(const CsvWindow&) = delete;
  CsvWindow& operator=(const CsvWindow&) = delete;
  ~CsvWindow();
};

// The windows of one table shared by readers on several threads (the workers of a block
// read): a window is parsed once while a reader holds it, so that readers going through the
// observations in order a few blocks apart do not put out one another's window and parse it
// again at every turn. A window no reader holds goes when another is parsed. A reader keeps
// the window it holds for as long as it reads from it, whether or not the cache still keeps
// it.
class CsvWindowCache {
public:
  explicit CsvWindowCache(std::shared_ptr<const CsvTable> table);
  // Window w of the table, parsed here unless it is kept or another reader is parsing it (then
  // this one waits for it); null when the text no longer holds what the first reading found.
  std::shared_ptr<const CsvWindow> window(size_t w);

private:
  struct Kept {
    size_t index;
    std::shared_ptr<const CsvWindow> window;
    bool ready;
  };
  std::shared_ptr<const CsvTable> table_;
  std::shared_ptr<CsvColumnPool> pool_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<Kept> kept_; // in the order their parsing began
};

// The observations of a table as a reader goes through them: all of them when the table is
// held whole, else the window holding the observation last reached. Each reader has its own
// window, so that several readers of one table can be at different places; readers given a
// cache take their windows from it, so that several of them parse a window once.
class CsvRows {
public:
  explicit CsvRows(std::shared_ptr<const CsvTable> table, CsvWindowCache* windows = nullptr);
  const CsvTable& table() const { return *table_; }
  // Makes observation `obs` (0-based) readable, parsing its window when it is not held; false
  // when obs is out of range or the file changed since it was first read (changed() tells).
  bool reach(int64_t obs) { return held(obs) || load(obs); }
  bool changed() const { return changed_; }
  // The observations held: [first(), end()).
  int64_t first() const { return first_; }
  int64_t end() const { return end_; }
  bool held(int64_t obs) const { return obs >= first_ && obs < end_; }
  // Column c's values of the observations held, observation obs at index obs - first().
  const CsvColumn& column(size_t c) const {
    return table_->windowed() ? window_->columns[c] : table_->columns[c];
  }
  // Values of a held observation.
  double num(size_t c, int64_t obs) const {
    assert(held(obs) && "a value of an observation reached first");
    return column(c).nums[static_cast<size_t>(obs - first_)];
  }
  std::string_view str(size_t c, int64_t obs) const {
    assert(held(obs) && "a value of an observation reached first");
    return column(c).str(obs - first_);
  }
  const char* cstr(size_t c, int64_t obs) const {
    assert(held(obs) && "a value of an observation reached first");
    return column(c).cstr(obs - first_);
  }

private:
  bool load(int64_t obs); // parses the window holding obs

  std::shared_ptr<const CsvTable> table_;
  CsvWindowCache* windows_;
  std::shared_ptr<const CsvWindow> window_;
  int64_t first_ = 0, end_ = 0;
  bool changed_ = false;
};

// True when the text is a number as the data sets accept it (decimal, optional sign,
// fraction and exponent; no hexadecimal, infinities or NaNs).
bool parseCsvNumber(const std::string& text, double* value);
// The shortest text that reads back as the same double; missing values give "".
std::string formatCsvNumber(double value);
// The field as written to a CSV file (quoted when it holds a comma, quote, line break or
// leading or trailing blanks).
std::string csvField(const std::string& text);

} // namespace qrxhost
