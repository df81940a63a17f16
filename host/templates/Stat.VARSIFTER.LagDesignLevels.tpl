title Lag Design Levels
column ConstructedEffect | Effect       | text
column Role              | Role         | int
column @Subject          | {label}      | module
column @Period           | {label}      | module
span {PeriodVarLabel} | {spans} | {spane}
