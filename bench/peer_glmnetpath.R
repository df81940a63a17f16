# Peer of bench/cvchoose.sh's long LASSO path: data.table::fread of the generated CSV, then
# glmnet's LASSO over its default path (100 penalties, one thread). Prints the reading and
# the path times apart, so that the path can be compared with the file read excluded and
# included, and the path's CPU seconds (path-cpu).
# Run: Rscript bench/peer_glmnetpath.R FILE THREADS (THREADS goes to the reading)
suppressMessages(library(data.table))
suppressMessages(library(glmnet))
args <- commandArgs(trailingOnly = TRUE)
setDTthreads(as.integer(args[2]))
read <- system.time({
  d <- fread(args[1], showProgress = FALSE)
  y <- d[["y"]]
  x <- as.matrix(d[, -1])
  rm(d)
})[["elapsed"]]
took <- system.time(fit <- glmnet(x, y, alpha = 1))
path <- took[["elapsed"]]
pathCpu <- took[["user.self"]] + took[["sys.self"]]
# The response is built on x1..x10: all of them are in the model at the path's end.
stopifnot(length(fit$lambda) > 10, all(fit$beta[1:10, ncol(fit$beta)] != 0))
cat(sprintf("fread %.2f s glmnet %.2f s (%d penalties, %d columns) path-cpu %.2f s\n", read,
            path, length(fit$lambda), ncol(x), pathCpu))
