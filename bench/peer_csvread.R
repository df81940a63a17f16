# Peer of bench_csvread's file benchmark: data.table::fread on the same CSV with the given
# thread counts; prints the median of five reads per count in seconds and MB/s.
# Run: Rscript bench/peer_csvread.R FILE [THREADS ...]
suppressMessages(library(data.table))
args <- commandArgs(trailingOnly = TRUE)
file <- if (length(args) > 0) args[1] else "build/bench/wide.csv"
counts <- if (length(args) > 1) as.integer(args[-1]) else c(1L, 8L)
mb <- file.size(file) / 1e6
for (n in counts) {
  setDTthreads(n)
  times <- sapply(1:5, function(i) {
    t <- system.time(d <- fread(file, showProgress = FALSE))[["elapsed"]]
    stopifnot(nrow(d) > 0)
    t
  })
  cat(sprintf("fread %d thread(s): %.3f s, %.0f MB/s\n", n, median(times), mb / median(times)))
}
