title Knots
column KnotNumber      | Knot Number       | int
column Scale           | Scale             | int
column ScaleKnotNumber | Knot at Scale     | int
column Boundary        | Boundary          | int
column @Variable       | {label}           | module
