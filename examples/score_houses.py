"""Runs the scoring code that examples/score_store_code.qrx wrote over examples/houses.csv
and prints the first predictions beside those of the SCORE statement. Run from the
repository root after the example program: python3 examples/score_houses.py"""
import csv
import importlib.util

spec = importlib.util.spec_from_file_location("houses_score", "examples/houses_score.py")
module = importlib.util.module_from_spec(spec)
spec.loader.exec_module(module)

with open("examples/houses.csv", newline="") as f:
    houses = list(csv.DictReader(f))
with open("examples/houses_scored.csv", newline="") as f:
    scored = list(csv.DictReader(f))

for row, done in list(zip(houses, scored))[:5]:
    print(f"{row['type']:9} {row['district']:8} code: {module.score(row):9.3f}  "
          f"SCORE: {float(done['p_price']):9.3f}")
