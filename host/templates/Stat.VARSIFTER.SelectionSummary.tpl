# One row per step of the selection path; the optimum of each criterion is marked '*'.
title {titleText}
column Step             | Step               | int
column NormBeta         | Scaled L1 Norm     | ratio
column StepLabel        | Step Label         | text | hidden
column EffectEntered    | Effect Entered     | text
column EffectRemoved    | Effect Removed     | text
column nEffectsIn       | Number Effects In  | int
column nParmsIn         | Number Parms In    | int  | shown-by showNParmsIn
column RSquare          | R-Square           | ratio | shown-by showRSquare
column AdjRSq           | Adjusted R-Square  | ratio | shown-by showAdjRSq
column AIC              | AIC                | criterion | shown-by showAIC
column AICC             | AICC               | criterion | shown-by showAICC
column BIC              | BIC                | criterion | shown-by showBIC
column CP               | CP                 | criterion | shown-by showCP
column SBC              | SBC                | criterion | shown-by showSBC
column PRESS            | PRESS              | criterion | shown-by showPRESS
column FValue           | F Value            | stat   | shown-by showFValue
column ProbF            | Pr > F             | pvalue | shown-by showProbF
column ASE              | ASE                | criterion | shown-by showASE
column ValidationASE    | Validation ASE     | criterion | shown-by showASE
column TestASE          | Test ASE           | criterion | shown-by showASE
column CVPRESS          | CV PRESS           | criterion
column CVEXPRESS        | External CV PRESS  | criterion
column StepL1Ratio      | L1 Ratio           | ratio
column StepL1Norm       | L1 Norm            | estimate
column StepL1Value      | L1 Value           | estimate
footnote printFootnote | * Optimal value of criterion
