# Factoid: the settings and outcome of the elastic net's L2 search.
title Elastic Net Parameter Search
