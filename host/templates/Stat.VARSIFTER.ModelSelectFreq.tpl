title Model Selection Frequency
column NotUsed         | Not Used          | int
column TimesSelected   | Times Selected    | int
column SelectionPct    | Selection Percentage | stat
column NEffectsInModel | Number of Effects | int
column FreqScore       | Frequency Score   | stat
column EffectsInModel  | Effects in Model  | text
column @EffectIndicator | {label}          | int
column Control         | Note              | text
footnote printFootnote | Models marked with "-" and below are not used in the averaging.
