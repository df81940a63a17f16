title External Cross Validation Details
column Fold          | Fold                   | int
column Step          | Step                   | int
column nVar          | Number of Parameters   | int
column L1Ratio       | L1 Ratio               | estimate
column Interpolation | Curvature              | estimate
column ASEValidate   | Held-Out ASE           | criterion
column L2            | L2                     | estimate
column L2Norm        | L2 Norm                | estimate
column L1Norm        | L1 Norm                | estimate
column L1Value       | L1 Value               | estimate
