// The partition role and cross-validation fold of a row: one rule for the reading pass and
// for the OUTPUT and OUTDESIGN rows, which draw them from the same random stream in the same
// row order, so that each data set shows the roles and folds the fit used.
#pragma once

#include "support/protocol.h"

#include <cstdint>

// How roles and folds are given. Roles are drawn when the PARTITION fractions split the rows
// (no role variable); folds are given to TRAIN rows under cross validation.
struct VsfRoleFoldRule {
  bool drawRoles;
  double testFraction;
  double validateFraction;
  VsfCvMethod cvMethod; // None without cross validation
  int32_t folds;
};

// Where a walk over the rows of a BY group stands.
struct VsfRoleFoldCursor {
  int64_t trainRows = 0; // TRAIN rows given a fold so far
  int32_t splitNext = 0; // CVMETHOD=SPLIT: the fold of the next TRAIN row
};

// A drawn role, by one uniform draw u of `rng`: TEST when u <= the test fraction, VALIDATE
// when u <= test + validate fraction, else TRAIN (VsfRole codes).
[[nodiscard]] int32_t vsfDrawRole(const VsfRoleFoldRule& rule, int64_t* rng);

// The 0-based fold of the next TRAIN row: RANDOM one uniform draw of `rng`; SPLIT the rows
// dealt to the folds in turn; INDEX `indexLevel` (the 0-based level of the index variable);
// BLOCK consecutive blocks of the group's `trainCount` TRAIN rows (kVsfNoFold while that
// count is not known, given as -1). kVsfNoFold without cross validation.
[[nodiscard]] int32_t vsfTrainFold(const VsfRoleFoldRule& rule, VsfRoleFoldCursor& cursor,
                                   int64_t* rng, int32_t indexLevel, int64_t trainCount);

// The CV fold numbers of BLOCK assignment: the fold (from 1) of the `row`-th (0-based) TRAIN
// row of n rows split into k folds.
[[nodiscard]] int32_t vsfBlockFold(int64_t row, int64_t n, int32_t k);

// The 0-based INDEX fold of a row at `level` of the index variable, given the levels of the
// `folds` folds in level order (VsfReadResult::indexFoldLevels); kVsfNoFold when no fold
// holds that level. Without the fold levels (null) each level is its own fold.
[[nodiscard]] int32_t vsfIndexFoldOfLevel(const int32_t* foldLevels, int32_t folds, int32_t level);
