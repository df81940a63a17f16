# The peer of bench/cvex.sh: data.table::fread, then cv.glmnet's LASSO with the given number
# of folds over its full default path (100 penalties). Prints the wall time of the whole job
# (reading included) in seconds. THREADS goes to the reading and, above 1, to the folds:
# cv.glmnet fits them in parallel on a doParallel cluster of THREADS workers (started
# outside the timed region, as a user's session holds it), one thread each.
# Run: Rscript bench/peer_cvex.R FILE FOLDS THREADS
suppressMessages(library(data.table))
suppressMessages(library(glmnet))
args <- commandArgs(trailingOnly = TRUE)
file <- args[1]
folds <- as.integer(args[2])
threads <- as.integer(args[3])
setDTthreads(threads)
parallel <- threads > 1
if (parallel) {
  suppressMessages(library(doParallel))
  registerDoParallel(cores = threads)
}
set.seed(7)
t <- system.time({
  d <- fread(file, showProgress = FALSE)
  y <- d[["y"]]
  x <- as.matrix(d[, -1])
  fit <- cv.glmnet(x, y, alpha = 1, nfolds = folds, parallel = parallel)
  stopifnot(length(fit$lambda) > 10)
})[["elapsed"]]
cat(sprintf("cv.glmnet %d folds, %d thread(s): %.2f s\n", folds, threads, t))
