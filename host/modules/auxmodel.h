// The sibling module qrxauxmd's own parts: the requests read from the saved STORE and CODE
// statements, the item store (auxstore.cpp) and the scoring code (auxcode.cpp) written
// from the selected model that the procedure hands over.
#pragma once

#include "support/postfit.h"

#include <string>
#include <vector>

namespace qrxhost::aux {

// A STORE request: the item store's file and the name shown in messages.
struct StoreRequest {
  std::string written;
  std::string path;
  std::string display;
};

// A CODE request: the file of the scoring code.
struct CodeRequest {
  std::string written;
  std::string path;
};

// The JSON text of one group's selected model, with the error variance handed over.
std::string storeGroupJson(const PostFitModel &model, double errorVariance, double errorDf);
// The item store: the groups' texts in one document.
std::string storeDocument(const std::vector<std::string> &groups, const PostFitModel &model);

// Why the scoring code of a model cannot be written (message number of set 613 and its
// values), or message 0 when it can.
struct Refusal {
  int refusalMessage = 0;
  std::string first, second;
};
Refusal codeRefusal(const PostFitModel &model);
// The scoring code: a Python module with the function score(row).
std::string scoringCode(const PostFitModel &model);

} // namespace qrxhost::aux
