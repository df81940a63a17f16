title Class Level Information
column Class  | Class  | text
column Levels | Levels | int
column Split  | Split  | text
column Values | Values | text
footnote printFootnote | * The effects of this CLASS variable are split into one effect per level.
