title Elastic Net L2 Search
column Step           | Step                | int
column L2             | L2                  | estimate
column L1Ratio        | L1 Ratio            | estimate
column CriterionValue | Criterion           | criterion
column OptCriterion   | Optimal             | int   | hidden
column nVar           | Number of Effects   | int
column L2Norm         | L2 Norm             | estimate
column L1Norm         | L1 Norm             | estimate
column nSteps         | Number of Steps     | int
