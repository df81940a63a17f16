title Sure Independence Screening
column Rank    | Rank                   | int
column Effect  | Effect                 | text
column absCorr | Absolute Correlation   | estimate
column corrOut | Screened Out           | int
