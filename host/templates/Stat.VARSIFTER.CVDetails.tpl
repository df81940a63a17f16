title Cross Validation Details
column Index        | Index                 | int   | hidden
column Fold         | Fold                  | text
column @IndexNumVar | {label}               | module
column @IndexCharVar | {label}              | text
column NOBSFITTED   | Observations Fitted   | count
column NOBSLEFTOUT  | Observations Left Out | count
column CVPRESS      | CV PRESS              | criterion
