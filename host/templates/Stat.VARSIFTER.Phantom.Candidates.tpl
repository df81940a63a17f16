# Data for the candidates graph of a step: the candidates best first.
title {_TITLE}
column Effect        | Effect             | text
column CandidateFor  | Candidate For      | int
column Criterion     | Criterion          | criterion
column CriterionDrop | Criterion for Drop | criterion
