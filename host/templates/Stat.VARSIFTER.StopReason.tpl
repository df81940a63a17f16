noheaders
column Reason | Reason | text
column Code   | Code   | int | hidden
