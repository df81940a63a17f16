#!/usr/bin/python3
"""Runs a scoring module written by CODE FILE= over a CSV data set: one line per row with
the predicted value (repr, so it reads back exactly) or an empty line when score() gives
None. Usage: run_scoring_code.py SCORE.py DATA.csv"""
import csv
import importlib.util
import sys


def main():
    spec = importlib.util.spec_from_file_location("scoring", sys.argv[1])
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    with open(sys.argv[2], newline="") as f:
        for row in csv.DictReader(f):
            value = module.score(row)
            print("" if value is None else repr(value))


if __name__ == "__main__":
    main()
