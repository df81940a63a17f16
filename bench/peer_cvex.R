# The peer of bench/cvex.sh: data.table::fread, then cv.glmnet's LASSO with the given number
# of folds over its full default path (100 penalties). Prints the wall time of the whole job
# (reading included) in seconds. glmnet fits on one thread; THREADS goes to the reading.
# Run: Rscript bench/peer_cvex.R FILE FOLDS THREADS
suppressMessages(library(data.table))
suppressMessages(library(glmnet))
args <- commandArgs(trailingOnly = TRUE)
file <- args[1]
folds <- as.integer(args[2])
setDTthreads(as.integer(args[3]))
set.seed(7)
t <- system.time({
  d <- fread(file, showProgress = FALSE)
  y <- d[["y"]]
  x <- as.matrix(d[, -1])
  fit <- cv.glmnet(x, y, alpha = 1, nfolds = folds)
  stopifnot(length(fit$lambda) > 10)
})[["elapsed"]]
cat(sprintf("cv.glmnet %d folds: %.2f s\n", folds, t))
