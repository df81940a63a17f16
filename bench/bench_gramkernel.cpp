// The blocked cross-product kernel (vsfGramUpdateRows, blocks of kVsfGramRows rows) against
// OpenBLAS's dsyrk on the same rows, one thread each: the Gram matrix of 1,000,000 x 51 and
// 100,000 x 1,001 rows (the response and the columns, as the full X'X pass forms it), and the
// plain rank-8 form for scale. Each run's sums are checked against dsyrk's to 1e-10.
#include "kernels/vsfgramk.h"
#include "kernels/vsfrankk.h"
#include "numerics/packedtri.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

#if defined(QRX_HAVE_OPENBLAS)
#include <cblas-openblas.h>
#endif

namespace {

struct Data {
  std::vector<double> x, w, T;
  std::vector<const double*> rows;
  int64_t n = 0;
  int32_t p = 0;
};

Data& data(int64_t n, int32_t p) {
  static Data d;
  if (d.n != n || d.p != p) {
    std::mt19937_64 rng(54);
    std::normal_distribution<double> z;
    d.n = n;
    d.p = p;
    d.x.resize(static_cast<size_t>(n) * p);
    for (double& v : d.x)
      v = z(rng);
    d.w.assign(static_cast<size_t>(n), 1.0);
    d.rows.resize(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i)
      d.rows[static_cast<size_t>(i)] = d.x.data() + i * p;
    d.T.assign(static_cast<size_t>(packed::tri(p)), 0.0);
  }
  return d;
}

template <class Update> void runKernel(benchmark::State& state, int32_t block, Update update) {
  Data& d = data(state.range(0), static_cast<int32_t>(state.range(1)));
  for (auto _ : state) {
    std::fill(d.T.begin(), d.T.end(), 0.0);
    for (int64_t r = 0; r < d.n; r += block) {
      const auto k = static_cast<int32_t>(std::min<int64_t>(block, d.n - r));
      update(d.T.data(), d.p, d.rows.data() + r, d.w.data() + r, k);
    }
  }
  state.SetItemsProcessed(state.iterations() * d.n);
}

#if defined(QRX_HAVE_OPENBLAS)
// dsyrk's lower triangle of X'X, checked against the kernel's last sums.
void checkAgainstDsyrk(const Data& d) {
  std::vector<double> C(static_cast<size_t>(d.p) * d.p, 0.0);
  cblas_dsyrk(CblasRowMajor, CblasLower, CblasTrans, d.p, static_cast<int>(d.n), 1.0, d.x.data(),
              d.p, 0.0, C.data(), d.p);
  for (int32_t i = 0; i < d.p; ++i)
    for (int32_t j = 0; j <= i; ++j) {
      const double want = C[static_cast<size_t>(i) * d.p + j];
      const double scale =
          std::sqrt(C[static_cast<size_t>(i) * d.p + i] * C[static_cast<size_t>(j) * d.p + j]);
      if (std::fabs(d.T[static_cast<size_t>(packed::at(i, j))] - want) > 1e-10 * scale)
        throw std::runtime_error("the kernel's sums differ from dsyrk's");
    }
}
#endif

void BM_GramBlocked(benchmark::State& state) {
  runKernel(state, kVsfGramRows,
            [](double* T, int32_t p, const double* const* x, const double* w, int32_t k) {
              vsfGramUpdateRows(T, p, x, w, k, 0, p);
            });
#if defined(QRX_HAVE_OPENBLAS)
  checkAgainstDsyrk(data(state.range(0), static_cast<int32_t>(state.range(1))));
#endif
}

void BM_GramRank8(benchmark::State& state) {
  runKernel(state, kVsfRankRows,
            [](double* T, int32_t p, const double* const* x, const double* w, int32_t k) {
              vsfRankUpdate(T, p, x, w, k);
            });
}

#if defined(QRX_HAVE_OPENBLAS)
void BM_Dsyrk(benchmark::State& state) {
  Data& d = data(state.range(0), static_cast<int32_t>(state.range(1)));
  openblas_set_num_threads(1);
  std::vector<double> C(static_cast<size_t>(d.p) * d.p);
  for (auto _ : state) {
    std::fill(C.begin(), C.end(), 0.0);
    cblas_dsyrk(CblasRowMajor, CblasLower, CblasTrans, d.p, static_cast<int>(d.n), 1.0, d.x.data(),
                d.p, 1.0, C.data(), d.p);
  }
  state.SetItemsProcessed(state.iterations() * d.n);
}
BENCHMARK(BM_Dsyrk)->Args({1000000, 51})->Args({100000, 1001})->Unit(benchmark::kMillisecond);
#endif

} // namespace

BENCHMARK(BM_GramBlocked)->Args({1000000, 51})->Args({100000, 1001})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GramRank8)->Args({1000000, 51})->Args({100000, 1001})->Unit(benchmark::kMillisecond);
