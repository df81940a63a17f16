# Data for the criterion graphs: the optimal step and value of each criterion.
title Optimal Steps
column OptLabel | Label | text
column *Step      | {name} | int
column *StepLabel | {name} | text
column *NormBeta  | {name} | ratio
column *Val       | {name} | criterion
