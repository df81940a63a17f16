// The cross-product kernel of the structured road (model/vsfstructured.h): the packed
// triangle of the response and the dense columns, and of the many-level effect its diagonal
// and its cross block with those columns, for the model and for each cross-validation fold.
#pragma once

#include "support/qkpgf.h"
#include "support/stepcodes.h"

#include <cstdint>
#include <utility>
#include <vector>

struct VsfPassState;
struct VsfRowShape;
struct VsfRowView;
struct VsfStructured;

// The value in each of the effect's columns of the rows with one value in every column (its
// reference level under the effect coding); a level's own rows hold 1 in its column, so that
// a column's sum over a set of rows is its diagonal less that set's rankOne.
inline constexpr double kVsfRankOneValue = -1.0;

// The length of one set of sums: the small triangle, the effect's diagonal, its cross block
// (dense part and joining values), and the square and small cross products of the rows with one
// value in every column.
[[nodiscard]] int64_t vsfStructuredSegmentLength(const VsfStructured* structured);
// The length of the kernel's buffer: the sums of the rows outside the folds, those of each
// fold's rows, and a last element that is set to 1 when a row has two values in the effect's
// block.
[[nodiscard]] int64_t vsfStructuredXpXLength(const VsfStructured* structured);
// Points the diagonal and cross block of the model's state and of each fold record's at their
// sums in the kernel's buffer `buffer` (vsfStructuredXpXLength long), which the pass fills
// and the states then keep: the cross block is held once, not in a buffer and a copy.
void vsfStructuredPlaceIn(VsfStructured* structured, double* buffer);
// Adds one page's TRAIN rows into `buffer`, laid out as vsfStructuredXpXLength says; every
// element receives the rows as the full X'X kernel adds them into the same element (a fold's
// small triangle row by row). VsfStatus::BadFoldRow when a row's fold code is out of range.
[[nodiscard]] VsfStatus vsfStructuredXpX_t(VsfPassState* model, QkPageDescriptor* page,
                                           double* buffer, int64_t length);
// Adds the (level, small column) pairs of one page's rows whose many-level value meets a
// value of a joining effect beyond the cross block's dense columns (st->dense) to `pairs`:
// the places of the cross block's joining part (VsfStructured::joinStart).
void vsfStructuredJoinPairs(const VsfPassState* model, QkPageDescriptor* page,
                            std::vector<std::pair<int32_t, int32_t>>& pairs);
// A row's fitted value from the many-level effect's columns (VsfStructured::estimates) in the
// model (fold -1) or a fold record's model, which the residual passes add to that of the
// triangle's columns; 0 without the effect in that model.
[[nodiscard]] double vsfStructuredFitted(const VsfPassState* model, int32_t fold,
                                         const VsfRowShape& shape, const VsfRowView& row);
