# Factoid: the resampling settings of model averaging.
title Model Averaging Information
