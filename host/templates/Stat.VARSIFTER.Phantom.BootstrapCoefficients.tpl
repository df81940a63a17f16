# Data for the parameter distribution graphs of model averaging: one row per averaged resample.
title Resample Coefficients
column Sample  | Sample    | int
column Coeff*  | Estimate  | estimate
