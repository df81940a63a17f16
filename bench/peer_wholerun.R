# Whole-run peers of bench/wholerun.sh on the generated CSV: data.table::fread, then either
# glmnet's LASSO path (the default 100 penalties) or leaps' forward selection of at most 20
# steps scored by BIC. Prints the wall time of the whole job (reading included) in seconds.
# Run: Rscript bench/peer_wholerun.R glmnet|leaps FILE THREADS
suppressMessages(library(data.table))
args <- commandArgs(trailingOnly = TRUE)
what <- args[1]
file <- args[2]
setDTthreads(as.integer(args[3]))
t <- system.time({
  d <- fread(file, showProgress = FALSE)
  y <- d[["y"]]
  x <- as.matrix(d[, -1])
  if (what == "glmnet") {
    suppressMessages(library(glmnet))
    fit <- glmnet(x, y, alpha = 1)
    stopifnot(length(fit$lambda) > 10)
  } else {
    suppressMessages(library(leaps))
    fit <- regsubsets(x, y, method = "forward", nvmax = 20)
    s <- summary(fit)
    stopifnot(which.min(s$bic) >= 10)
  }
})[["elapsed"]]
cat(sprintf("%s: %.2f s\n", what, t))
