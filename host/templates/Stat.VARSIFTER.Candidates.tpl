title {_TITLE}
column Rank         | Rank          | int
column Effect       | Effect        | text
column CandidateFor | Candidate For | text
column LogPValue    | Log P-Value   | logp
column ProbF        | Pr > F        | pvalue
column @Criterion   | {_criterionLabel} | criterion
