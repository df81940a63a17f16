# Factoid: the settings of a POLYNOMIAL constructed effect.
title Polynomial Details
