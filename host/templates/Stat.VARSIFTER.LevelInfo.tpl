title Level Information
column Levels | Levels | int
column Values | Values | text
