# One row: a label and the list of selected effects.
noheaders
column Label   | Label   | text
column Effects | Effects | text
