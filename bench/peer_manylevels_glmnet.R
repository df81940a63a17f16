# The penalized peers of bench/manylevels_roads.sh: data.table::fread of a file written by
# bench/gen_manylevels_data.py, then a glmnet path (100 penalties) on the sparse design of
# every level of g (sparse.model.matrix, no level dropped) and x1..x3: the LASSO (lasso), the
# adaptive LASSO with penalty.factor 1/|b| from the least-squares fit of the same design
# (adaptive; the normal equations of the sparse design solved by sparse Cholesky), or the
# elastic net with alpha = 0.5 (enet). Prints the time of the design and the fits (the file
# read excluded); the whole run is the wall time.
# Run: Rscript bench/peer_manylevels_glmnet.R FILE [lasso|adaptive|enet]
suppressMessages(library(data.table))
suppressMessages(library(Matrix))
suppressMessages(library(glmnet))
args <- commandArgs(trailingOnly = TRUE)
mode <- if (length(args) > 1) args[2] else "lasso"
d <- fread(args[1], showProgress = FALSE)
d[, g := factor(g)]
t <- system.time({
  x <- sparse.model.matrix(~ 0 + g + x1 + x2 + x3, d)
  pf <- rep(1, ncol(x))
  if (mode == "adaptive") {
    b <- as.numeric(solve(crossprod(x), crossprod(x, d[["y"]])))
    pf <- 1 / pmax(abs(b), 1e-12)
  }
  fit <- glmnet(x, d[["y"]], alpha = if (mode == "enet") 0.5 else 1, penalty.factor = pf)
})[["elapsed"]]
# y depends on x1: it is in the model at the path's end.
stopifnot(length(fit$lambda) > 10, fit$beta["x1", ncol(fit$beta)] != 0)
cat(sprintf("glmnet sparse %s, %d levels, %d rows, %d columns: %.3f s\n", mode, nlevels(d$g),
            nrow(d), ncol(x), t))
