# Seconds spent in each section of the run; the indented rows are parts of the rows above
# them. Control is the blank marker column the procedure binds for every row.
title Procedure Task Timing
column CodeSection | Task    | text
column time        | Seconds | seconds
column Control     | Control | text | hidden
