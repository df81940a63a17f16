title Polynomial Scaling
column Variable   | Variable        | text
column Minimum    | Minimum         | estimate
column Maximum    | Maximum         | estimate
column nObs       | Observations    | count
column SumFreqs   | Sum of Frequencies | module
column SumWeights | Sum of Weights  | module
column Sum        | Sum             | estimate
column SumSq      | Sum of Squares  | estimate
column Center     | Center          | estimate
column Scale      | Scale           | estimate
