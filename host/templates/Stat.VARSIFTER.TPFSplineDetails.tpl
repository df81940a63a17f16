title Truncated Power Function Details
column Variable  | Variable      | text
column Column    | Design Column | int
column Power     | Power         | int
column BreakKnot | Break Knot    | module
