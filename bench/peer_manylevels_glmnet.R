# LASSO peer of bench/manylevels_roads.sh: data.table::fread of a file written by
# bench/gen_manylevels_data.py, then glmnet's default LASSO path (100 penalties) on the sparse
# design of every level of g (sparse.model.matrix, no level dropped) and x1..x3. Prints the
# time of the design and the path (the file read excluded); the whole run is the wall time.
# Run: Rscript bench/peer_manylevels_glmnet.R FILE
suppressMessages(library(data.table))
suppressMessages(library(Matrix))
suppressMessages(library(glmnet))
d <- fread(commandArgs(trailingOnly = TRUE)[1], showProgress = FALSE)
d[, g := factor(g)]
t <- system.time({
  x <- sparse.model.matrix(~ 0 + g + x1 + x2 + x3, d)
  fit <- glmnet(x, d[["y"]], alpha = 1)
})[["elapsed"]]
# y depends on x1: it is in the model at the path's end.
stopifnot(length(fit$lambda) > 10, fit$beta["x1", ncol(fit$beta)] != 0)
cat(sprintf("glmnet sparse, %d levels, %d rows, %d columns: %.3f s\n", nlevels(d$g), nrow(d),
            ncol(x), t))
