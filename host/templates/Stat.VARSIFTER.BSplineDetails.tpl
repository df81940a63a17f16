title B-Spline Details
column Variable        | Variable          | text
column Column          | Design Column     | int
column Scale           | Scale             | int
column ScaleColumn     | Column at Scale   | int
column Left            | Support Left      | module
column Right           | Support Right     | module
column SupportingKnots | Supporting Knots  | text
column StartKnot       | First Knot        | int
column endKnot         | Last Knot         | int
