# The adaptive LASSO over a split CLASS variable, by R's glmnet on a sparse dummy matrix.
#
# The data are scripts/synthdata.py's split_adaptive_csv: 600 rows, a CLASS variable c of 40
# levels L0001..L0040 (the first 40 rows take them in turn), y = the level's effect (every
# fourth level +-2, the others 0) + 1.5 x1 + noise, x2 noise, six decimals. The model is
# y = c x1 x2 with c's levels split.
#
# The adaptive weights are the least-squares estimates of the full model with the last level
# left out (it is aliased with the intercept and the other levels): on centred columns scaled
# by their weights the standard deviations cancel, so the path is glmnet's LASSO on the sparse
# design of levels L01..L39, x1 and x2 with penalty.factor 1/|b|, the centring left to glmnet's
# intercept. The knots (where a candidate enters or leaves) are found by bisection between
# penalties of a fine grid whose active sets differ by one candidate.
#
# Writes tests/data/splitadaptive/knots.csv (knot, candidate, +1 enters / -1 leaves)
# and final.csv (the estimates at knot STEPS + 1, where the path after STEPS steps ends: the
# intercept, then every candidate on the data scale).
# Needs Debian's r-cran-glmnet. Run: Rscript scripts/gen_split_adaptive_ref.R
suppressMessages(library(Matrix))
suppressMessages(library(glmnet))

root <- normalizePath(file.path(dirname(sub("^--file=", "", grep("^--file=", commandArgs(FALSE),
                                                              value = TRUE))), ".."))
out <- file.path(root, "tests", "data", "splitadaptive")
dir.create(out, showWarnings = FALSE, recursive = TRUE)
L <- 40
STEPS <- 12

text <- system2("/usr/bin/python3", c(file.path(root, "scripts", "synthdata.py"), "splitadaptive"),
                stdout = TRUE)
csv <- read.csv(text = paste(text, collapse = "\n"), colClasses = c("numeric", "character",
                                                                    "numeric", "numeric"))
y <- csv$y
x1 <- csv$x1
x2 <- csv$x2
names <- sprintf("L%04d", 1:L)
d <- data.frame(y = y, c = factor(csv$c, levels = names), x1 = x1, x2 = x2)
full <- sparse.model.matrix(~ 0 + c + x1 + x2, d)
x <- full[, -L] # the last level is aliased
p <- ncol(x)
b <- lm.fit(cbind(1, as.matrix(x)), y)$coefficients[-1]
stopifnot(all(is.finite(b)))
pf <- 1 / abs(b)

fit <- function(lambda) {
  glmnet(x, y, lambda = lambda, penalty.factor = pf, standardize = FALSE, thresh = 1e-20,
         maxit = 1e7)
}
active <- function(beta) paste(which(as.numeric(beta) != 0), collapse = " ")
top <- glmnet(x, y, penalty.factor = pf, standardize = FALSE)$lambda[1]
grid <- exp(seq(log(top * 1.01), log(top * 1e-4), length.out = 4000))
path <- fit(grid)
sets <- apply(path$beta, 2, active)

knots <- data.frame()
for (i in which(sets[-1] != sets[-length(sets)])) {
  hi <- grid[i]
  lo <- grid[i + 1]
  a <- as.integer(strsplit(sets[i], " ")[[1]])
  z <- as.integer(strsplit(sets[i + 1], " ")[[1]])
  change <- c(setdiff(z, a), -setdiff(a, z))
  if (length(change) != 1)
    stop("two knots between neighbouring penalties of the grid")
  for (k in 1:60) {
    mid <- sqrt(hi * lo)
    if (active(fit(mid)$beta) == sets[i]) hi <- mid else lo <- mid
  }
  knots <- rbind(knots, data.frame(knot = nrow(knots) + 1, candidate = abs(change),
                                   change = sign(change), lambda = hi))
  if (nrow(knots) > STEPS) break
}
stopifnot(nrow(knots) == STEPS + 1)
write.csv(knots[, c("knot", "candidate", "change")], file.path(out, "knots.csv"), row.names = FALSE,
          quote = FALSE)
at <- fit(knots$lambda[STEPS + 1])
est <- c(as.numeric(at$a0), as.numeric(at$beta))
writeLines(c("candidate,estimate", sprintf("%d,%.15g", 0:p, est)), file.path(out, "final.csv"))
cat(sprintf("%d knots; candidates of the last: %s\n", nrow(knots), active(at$beta)))
