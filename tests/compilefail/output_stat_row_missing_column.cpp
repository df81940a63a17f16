// An OUTPUT statistic's traits row must give every column: one left out is refused, not
// zeroed.
#include "support/vsfoutputstat.h"

constexpr VsfOutputStatTraits kRow{.stat = VsfOutputStatIndex::Median,
                                   .flag = OutputFlag::Median,
                                   .option = "MEDIAN",
                                   .outputKeyword = "'MEDIAN'",
                                   .scoreKeyword = "'MEDIAN'/'MED'",
                                   .columns = VsfOutputStatColumns::Single,
                                   .defaultName = "median",
                                   .counted = true,
#ifdef QRX_COMPILE_FAIL_CONTROL
                                   .needsAveraging = true,
#endif
                                   .resamplePredictions = true,
                                   .quantile = true,
                                   .outputDropped = VsfMsg::OutputMedianNeedsAveraging,
                                   .scoreDropped = VsfMsg::ScoreMedianNeedsAveraging};
