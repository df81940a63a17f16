// The OUTPUT and SCORE statistics' traits table: one row per VsfOutputStatIndex with its
// keywords and flag in the statements, its default column name, the columns it makes, and
// whether it needs model averaging (with the warnings when it is dropped for want of it).
// Code asks the row instead of listing the statistics again, so a new statistic is whatever
// its row says.
#pragma once

#include "support/messages.h"
#include "support/protocol.h"
#include "support/vsfcolumn.h"
#include "support/vsfoptions.h"

#include <array>
#include <cstddef>
#include <optional>

// The columns a statistic writes to its data set.
enum class VsfOutputStatColumns : uint8_t {
  PerResponse, // one, named by default with a prefix before the response's name
  Single,      // one numeric column
  PerResample, // one per resample, the name a stem with the resample's number
};

// One row per statistic. Every question code asks about a statistic is a column here: a new
// statistic gives each of them when it adds its row.
struct VsfOutputStatTraits {
  VsfColumn<VsfOutputStatIndex> stat;
  VsfColumn<OutputFlag> flag;              // its flag (and name slot) in the parsed statement
  VsfColumn<const char*> option;           // its option name in messages
  VsfColumn<const char*> outputKeyword;    // its keywords in the OUTPUT rule
  VsfColumn<const char*> scoreKeyword;     // in the SCORE rule (null: SCORE does not take it)
  VsfColumn<VsfOutputStatColumns> columns; // what it writes
  VsfColumn<const char*> defaultName;      // the column name (or prefix, or stem) by default
  VsfColumn<bool> counted;                 // counts in VsfOutputSpec::columnCount
  VsfColumn<bool> needsAveraging;          // dropped without MODELAVERAGE
  VsfColumn<bool> resamplePredictions;     // needs each resample's prediction of a row
  VsfColumn<bool> quantile;                // needs the quantiles of those predictions
  VsfColumn<std::optional<VsfMsg>> outputDropped; // the warning when OUTPUT's is dropped
  VsfColumn<std::optional<VsfMsg>> scoreDropped;  // and when SCORE's is
};

// One row per statistic code, in code order: VsfOutputStatIndex::Last + 1 rows.
inline constexpr size_t kVsfOutputStatRows = static_cast<size_t>(kVsfOutputStatCount);
using VsfOutputStatTable = std::array<VsfOutputStatTraits, kVsfOutputStatRows>;

