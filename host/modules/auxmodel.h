// The sibling module qrxauxmd's own parts: the requests read from the saved STORE and CODE
// statements, the item store (auxstore.cpp) and the scoring code (auxcode.cpp) written
// from the selected model that the procedure hands over.
#pragma once

#include "host/hostmessages.h"
#include "support/postfit.h"

#include <string>
#include <vector>

namespace qrxhost {
class OutFile;
}

namespace qrxhost::aux {

// A STORE request: the item store's file, the name shown in messages and the statement's
// line (0 when not known).
struct StoreRequest {
  std::string written;
  std::string path;
  std::string display;
  std::string label; // LABEL=, written into the item store
  int line = 0;
};

// A CODE request: the file of the scoring code and the statement's line.
struct CodeRequest {
  std::string written;
  std::string path;
  int line = 0;
};

// Lists written alike in the item store (JSON) and the scoring code (Python): "[...]" of
// the names at the given indexes (all null: every name in order), of the CLASS variables'
// names at the given indexes, and of numbers that read back exactly (a missing value as
// null in JSON, None in Python).
std::string nameList(const char* const* all, const int32_t* indexes, int32_t count);
std::string classNameList(const PostFitModel& model, const int32_t* indexes, int32_t count);
std::string numberList(const double* values, int32_t count, bool python);
// The name of a constructed effect's kind ("SPLINE", ...).
const char* kindName(int32_t kind);

// What the procedure hands over with a group's model besides its description: the error
// variance with its degrees of freedom and the swept triangle of the reduced design (empty
// when none was handed over).
struct HandedStatistics {
  double errorVariance = 0, errorDf = 0;
  std::vector<double> triangle;
};

// The JSON text of one group's selected model, with the error variance and, when the swept
// triangle was handed over, the covariance of the estimates in parameter order.
std::string storeGroupJson(const PostFitModel& model, const HandedStatistics& handed);
// The item store: its label, the BY variables and the groups' texts in one document, written
// to `file` piece by piece (the groups' texts are not copied).
void writeStoreDocument(OutFile& file, const std::vector<std::string>& groups,
                        const PostFitModel& model, const std::string& label);

// Why the scoring code of a model cannot be written (the message and its values); no
// refusal when `refused` is false.
struct Refusal {
  bool refused = false;
  AuxMsg refusalMessage = AuxMsg::CodeNeedsEarlierRows;
  std::string first, second;
};
Refusal codeRefusal(const PostFitModel& model);
// The scoring code: a Python module whose function score(row) finds the row's BY group
// among the groups' models (the texts of scoringGroup, keyed by scoringGroupKey) and
// predicts with it.
std::string scoringGroupKey(const PostFitModel& model);
std::string scoringGroup(const PostFitModel& model);
std::string scoringModule(const std::vector<std::string>& groups, const PostFitModel& model);

} // namespace qrxhost::aux
