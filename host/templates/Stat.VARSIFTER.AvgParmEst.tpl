title Average Parameter Estimates
title RefitAvgParmEst | Average Parameter Estimates of the Refit
title2 {title2}
column Effect               | Effect            | text
column @Var                 | {label}           | text
column @NumVar              | {label}           | module
column ForcedIn             | Forced In         | int
column Parameter            | Parameter         | text
column NumberNonzero        | Number Non-zero   | int
column TrimmedNumberNonzero | Trimmed Number Non-zero | int
column NonZeroPct           | Non-zero Percentage | stat
column Mean                 | {meanHeader}      | estimate
column StdDev               | {stdDevHeader}    | estimate
column Median               | Median            | estimate
column LowerQuantile        | {quantileLower}   | estimate
column UpperQuantile        | {quantileUpper}   | estimate
footnote printFootnote | Effects marked in the Forced In column are in every model.
