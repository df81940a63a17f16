// Shared set-up of the model-core tests: reference designs and steps written by
// scripts/gen_selection_ref.py, and one fit of a design read into pages through the data
// layer's test source, with the selection options set directly.
#pragma once

#include "data/datafixture.h"
#include "model/vsfmodel.h"
#include "support/vsfmethods.h"

#include <ostream>
#include <string>
#include <vector>

// A method in test messages: its METHOD= keyword, or its code when it has none.
inline std::string methodName(VsfMethod method) {
  const VsfMethodTraits* t = vsfMethodTraits(method);
  if (t != nullptr && t->keyword.get() != nullptr)
    return t->keyword.get();
  return "code " + std::to_string(static_cast<int32_t>(method));
}
inline std::ostream& operator<<(std::ostream& out, VsfMethod method) {
  return out << methodName(method);
}

namespace fittest {

struct Design {
  std::vector<int32_t> widths; // columns per effect, the intercept first
  std::vector<double> y;
  std::vector<std::vector<double>> x; // per row every design column
  std::string roles; // per row A (TRAIN), V (VALIDATE) or T (TEST); empty: all TRAIN
};
Design readDesign(const std::string& name);

struct StepRef {
  std::string method, criterion;
  int step = 0, effect = 0, rank = 0;
  double sse = 0, rsquare = 0, value = 0;
  bool missing = false;
  double validate = 0, test = 0; // prediction errors of the partition (missing: none)
  bool hasValidate = false, hasTest = false;
};
std::vector<StepRef> readSteps(const std::string& name);

struct FitSetup {
  VsfMethod method = VsfMethod::Forward;
  int32_t select = 4;
  bool full = true; // full X'X before selection; else grown on demand
  int32_t fullSweep = 0;
  int32_t threads = 1; // page workers (0: threading off)
  bool disk = false;   // small pages, one kept in memory per file
  bool sparse = false; // multi-column effects stored sparse
  int32_t choose = 0;
  bool records = false; // write step records to a scratch file
  int32_t drop = 1;
  int32_t forcedIn = 1;
};

struct Fit {
  datatest::PageRun run;
  datatest::Source src;
  VsfModelOptions opt{};
  VsfScratch scratch{};
  int32_t readRc = 0;
  VsfStatus initRc = VsfStatus::Ok, processRc = VsfStatus::Ok;

  Fit(const Design& d, const FitSetup& s);
  ~Fit();
  VsfModel& m() { return run.model; }
  // Reads the pages, initialises the model and runs one fit.
  void go();
  // Reads the next step record (written with FitSetup::records) at *pos into `back`, in a
  // pool of its own that vsfModelByFree releases.
  VsfStatus restoreStep(VsfModel& back, int64_t* pos);
};

// The criterion of recorded step s, by code, from the model's step history.
double stepCriterion(VsfModel& m, int32_t code, int32_t s);
int32_t codeOf(const std::string& name);

} // namespace fittest
