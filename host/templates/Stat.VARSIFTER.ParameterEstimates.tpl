title Parameter Estimates
column Effect          | Effect            | text
column @Var            | {label}           | text
column @NumVar         | {label}           | module
column ForcedIn        | Forced In         | int
column Parameter       | Parameter         | text
column DF              | DF                | int
column Estimate        | Estimate          | estimate
column StandardizedEst | Standardized Estimate | estimate | shown-by showSTB
column StdErr          | Standard Error    | estimate
column tValue          | t Value           | stat
column Probt           | Pr > |t|          | pvalue | shown-by showProbt
column @CVEstimate     | {CVEstimateHead}  | estimate
span Cross Validation Estimates | {spanStart} | {spanEnd}
footnote printFootnote | Effects marked in the Forced In column are in every model.
