# Factoid: effect and parameter counts of the design.
title Dimensions
