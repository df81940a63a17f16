title Cross Validation Details
column Index        | Index                 | int
column @IndexNumVar | {label}               | module
column @IndexCharVar | {label}              | text
column NOBSFITTED   | Observations Fitted   | count
column NOBSLEFTOUT  | Observations Left Out | count
column CVPRESS      | CV PRESS              | criterion
