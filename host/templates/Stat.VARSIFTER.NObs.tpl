# Observation counts: one labelled count per line, the rows being those that apply (read,
# used, and under PARTITION the training, validation, test and role-less counts). The count
# columns are the data behind the rows, kept for the JSON record and never printed.
title {tableTitle}
noheaders
column DataSource         | Data Source                   | text
column Label              | Observations                  | text
column N                  | Number                        | count
column NObsRead           | Observations Read             | count | hidden
column NObsUsed           | Observations Used             | count | hidden
column SumFreqsRead       | Sum of Frequencies Read       | count | hidden
column SumFreqsUsed       | Sum of Frequencies Used       | count | hidden
column NObsTraining       | Training Observations         | count | hidden
column SumTrainingFreqs   | Sum of Training Frequencies   | count | hidden
column NObsValidation     | Validation Observations       | count | hidden
column SumValidationFreqs | Sum of Validation Frequencies | count | hidden
column NObsTest           | Test Observations             | count | hidden
column SumTestFreqs       | Sum of Test Frequencies       | count | hidden
column NObsIgnored        | Observations Without a Role   | count | hidden
column SumIgnoredFreqs    | Sum of Frequencies Without a Role | count | hidden
