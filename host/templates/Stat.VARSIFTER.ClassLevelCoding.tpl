# The coding of one CLASS variable: one row per level, one design column per parameter.
column Class | Class | text
column Value | Level | text
column X*    | {label} | module
span Design Variables | X* | X*
