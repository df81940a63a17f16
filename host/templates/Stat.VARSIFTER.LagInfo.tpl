# Factoid: the settings of a LAG constructed effect.
title Lag Details
