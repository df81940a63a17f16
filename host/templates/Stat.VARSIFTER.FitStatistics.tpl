# Factoid: fit criteria of one fitted model; the entries carry their own formats.
title Fit Statistics
