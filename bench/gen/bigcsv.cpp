// Writes the large-input benchmark's data set: ROWS x COLS CSV (y and x1..x<COLS-1>, standard
// normals with six decimals, y on the first ten x's plus noise), about 950 bytes a row at 100
// columns. Rows are made in batches on all processors, each batch from its own seed, and
// written in order, so the file depends only on ROWS and COLS.
// Build and run: c++ -O2 -std=c++20 -pthread bench/gen/bigcsv.cpp -o gen && ./gen ROWS COLS FILE
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int64_t kBatch = 20000; // rows per batch

uint64_t splitmix(uint64_t* s) {
  uint64_t z = (*s += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A standard normal by Box-Muller from two uniforms in (0, 1).
double normal(uint64_t* s) {
  const double u = (static_cast<double>(splitmix(s) >> 11) + 0.5) * 0x1p-53;
  const double v = (static_cast<double>(splitmix(s) >> 11) + 0.5) * 0x1p-53;
  return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
}

void put(std::string* out, double v) {
  char buf[48];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
  out->append(buf, r.ptr);
}

void makeBatch(int64_t batch, int64_t rows, int cols, std::string* out) {
  out->clear();
  uint64_t seed = 20261207ull * 1000003ull + static_cast<uint64_t>(batch);
  std::vector<double> x(static_cast<size_t>(cols));
  for (int64_t r = 0; r < rows; ++r) {
    double y = normal(&seed);
    for (int k = 1; k < cols; ++k) {
      x[static_cast<size_t>(k)] = normal(&seed);
      if (k <= 10)
        y += (1.0 + 0.1 * (k - 1)) * x[static_cast<size_t>(k)];
    }
    put(out, y);
    for (int k = 1; k < cols; ++k) {
      out->push_back(',');
      put(out, x[static_cast<size_t>(k)]);
    }
    out->push_back('\n');
  }
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s ROWS COLS FILE\n", argv[0]);
    return 2;
  }
  const int64_t rows = std::atoll(argv[1]);
  const int cols = std::atoi(argv[2]);
  FILE* f = std::fopen(argv[3], "wb");
  if (!f || rows < 0 || cols < 2)
    return 2;
  std::string header = "y";
  for (int k = 1; k < cols; ++k)
    header += ",x" + std::to_string(k);
  header += "\n";
  std::fwrite(header.data(), 1, header.size(), f);
  const int64_t batches = (rows + kBatch - 1) / kBatch;
  const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::string> texts(static_cast<size_t>(threads));
  for (int64_t first = 0; first < batches; first += threads) {
    std::vector<std::thread> pool;
    for (int t = 0; t < threads && first + t < batches; ++t)
      pool.emplace_back([&, t] {
        const int64_t b = first + t;
        makeBatch(b, std::min(kBatch, rows - b * kBatch), cols, &texts[static_cast<size_t>(t)]);
      });
    for (std::thread& th : pool)
      th.join();
    for (size_t t = 0; t < pool.size(); ++t)
      if (std::fwrite(texts[t].data(), 1, texts[t].size(), f) != texts[t].size())
        return 1;
  }
  return std::fclose(f) == 0 ? 0 : 1;
}
