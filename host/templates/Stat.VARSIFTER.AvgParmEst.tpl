title Average Parameter Estimates
column Effect               | Effect            | text
column Parameter            | Parameter         | text
column NumberNonzero        | Number Non-zero   | int
column TrimmedNumberNonzero | Trimmed Number Non-zero | int
column NonZeroPct           | Non-zero Percentage | stat
column Mean                 | Mean Estimate     | estimate
column StdDev               | Standard Deviation | estimate
column Median               | Median            | estimate
column LowerQuantile        | {quantileLower}   | estimate
column UpperQuantile        | {quantileUpper}   | estimate
