# One row per OUTDESIGN design column: its name and the parameter it holds.
title Parameter Names
column Name      | Name      | text
column Parameter | Parameter | text
column _BY_      | BY Group  | int
