# Observation counts: one labelled count per line; the read/used and frequency columns
# are the data behind the counts, kept for the JSON record.
title {tableTitle}
noheaders
column DataSource   | Data Source           | text
column Label        | Observations          | text
column N            | Number                | count
column NObsRead     | Observations Read     | count | hidden
column NObsUsed     | Observations Used     | count | hidden
column SumFreqsRead | Sum of Frequencies Read | count | hidden
column SumFreqsUsed | Sum of Frequencies Used | count | hidden
column NObsTraining | Training Observations | count | hidden
