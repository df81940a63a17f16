// The blocks of CSV text a parse cuts the text into, read on the threads: what the reading
// finds in each block (records, types, lengths, errors) and where its values go. The header,
// the names, the errors' order and the windows are the table's (csvfile.cpp).
#pragma once

#include "host/data/csvfile.h"
#include "host/data/csvmap.h"
#include "host/data/csvrecord.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qrxhost::csvread {

// What a first look at a block finds: its quotes and line feeds, and the records that start
// in it, counted apart by the parity of the quotes before them within the block (which of the
// two counts holds depends on the quotes before the block).
// The longest a value may be, in bytes: a character variable's length is an int32_t.
inline constexpr size_t kLongestValue = 2147483647;

struct BlockScan {
  int64_t quotes = 0;
  int64_t newlines = 0;
  int64_t starts[2] = {0, 0};
};

// Per block and column: whether every value seen is a number, the first number the host
// cannot hold, and the bytes and longest length of the values as character values.
struct ColumnStats {
  bool numeric = true;
  int64_t badRecord = -1; // -1: none
  int64_t badLine = 0;
  std::string badText;
  uint64_t bytes = 0; // the values' lengths plus one NUL each
  int32_t longest = 0;
  // The first value longer than kLongestValue (not counted in bytes and longest).
  int64_t longRecord = -1; // -1: none
  int64_t longLine = 0;
  uint64_t longBytes = 0;
  // Kept by a reading that holds no numbers (the first reading of a windowed table), for the
  // notes on a column: whether it held a number, and its first text among numbers.
  bool valued = false;
  int64_t textRecord = -1; // -1: none
  int64_t textLine = 0;
  std::string text;
};

struct Block {
  size_t lo = 0, hi = 0;
  BlockScan scan;
  int parity = 0;          // quotes before the block, modulo 2
  int64_t firstLine = 1;   // line at lo
  int64_t firstRecord = 0; // records (header included) that start before the block
  int64_t records = 0;     // records that start in the block
  size_t recordStart = 0;  // where its first record starts, and that record's line
  int64_t recordLine = 0;
  size_t readEnd = 0; // a text in pieces: where the next block's first record starts
  SyntaxError syntax;
  bool mismatch = false; // the records found differ from the first count (the file changed)
  int64_t raggedRecord = -1;
  int64_t raggedLine = 0;
  int64_t raggedCount = 0;
  std::vector<ColumnStats> columns;
};

// Where the values of a parse go: the columns' storage (a column without numbers allocated
// keeps none), the lines of the observations (none when null), and the observation whose
// values are at index 0.
struct Storage {
  std::vector<CsvColumn>* columns = nullptr;
  int32_t* lines = nullptr;
  int64_t base = 0;
};

// A value as a note on it quotes it: its first kNotedBytes bytes, cut at the start of a
// character, and "..." after a cut. A field may be gigabytes long (the NUL bytes that end a
// file a crash left preallocated), and the note is a message's.
inline constexpr size_t kNotedBytes = 64;
std::string notedText(std::string_view v);

// The bytes of values a window holds: windowBytes, else a quarter of holdBytes.
uint64_t windowBytes(const CsvReadOptions& options);

// The text a block is read from: the whole text when it is in memory, else the piece
// [lo - 1, end) of the file, mapped while the block is read, as a text that ends at `end`.
// ok() is false when the piece cannot be mapped: the block is then not read, and the file
// keeps the reason.
class BlockText {
public:
  BlockText(const Text& x, size_t lo, size_t end);
  bool ok() const { return ok_; }
  const Text& text() const { return view_; }

private:
  Text view_;
  MappedPiece piece_;
  bool ok_ = true;
};

// Cuts the text into blocks and counts them on the threads; fills in where each block's
// records begin among all records and on which line the block begins.
std::vector<Block> layBlocks(const Text& x, const CsvReadOptions& options);

// The blocks' records on the threads: the values, lines, types and errors.
void readBlocks(const Text& x, std::vector<Block>& blocks, const Storage& to,
                const CsvReadOptions& options);
// The character columns' values of the blocks, written at each block's place in the buffers.
void writeCharacters(const Text& x, std::vector<Block>& blocks, const Storage& to,
                     const CsvReadOptions& options);

} // namespace qrxhost::csvread
