title Analysis of Variance
column Source | Source         | text
column DF     | DF             | count
column SS     | Sum of Squares | ss
column MS     | Mean Square    | ms
column FValue | F Value        | stat
column ProbF  | Pr > F         | pvalue | shown-by showProbF
