#!/usr/bin/env python3
"""Makes examples/houses.csv: 600 made-up house sales for the example programs.

The price (thousands) depends on the floor area, the age (through a curve), the number of
rooms, the distance to the centre, the house type and the district; the lot size, the year of
sale, a quality score and two noise columns are candidates that matter little or not at all.
Run with Debian's python3 (numpy): /usr/bin/python3 scripts/gen_example_houses.py
"""
import csv
import os

import numpy as np

rng = np.random.default_rng(2)
n = 600
types = ["Detached", "Semi", "Terraced", "Flat"]
type_effect = {"Detached": 60.0, "Semi": 25.0, "Terraced": 0.0, "Flat": -30.0}
districts = ["North", "South", "East", "West", "Centre", "Harbour", "Hill", "Park"]
district_effect = dict(zip(districts, [10.0, -15.0, 0.0, 5.0, 45.0, 20.0, 0.0, -5.0]))

rows = []
for i in range(n):
    t = types[rng.choice(4, p=[0.3, 0.25, 0.25, 0.2])]
    d = districts[rng.integers(8)]
    area = max(35.0, rng.normal(120 if t != "Flat" else 70, 30))
    rooms = int(np.clip(round(area / 25 + rng.normal(0, 1)), 1, 9))
    age = float(rng.integers(0, 100))
    dist = round(float(rng.gamma(2.0, 2.5)), 2)
    lot = round(float(max(0.0, rng.normal(400 if t != "Flat" else 0, 150))), 0)
    year = int(rng.integers(2019, 2025))
    quality = int(np.clip(round(rng.normal(6, 2)), 1, 10))
    noise1 = round(float(rng.normal()), 4)
    noise2 = round(float(rng.uniform(0, 100)), 2)
    price = (80 + 1.9 * area + 6.0 * rooms - 2.4 * age + 0.024 * age * age - 4.0 * dist
             + type_effect[t] + district_effect[d] + 3.0 * (year - 2019) + 2.5 * quality
             + rng.normal(0, 25))
    rows.append([round(price, 1), round(area, 1), rooms, age, dist, lot, year, quality,
                 t, d, noise1, noise2])

out = os.path.join(os.path.dirname(__file__), "..", "examples", "houses.csv")
with open(out, "w", newline="") as f:
    w = csv.writer(f, lineterminator="\n")
    w.writerow(["price", "area", "rooms", "age", "dist", "lot", "year", "quality", "type",
                "district", "noise1", "noise2"])
    w.writerows(rows)
