title {tableHeader}
column Effect       | Effect            | text
column SelectionPct | Selection Percentage | stat
