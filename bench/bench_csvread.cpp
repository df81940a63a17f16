// Reading data sets: parsing CSV text into the binary copy, reading a CSV file on 1 and 8
// threads (the file named by QRX_BENCH_CSV, made by bench/gen_csvread_data.py), and one pass
// over every value through the data-set services (what a data pass costs the host).
#include "host/data/csvfile.h"
#include "host/data/dataset.h"
#include "host/hostcore.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

namespace {

constexpr int kCols = 12;

// Rows of kCols columns: an id, ten numbers, a group letter; fixed seed.
std::string makeCsv(int64_t rows, double* sumOfFirst) {
  std::mt19937_64 rng(20261207);
  std::uniform_real_distribution<double> u(-100.0, 100.0);
  std::string text = "id";
  for (int c = 1; c < kCols - 1; ++c)
    text += ",x" + std::to_string(c);
  text += ",g\n";
  *sumOfFirst = 0;
  for (int64_t r = 0; r < rows; ++r) {
    text += std::to_string(r);
    for (int c = 1; c < kCols - 1; ++c) {
      double v = u(rng);
      std::string s = qrxhost::formatCsvNumber(v);
      if (c == 1)
        *sumOfFirst += std::stod(s);
      text += "," + s;
    }
    text += r % 2 ? ",a\n" : ",b\n";
  }
  return text;
}

void BM_ParseCsv(benchmark::State& state) {
  double expected;
  std::string text = makeCsv(state.range(0), &expected);
  for (auto _ : state) {
    qrxhost::CsvTable t;
    qrxhost::CsvError e;
    if (!qrxhost::parseCsv(text, &t, &e) || t.nobs != state.range(0))
      throw std::runtime_error("parse failed");
    benchmark::DoNotOptimize(t.columns.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseCsv)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The file of QRX_BENCH_CSV read whole on state.range(0) threads; MB/s as bytes processed.
void BM_ReadCsvFile(benchmark::State& state) {
  const char* file = std::getenv("QRX_BENCH_CSV");
  if (!file) {
    state.SkipWithError("QRX_BENCH_CSV names no file");
    return;
  }
  const auto bytes = static_cast<int64_t>(std::filesystem::file_size(file));
  qrxhost::CsvReadOptions options;
  options.threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    qrxhost::CsvTable t;
    qrxhost::CsvError e;
    if (!qrxhost::readCsvFile(file, options, &t, &e) || t.nobs == 0)
      throw std::runtime_error("read failed: " + e.text);
    benchmark::DoNotOptimize(t.columns.data());
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_ReadCsvFile)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadPass(benchmark::State& state) {
  double expected;
  std::string text = makeCsv(state.range(0), &expected);
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / "qrx_bench_read";
  fs::create_directories(dir);
  std::ofstream(dir / "b.csv") << text;
  qrxhost::setWorkDir(dir.string());
  HostDataSetServices* ds = qrxhost::hostControlBlock()->groups->dataSet;
  HostDataSet* d = ds->xdsopen("b", 1);
  if (!d)
    throw std::runtime_error("open failed");
  for (auto _ : state) {
    double sum = 0;
    HostByHandle* by = ds->xdsby(d);
    ds->xbyset(d, nullptr, nullptr, 0, 0); // whole data set, groups from the start
    while (ds->xbynext(by))
      while (ds->xobsnext(d) == 1)
        for (int32_t v = 1; v < kCols; ++v)
          sum += v == 2 ? ds->xobsnum(d, v) : 0.0 * ds->xobsnum(d, v);
    if (std::abs(sum - expected) > 1e-6 * (1 + std::abs(expected)))
      throw std::runtime_error("wrong sum");
    benchmark::DoNotOptimize(sum);
  }
  qrxhost::endStepDataSets();
  fs::remove_all(dir);
}
BENCHMARK(BM_ReadPass)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
