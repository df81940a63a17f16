"""The oracle: random data and programs run through qrx, every printed step checked against
an independent least-squares computation (numpy/scipy in double, exact integer arithmetic
for ranks and pivots, scikit-learn's lars_path for the path methods)."""
