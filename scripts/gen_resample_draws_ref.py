#!/usr/bin/python3
"""Reference draws of model averaging's bootstrap, made without the code under test.

Each resampler's stream is a 32-bit Mersenne twister seeded with SEED= plus the resampler's
index (the 1998 seeding, state[i] = 69069 state[i-1], when the seed's low 13 bits are not
all 0, else the 2002 seeding); a uniform is a tempered output times 2^-32, an output of 0
being skipped. A bootstrap sample of size m over N rows is drawn row by row: copy k (k = 1
to N) takes Binomial(m - drawn so far, 1 / (N - k + 1)) of the draws still open, the last
copy taking all that are left, and no copy is visited once m draws are made. The binomial
variate is the normal approximation when n > 300 and both n p and n (1 - p) exceed 5, else
the inversion from the tail of the smaller probability with one uniform; p = 1 is no
exception and takes its uniform like any other p.

Writes tests/data/resample/draws.txt, one line per sample:
"CASE SAMPLE f1 ... fN" with CASE naming the run of tests/programs/model_average_draws_test.
"""
import math
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "resample",
                   "draws.txt")
MASK = 0xFFFFFFFF
TINY = 2.2250738585072018e-307
CUM_LIMIT = 0.9999999999999999


class Twister:
    def __init__(self, seed):
        s = [seed & MASK]
        for i in range(1, 624):
            prev = s[-1]
            if seed % 8192 != 0:
                s.append((69069 * prev) & MASK)
            else:
                s.append((1812433253 * (prev ^ (prev >> 30)) + i) & MASK)
        self.state = s
        self.index = 624

    def regenerate(self):
        s = self.state
        for k in range(624):
            y = (s[k] & 0x80000000) | (s[(k + 1) % 624] & 0x7FFFFFFF)
            s[k] = s[(k + 397) % 624] ^ (y >> 1) ^ (0x9908B0DF if y & 1 else 0)
        self.index = 0

    def uniform(self):
        while True:
            if self.index >= 624:
                self.regenerate()
            y = self.state[self.index]
            self.index += 1
            y ^= y >> 11
            y ^= (y << 7) & 0x9D2C5680
            y ^= (y << 15) & 0xEFC60000
            y ^= y >> 18
            y &= MASK
            if y != 0:
                return y * 2.3283064365386963e-10

    def binomial(self, n, p):
        dn = float(n)
        mean = dn * p
        if n > 300 and mean > 5.0 and dn * (1.0 - p) > 5.0:
            sigma = math.sqrt((1.0 - p) * mean)
            while True:
                u1 = self.uniform()
                u2 = self.uniform()
                x = math.trunc(
                    math.cos(6.283185307179586 * u2) * math.sqrt(-2.0 * math.log(u1)) * sigma +
                    mean + 0.5)
                if 0 <= x <= dn:
                    return float(x)
        if p <= 0.5:
            start, q = math.exp(dn * math.log(1.0 - p)), p
        else:
            start, q = math.exp(dn * math.log(p)), 1.0 - p
        r = q / (1.0 - q)
        g = (dn + 1.0) * r
        if start < TINY:
            raise ValueError("start probability underflows")
        u = self.uniform()
        x, f, F = 0.0, start, start
        while F < u and F <= CUM_LIMIT and f >= TINY:
            x += 1.0
            f = f * (g / x - r)
            F += f
        return x if p <= 0.5 else dn - x


def bootstrap(stream, rows, m):
    seen = drawn = 0.0
    freqs = []
    for _ in range(rows):
        c = 0.0
        if drawn < m:
            seen += 1.0
            p = 1.0 / (rows - seen + 1.0)
            d = stream.binomial(int(m - drawn), p)
            drawn += d
            c += d
        freqs.append(c)
    return freqs


# name, SEED=, NSAMPLES=, NTHREADS$=, rows, sample size (0: the rows)
CASES = [
    ("seed7", 7, 6, 2, 12, 0),
    ("seed8192size", 8192, 3, 1, 12, 700),
]


def main():
    lines = []
    for name, seed, samples, threads, rows, size in CASES:
        m = size if size else rows
        sample = 0
        for t in range(threads):
            stream = Twister(seed + t)
            count = samples // threads + (1 if t < samples % threads else 0)
            for _ in range(count):
                sample += 1
                freqs = bootstrap(stream, rows, m)
                assert sum(freqs) == m
                lines.append(f"{name} {sample} " + " ".join(str(int(f)) for f in freqs))
    with open(OUT, "w") as out:
        out.write("\n".join(lines) + "\n")


main()
