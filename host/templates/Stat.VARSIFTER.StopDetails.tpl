title Stop Details
column CandidateFor      | Candidate For     | text
column Effect            | Effect            | text
column Criterion         | {CriterionHeader} | criterion
column Comparison        | Compare           | text
column CompareCriterion  | {CompareCriterionHeader} | criterion
column SignificanceLabel | Level             | text
