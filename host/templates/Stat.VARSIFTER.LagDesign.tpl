title Lag Design
column ConstructedEffect | Effect       | text
column Role              | Role         | int
column @WithinNumVar     | {label}      | module
column @WithinCharVar    | {label}      | text
column @PeriodNumVar     | {label}      | module
column @PeriodCharVar    | {label}      | text
span {PeriodVarLabel} | {spans} | {spane}
