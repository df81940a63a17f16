// The one rule for a row's partition role and cross-validation fold, shared by the reading
// pass and the output data sets. Declared in data/vsfrolefold.h.
#include "data/vsfrolefold.h"

#include "data/vsfdata.h"
#include "numerics/zranuni.h"
#include "support/protocol.h"

#include <algorithm>
#include <cassert>

int32_t vsfDrawRole(const VsfRoleFoldRule& rule, int64_t* rng) {
  const double u = zranuni(rng);
  if (u <= rule.testFraction)
    return VSF_ROLE_TEST;
  if (u <= rule.testFraction + rule.validateFraction)
    return VSF_ROLE_VALIDATE;
  return VSF_ROLE_TRAIN;
}

int32_t vsfTrainFold(const VsfRoleFoldRule& rule, VsfRoleFoldCursor& cursor, int64_t* rng,
                     int32_t indexLevel, int64_t trainCount) {
  const int32_t k = std::max(rule.folds, 1);
  int32_t fold = kVsfNoFold;
  switch (rule.cvMethod) {
  case VsfCvMethod::Random:
    fold = static_cast<int32_t>(zranuni(rng) * k);
    break;
  case VsfCvMethod::Split:
    assert(cursor.splitNext >= 0 && cursor.splitNext < k && "the next split fold is a fold");
    fold = cursor.splitNext;
    cursor.splitNext = (cursor.splitNext + 1) % k;
    break;
  case VsfCvMethod::Index:
    fold = indexLevel;
    break;
  case VsfCvMethod::Block:
    if (trainCount >= 0)
      fold = vsfBlockFold(cursor.trainRows, trainCount, k) - 1;
    break;
  case VsfCvMethod::None:
    break;
  }
  ++cursor.trainRows;
  return fold;
}

int32_t vsfBlockFold(int64_t row, int64_t n, int32_t k) {
  assert(k >= 1 && n >= 0 && row >= 0 && "a training row among n rows in k folds");
  // The first n mod k folds hold q + 1 rows, the others q.
  const int64_t q = n / k;
  const int64_t r = n - k * q;
  const int64_t longRows = r * (q + 1);
  if (row < longRows)
    return static_cast<int32_t>(row / (q + 1) + 1);
  if (q == 0)
    return static_cast<int32_t>(r); // beyond the last row: the last fold that has rows
  return static_cast<int32_t>(std::min<int64_t>(r + (row - longRows) / q + 1, k));
}

int32_t vsfIndexFoldOfLevel(const int32_t* foldLevels, int32_t folds, int32_t level) {
  if (foldLevels == nullptr)
    return level;
  const int32_t* end = foldLevels + std::max(folds, 0);
  const int32_t* at = std::lower_bound(foldLevels, end, level);
  return at != end && *at == level ? static_cast<int32_t>(at - foldLevels) : kVsfNoFold;
}
