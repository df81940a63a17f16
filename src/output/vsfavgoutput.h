// The model-averaging columns of the OUTPUT data set: the averaged prediction with the
// spread of the resample predictions (median, standard deviation, quantiles), and one
// column per resample for its drawn frequency (SAMPLEFREQ) and its prediction (SAMPLEPRED).
#pragma once

#include "output/vsfoutput.h"

#include <cstdint>
#include <string>
#include <vector>

struct VsfContext;
struct VsfModel;
struct HostDataSet;
struct VsfOutputSpec;

// The longest column name of an output data set.
constexpr int32_t kVsfColumnNameMax = 32;

// The number of resamples R whose columns OUTPUT carries.
[[nodiscard]] int32_t vsfOutputResamples(const VsfContext* ctx);
// The names of the R columns of a prefix: prefix + i (1 .. R); the prefix is cut when
// prefix + the digits of R would pass 32 characters, and *cut is set then.
std::vector<std::string> vsfResampleColumnNames(const std::string& prefix, int32_t R, bool* cut);
// Defines MEDIAN, STDDEV, LOWER, UPPER, then the SAMPLEFREQ and SAMPLEPRED columns, each
// when `spec` (OUTPUT's or a SCORE statement's) asks for it. 0, -2, or -8 when the host
// refused a column.
[[nodiscard]] VsfStatus vsfDefineResampleColumns(VsfContext* ctx, const VsfOutputSpec& spec,
                                                 HostDataSet* out, VsfOutputColumns& c);

// The prediction state of one BY group: the averaged coefficients, the design column of
// every parameter, the buffers of the resample predictions and the frequency cursor.
struct VsfAveragePrediction {
  bool on = false;            // model averaging
  bool usable = false;        // some resamples are averaged
  bool resampleStats = false; // STDDEV, SAMPLEPRED, MEDIAN, LOWER or UPPER asked for
  bool quantiles = false;     // MEDIAN, LOWER or UPPER asked for
  int32_t resamples = 0;
  std::vector<double> coef;    // the averaged estimate of each parameter
  std::vector<int32_t> column; // design column of each parameter, -1 when none
  std::vector<double> preds, work;
  int64_t freqRow = 0; // the next observation of the drawn frequencies
  VsfPredictStats stats{};
};

// Prepares the prediction state of a BY group for the statistics that `spec` asks for
// (model averaging off: `on` stays false).
void vsfAveragePrepare(VsfContext* ctx, const VsfModel* m, const VsfOutputSpec& spec,
                       VsfAveragePrediction& p);
// The averaged prediction of the design row `row`; with resample statistics the per-resample
// predictions and their statistics are kept in `p` too.
double vsfAveragePredict(const VsfContext* ctx, VsfAveragePrediction& p, const double* row);
// Writes the averaging columns of the current row: the statistics when `predicted`, else
// missing values; the drawn frequencies when `freqRow` (the cursor moves on), else missing.
void vsfPutAverageColumns(HostDataSet* out, const VsfOutputColumns& c, VsfContext* ctx,
                          VsfAveragePrediction& p, bool predicted, bool freqRow);
