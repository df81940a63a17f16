# Data for the coefficient progression graphs: one row per step and plotted parameter.
title Coefficient Progression
column Step            | Step                    | int
column CurveNumber     | Curve                   | int
column NormBeta        | Standardized L1 Norm    | ratio
column StepLabel       | Step Label              | text
column Parameter       | Parameter               | text
column CurveIndex      | Effect Curve            | int
column StandardizedEst | Standardized Estimate   | estimate
column RhsLabelYValue  | Label Height            | estimate
column PVal*           | {label}                 | pvalue
column LogPVal*        | {label}                 | logp
column AIC             | {label}                 | criterion
column AICC            | {label}                 | criterion
column SBC             | {label}                 | criterion
column RSQUARE         | {label}                 | ratio
column ADJRSQ          | {label}                 | ratio
column BIC             | {label}                 | criterion
column CP              | {label}                 | criterion
column PRESS           | {label}                 | criterion
column CVPRESS         | {label}                 | criterion
column CVEXPRESS       | {label}                 | criterion
column ValidationASE   | {label}                 | criterion