inline constexpr VsfOutputStatTable kVsfOutputStatTraits{{
    {.stat = VsfOutputStatIndex::Pred,
     .flag = OutputFlag::Pred,
     .option = "PRED",
     .outputKeyword = "'PRED'/'PREDICTED'/'P'",
     .scoreKeyword = "'PRED'/'PREDICTED'/'P'",
     .columns = VsfOutputStatColumns::PerResponse,
     .defaultName = "p_",
     .counted = true,
     .needsAveraging = false,
     .resamplePredictions = false,
     .quantile = false,
     .outputDropped = std::nullopt,
     .scoreDropped = std::nullopt},
    {.stat = VsfOutputStatIndex::StdDev,
     .flag = OutputFlag::StdDev,
     .option = "STDDEV",
     .outputKeyword = "'STDDEV'/'STANDARDDEVIATION'",
     .scoreKeyword = "'STDDEV'/'STANDARDDEVIATION'",
     .columns = VsfOutputStatColumns::Single,
     .defaultName = "stdDev",
     .counted = true,
     .needsAveraging = true,
     .resamplePredictions = true,
     .quantile = false,
     .outputDropped = VsfMsg::OutputStddevNeedsAveraging,
     .scoreDropped = VsfMsg::ScoreStddevNeedsAveraging},
    {.stat = VsfOutputStatIndex::Upper,
     .flag = OutputFlag::Upper,
     .option = "UPPER",
     .outputKeyword = "'UPPER'/'UPPERQUANTILE$'/'UQUANT$'",
     .scoreKeyword = "'UPPER'/'UPPERQUANTILE$'/'UQUANT$'",
     .columns = VsfOutputStatColumns::Single,
     .defaultName = "upper",
     .counted = true,
     .needsAveraging = true,
     .resamplePredictions = true,
     .quantile = true,
     .outputDropped = VsfMsg::OutputUpperNeedsAveraging,
     .scoreDropped = VsfMsg::ScoreUpperNeedsAveraging},
    {.stat = VsfOutputStatIndex::Lower,
     .flag = OutputFlag::Lower,
     .option = "LOWER",
     .outputKeyword = "'LOWER'/'LOWERQUANTILE$'/'LQUANT$'",
     .scoreKeyword = "'LOWER'/'LOWERQUANTILE$'/'LQUANT$'",
     .columns = VsfOutputStatColumns::Single,
     .defaultName = "lower",
     .counted = true,
     .needsAveraging = true,
     .resamplePredictions = true,
     .quantile = true,
     .outputDropped = VsfMsg::OutputLowerNeedsAveraging,
     .scoreDropped = VsfMsg::ScoreLowerNeedsAveraging},
    {.stat = VsfOutputStatIndex::Resid,
     .flag = OutputFlag::Resid,
     .option = "RESID",
     .outputKeyword = "'RESID'/'RESIDUAL'/'R'",
     .scoreKeyword = "'RESID'/'RESIDUAL'/'R'",
     .columns = VsfOutputStatColumns::PerResponse,
     .defaultName = "r_",
     .counted = true,
     .needsAveraging = false,
     .resamplePredictions = false,
     .quantile = false,
     .outputDropped = std::nullopt,
     .scoreDropped = std::nullopt},
    {.stat = VsfOutputStatIndex::Median,
     .flag = OutputFlag::Median,
     .option = "MEDIAN",
     .outputKeyword = "'MEDIAN'",
     .scoreKeyword = "'MEDIAN'/'MED'",
     .columns = VsfOutputStatColumns::Single,
     .defaultName = "median",
     .counted = true,
     .needsAveraging = true,
     .resamplePredictions = true,
     .quantile = true,
     .outputDropped = VsfMsg::OutputMedianNeedsAveraging,
     .scoreDropped = VsfMsg::ScoreMedianNeedsAveraging},
    {.stat = VsfOutputStatIndex::SampleFreq,
     .flag = OutputFlag::SampleFreq,
     .option = "SAMPLEFREQ",
     .outputKeyword = "'SAMPLEFREQ'/'SF'",
     .scoreKeyword = nullptr,
     .columns = VsfOutputStatColumns::PerResample,
     .defaultName = "sampleFreq",
     .counted = false,
     .needsAveraging = true,
     .resamplePredictions = false,
     .quantile = false,
     .outputDropped = VsfMsg::OutputSamplefreqNeedsAveraging,
     .scoreDropped = std::nullopt},
    {.stat = VsfOutputStatIndex::SamplePred,
     .flag = OutputFlag::SamplePred,
     .option = "SAMPLEPRED",
     .outputKeyword = "'SAMPLEPRED'/'SP'",
     .scoreKeyword = "'SAMPLEPRED'/'SP'",
     .columns = VsfOutputStatColumns::PerResample,
     .defaultName = "samplePred",
     .counted = false,
     .needsAveraging = true,
     .resamplePredictions = true,
     .quantile = false,
     .outputDropped = VsfMsg::OutputSamplepredNeedsAveraging,
     .scoreDropped = VsfMsg::ScoreSamplepredNeedsAveraging},
}};

// Row i describes statistic code i. A row left out is refused above (its columns have no
// defaults) and a row too many does not fit the array; this refuses rows out of order.
[[nodiscard]] consteval bool vsfOutputStatRowsInOrder(const VsfOutputStatTable& table) {
  for (size_t i = 0; i < table.size(); ++i)
    if (table[i].stat != static_cast<VsfOutputStatIndex>(i))
      return false;
  return true;
}
static_assert(vsfOutputStatRowsInOrder(kVsfOutputStatTraits),
              "kVsfOutputStatTraits needs one row per VsfOutputStatIndex, in order");

// The columns of a row that follow from one another: the per-resample columns are not
// counted; quantiles are taken over the resamples' predictions, which only model averaging
// makes; a statistic that needs it has the warnings for each statement that takes it.
[[nodiscard]] consteval bool vsfOutputStatRowAgrees(const VsfOutputStatTraits& t) {
  const bool score = t.scoreKeyword.get() != nullptr;
  return t.outputKeyword.get() != nullptr && t.defaultName.get() != nullptr &&
         t.counted == (t.columns != VsfOutputStatColumns::PerResample) &&
         (!t.quantile || t.resamplePredictions) && (!t.resamplePredictions || t.needsAveraging) &&
         t.needsAveraging == t.outputDropped.get().has_value() &&
         (t.needsAveraging && score) == t.scoreDropped.get().has_value();
}

[[nodiscard]] consteval bool vsfOutputStatRowsAgree(const VsfOutputStatTable& table) {
  for (const VsfOutputStatTraits& t : table)
    if (!vsfOutputStatRowAgrees(t))
      return false;
  return true;
}
static_assert(vsfOutputStatRowsAgree(kVsfOutputStatTraits),
              "a row of kVsfOutputStatTraits contradicts itself");

// The row of a statistic.
[[nodiscard]] constexpr const VsfOutputStatTraits& vsfOutputStat(VsfOutputStatIndex stat) {
  return kVsfOutputStatTraits[static_cast<size_t>(stat)];
}
