// Shared set-up of the data-layer tests: the stand-in host, a fake source of rows, a
// reading pass into pages, and a few small kernels (sums) registered with the frame.
#pragma once

#include "data/vsfdata.h"
#include "data/vsfpage.h"
#include "model/vsfmodel.h"
#include "msgid.h"

#include <string>
#include <utility>
#include <vector>

namespace datatest {

// One observation as the fake design row protocol gives it.
struct Obs {
  double y = 0, w = 1, f = 1;
  std::vector<double> x; // N design values
  LevRowStatusSet status;
  std::string role;
  int32_t index = 0;
  bool unknownClass = false;   // TESTDATA=/VALDATA= rows: a CLASS value without a level
  int32_t unknownEffect = -1;  // ... or the effect whose level combination is unknown
  std::vector<double> numeric; // the numeric variables (for the post-fit bridge)
};

struct Source {
  std::vector<Obs> rows;
  std::vector<Obs> testRows, valRows; // TESTDATA= and VALDATA=
  bool testOutOfStep = false;         // TESTDATA= lacks the BY group
  int32_t which = 0;
  int32_t ended = 0; // passes ended (restores)
  int32_t levelsAllCalls = 0;
  size_t at = 0;
  // The calls giving observations up: the data set being read and the observations taken
  // of it when the call came.
  std::vector<std::pair<int32_t, size_t>> releases;
  const std::vector<Obs>& current() const {
    return which == 0 ? rows : which == 1 ? testRows : valRows;
  }
  VsfRowSource table();
};

struct PageRun {
  VsfDataSettings settings{};
  std::vector<VsfEffectEntry> entries;
  VsfModel model{};
  VsfBagVec bags{};
  ThreadPuddle puddle{};
  QkExtensionSet exts{};
  QkPool* byPool = nullptr;
  QkPool* pagePool = nullptr;
  QkPool* modelPool = nullptr;
  int32_t returnCode = 0;
  VsfReadResult result{};

  PageRun();
  ~PageRun();
  // Reads the rows; 0 or the pass's code.
  int32_t read(Source& src);
  VsfRowLayout layout() const;
  // Every stored row in reading order as its doubles and codes.
  std::vector<std::vector<double>> rowDoubles();
  std::vector<std::vector<int32_t>> rowCodes();
  int32_t startThreads(int32_t n);
};

// Dense effect list: E entries of the given column counts over N = their sum.
void denseEntries(PageRun& run, const std::vector<int32_t>& columns);

// The test kernels.
extern VsfSerialKernel sumY; // sse += y * weight * frequency
extern VsfThreadedKernel sumY_t;
extern VsfSerialKernel entrySums; // corr[e] += sum of entry e's stored values
extern VsfThreadedKernel entrySums_t;
extern VsfSerialKernel foldCounts; // per fold: rows, frequencies, weights
extern VsfThreadedKernel foldCounts_t;
extern VsfSerialKernel doubleY; // a page transform: y *= 2
extern VsfThreadedKernel doubleY_t;
void registerTestKernels();

void setUpHost();
// The messages logged since the last call.
std::vector<MsgId> loggedNumbers();

} // namespace datatest
