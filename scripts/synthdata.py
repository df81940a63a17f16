"""Synthetic test inputs made from a recipe rather than committed: a 64-bit LCG whose draws
stay integers (values in units of 10^-d, written with d decimals), so that this module and
tests/programs/synthdata.h, which follows it step for step, write byte-identical CSV text.
Change one side only together with the other and regenerate the references that read it."""

import random

MASK = (1 << 64) - 1


class Draws:
    """The LCG stream: every draw is the upper 32 bits of the next state."""

    def __init__(self, seed):
        self.state = seed & MASK

    def bits(self):
        self.state = (self.state * 6364136223846793005 + 1442695040888963407) & MASK
        return self.state >> 32

    def below(self, n):
        """An integer in [0, n)."""
        return self.bits() % n

    def normal(self, scale):
        """A normal-ish draw (twelve uniforms less 6) times scale, floored; scale <= 2^28."""
        s = sum(self.bits() for _ in range(12)) - 6 * (1 << 32)
        return (s * scale) >> 32


def fixed(v, decimals):
    """The integer v in units of 10^-decimals as text with that many decimals."""
    whole, part = divmod(abs(v), 10**decimals)
    return "%s%d.%0*d" % ("-" if v < 0 else "", whole, decimals, part)


def level(k):
    """The name of level k (from 0)."""
    return "L%04d" % (k + 1)


E8 = 10**8


def level_index_csv(levels=1500):
    """y,z,x1,g: two rows per level; z is the level's number plus noise of sd 1e-7 (ten
    decimals), x1 normal, y the level's normal effect + x1 + normal noise (eight decimals).
    Whether a too lax rank rule takes a rounding pivot here is luck of the rounding: the seed
    is one on which the rule that took no account of the rounding of z's products does."""
    d = Draws(7)
    effect = [d.normal(E8) for _ in range(levels)]
    text = "y,z,x1,g\n"
    for r in range(2 * levels):
        k = r // 2
        z = (k + 1) * 10**10 + d.normal(1000)
        x1 = d.normal(E8)
        y = effect[k] + x1 + d.normal(E8)
        text += "%s,%s,%s,%s\n" % (fixed(y, 8), fixed(z, 10), fixed(x1, 8), level(k))
    return text


def tiny_weight_csv(levels=1000, rows=2000):
    """y,w,w5,x1-x6,g: rows 0..rows-2 take levels 0..levels-2 in turn with weights in
    [0.5, 1.5) (six decimals); the last row alone is the last level, of weight 1e-4 in w and
    1e-5 in w5. y is the level's normal effect of sd 2 + x1 + normal noise. The seed is one
    on which rules too lax (1e-8 of the diagonal alone, or none on the level columns) take
    the last level's rounding pivot, as about half of the seeds do."""
    d = Draws(15)
    effect = [d.normal(2 * E8) for _ in range(levels)]
    text = "y,w,w5,x1,x2,x3,x4,x5,x6,g\n"
    for r in range(rows):
        last = r == rows - 1
        k = levels - 1 if last else r % (levels - 1)
        w = 500000 + ((d.bits() * 10**6) >> 32)
        xs = [d.normal(E8) for _ in range(6)]
        y = effect[k] + xs[0] + d.normal(E8)
        weights = [100, 10] if last else [w, w]
        text += ",".join([fixed(y, 8)] + [fixed(v, 6) for v in weights] +
                         [fixed(x, 8) for x in xs] + [level(k)]) + "\n"
    return text


def split_lasso_csv(rows=2600, levels=1050, strong=30):
    """y,g,x1,x2,x3 (six decimals): `strong` distinct levels have effect +-2, the others 0;
    the first `levels` rows take every level in turn, the rest uniform levels;
    y = effect + 1.5 x1 - x2 + normal noise, x1-x3 normal."""
    d = Draws(45)
    effect = [0] * levels
    chosen = 0
    while chosen < strong:
        k = d.below(levels)
        if effect[k] == 0:
            effect[k] = 2000000 if d.below(2) else -2000000
            chosen += 1
    text = "y,g,x1,x2,x3\n"
    for r in range(rows):
        k = r if r < levels else d.below(levels)
        x = [d.normal(10**6) for _ in range(3)]
        y = effect[k] + ((3 * x[0]) >> 1) - x[1] + d.normal(10**6)
        text += "%s,%s,%s\n" % (fixed(y, 6), level(k), ",".join(fixed(v, 6) for v in x))
    return text


def effect_empty_csv(levels=60):
    """y,g,x1,x2,x3,keep,w (eight decimals): level k has 1 + k % 3 rows; the rows of every
    17th level from the sixth have keep 0 (no rows in the fit under a role variable), those of
    the 11th and 12th weight 1e-10, the others 1; y = 8 times the level's normal effect
    + 3 x1 + normal noise, x1-x3 normal."""
    d = Draws(46)
    effect = [d.normal(E8) for _ in range(levels)]
    text = "y,g,x1,x2,x3,keep,w\n"
    for k in range(levels):
        for _ in range(1 + k % 3):
            x = [d.normal(E8) for _ in range(3)]
            y = 8 * effect[k] + 3 * x[0] + d.normal(E8)
            text += "%s,%s,%s,%d,%s\n" % (fixed(y, 8), level(k), ",".join(fixed(v, 8) for v in x),
                                          0 if k % 17 == 5 else 1,
                                          "1e-10" if k in (10, 11) else "1")
    return text


def split_adaptive_csv(rows=600, levels=40):
    """y,c,x1,x2 (six decimals): every fourth level from the first has effect +-2, the others
    0; the first `levels` rows take every level in turn, the rest uniform levels;
    y = effect + 1.5 x1 + normal noise, x1 and x2 normal."""
    d = Draws(48)
    effect = [(2000000 if d.below(2) else -2000000) if k % 4 == 0 else 0 for k in range(levels)]
    text = "y,c,x1,x2\n"
    for r in range(rows):
        k = r if r < levels else d.below(levels)
        x = [d.normal(10**6) for _ in range(2)]
        y = effect[k] + ((3 * x[0]) >> 1) + d.normal(10**6)
        text += "%s,%s,%s,%s\n" % (fixed(y, 6), level(k), fixed(x[0], 6), fixed(x[1], 6))
    return text


def near_copy_csv(rows=200):
    """y,x1-x6,n1,n2,n3,s: x1-x6 normal (four decimals); n1 and n3 are x1, n2 is x2, each
    plus normal noise of sd 1e-7 (eight decimals); s is (x2 + x3 + x4)(1 + 1e-12) written
    exactly (sixteen decimals); y = 3 x1 - 2 x2 + 1.5 x3 + x4 + 0.5 x5 - x6 + normal noise."""
    d = Draws(52)
    text = "y,x1,x2,x3,x4,x5,x6,n1,n2,n3,s\n"
    for _ in range(rows):
        x = [d.normal(10**4) for _ in range(6)]
        y = 3 * x[0] - 2 * x[1] + ((3 * x[2]) >> 1) + x[3] + (x[4] >> 1) - x[5] + d.normal(10**4)
        fields = [fixed(y, 4)] + [fixed(v, 4) for v in x]
        fields += [fixed(v * 10**4 + d.normal(10), 8) for v in (x[0], x[1], x[0])]
        fields.append(fixed((x[1] + x[2] + x[3]) * 1000000000001, 16))
        text += ",".join(fields) + "\n"
    return text


def skew_spline_csv(rows=200):
    """y,x,z (six decimals): x is 1000 times a squared normal draw, z normal; y is +-20 by the
    parity of floor(x / 100), plus 3 z and normal noise of sd 8. A cubic truncated-power
    basis on x's percentiles is nearly dependent on this skewed x."""
    d = Draws(60)
    text = "y,x,z\n"
    for _ in range(rows):
        a = d.normal(1000)
        x = a * a * 1000
        z = d.normal(10**6)
        e = d.normal(8 * 10**6)
        y = 3 * z + e + (20 * 10**6 if (x // 10**8) % 2 == 0 else -20 * 10**6)
        text += "%s,%s,%s\n" % (fixed(y, 6), fixed(x, 6), fixed(z, 6))
    return text


def wide_lar_csv(rows=260, cols=1000):
    """y,x1..x<cols> (six decimals): the x's normal, y = 2 x1 - 2 x2 + x3 + x4 - x5 + normal
    noise."""
    d = Draws(54)
    text = "y," + ",".join("x%d" % (c + 1) for c in range(cols)) + "\n"
    for _ in range(rows):
        x = [d.normal(10**6) for _ in range(cols)]
        y = 2 * x[0] - 2 * x[1] + x[2] + x[3] - x[4] + d.normal(10**6)
        text += ",".join(fixed(v, 6) for v in [y] + x) + "\n"
    return text


def constant_weight_csv(rows=5000, levels=1000, seed=26):
    """y,w,b,x1,x2,x3,c0,g: the first `levels` rows take every level in turn, the rest
    uniform levels; weights in [0.5, 2) (six decimals), except that of the rows after the
    first `levels` five in a hundred weigh 0 and two in a hundred 1e-9; b is 1 on the first
    half of the rows and 2 on the rest (BY groups); x1-x3 normal, c0 = 3 on every row; y = the
    level's normal effect + x1 + 2 x2 + 3 x3 + normal noise (eight decimals). The weighted
    mean of c0 is not exactly 3, so c0's sums about it are rounding alone; the seed is one on
    which a rule that judged them without the rounding of the centring took c0 on most
    roads (without selection, by passes per step, by folds, in BY groups, with g)."""
    d = Draws(seed)
    effect = [d.normal(E8) for _ in range(levels)]
    text = "y,w,b,x1,x2,x3,c0,g\n"
    for r in range(rows):
        k = r if r < levels else d.below(levels)
        w = fixed(500000 + ((d.bits() * 1500000) >> 32), 6)
        if r >= levels:
            u = d.below(100)
            w = "0" if u < 5 else "1e-9" if u < 7 else w
        x = [d.normal(E8) for _ in range(3)]
        y = effect[k] + x[0] + 2 * x[1] + 3 * x[2] + d.normal(E8)
        text += "%s,%s,%d,%s,3,%s\n" % (fixed(y, 8), w, 1 if r < rows // 2 else 2,
                                        ",".join(fixed(v, 8) for v in x), level(k))
    return text


def cv_folds_csv(rows=10000):
    """X1,X2,X3,Y (four decimals): the X's about 100 with sd 10, Y = 1000 + 50 X1 + 20 X2
    + 5 X3 + normal noise of sd 12: a close fit, each small fold's held-out error small
    against the sums over all rows."""
    d = Draws(7)
    text = "X1,X2,X3,Y\n"
    for _ in range(rows):
        x = [10**6 + d.normal(10**5) for _ in range(3)]
        y = 10**7 + 50 * x[0] + 20 * x[1] + 5 * x[2] + d.normal(12 * 10**4)
        text += ",".join(fixed(v, 4) for v in x + [y]) + "\n"
    return text


def cv_classes_csv(rows=2000):
    """x1,x2,x3,x4,g10,g120,Fold,y: x1-x4 normal about 10, 50, 100 and -20 with sd 2, 5, 10
    and 4 (three decimals); g10 a uniform level of 1..10; g120 the levels 1..120 in turn,
    shuffled; Fold a uniform index of 1..8; y = 5 + 2 x1 + 0.8 x2 + 0.1 x3 + 0.02 x4 + normal
    shifts of sd 1.5 by g10 and by g120 + normal noise of sd 3 (five decimals)."""
    d = Draws(2000)
    x = [[m * 1000 + d.normal(s * 1000) for _ in range(rows)]
         for m, s in ((10, 2), (50, 5), (100, 10), (-20, 4))]
    g10 = [d.below(10) for _ in range(rows)]
    g120 = [r % 120 for r in range(rows)]
    for i in range(rows - 1, 0, -1):
        j = d.below(i + 1)
        g120[i], g120[j] = g120[j], g120[i]
    fold = [1 + d.below(8) for _ in range(rows)]
    shift10 = [d.normal(150000) for _ in range(10)]
    shift120 = [d.normal(150000) for _ in range(120)]
    text = "x1,x2,x3,x4,g10,g120,Fold,y\n"
    for r in range(rows):
        y = (500000 + 200 * x[0][r] + 80 * x[1][r] + 10 * x[2][r] + 2 * x[3][r] +
             shift10[g10[r]] + shift120[g120[r]] + d.normal(300000))
        text += "%s,%d,%d,%d,%s\n" % (",".join(fixed(x[j][r], 3) for j in range(4)),
                                      g10[r] + 1, g120[r] + 1, fold[r], fixed(y, 5))
    return text


def level_weight_csv(levels, seed):
    """y,g,z,x1,w1e6,w3e8: two rows for each level of g; z = 10 (level / levels) + normal
    noise of sd 1e-5 (twelve decimals), so that the levels explain z to 1e-11 of its spread;
    x1 normal (eight decimals); y = 3 z + 2 x1 + 2 times the level's normal effect + normal
    noise of sd 0.3 (twelve decimals); the last level's rows weigh 1e-6 in w1e6 and 3e-8 in
    w3e8, the others 1."""
    d = Draws(seed)
    effect = [d.normal(E8) for _ in range(levels)]
    text = "y,g,z,x1,w1e6,w3e8\n"
    for r in range(2 * levels):
        k = r // 2
        z = 10**13 * k // levels + d.normal(10**7)
        x1 = d.normal(E8)
        y = 3 * z + (2 * x1 + 2 * effect[k] + d.normal(3 * 10**7)) * 10**4
        last = k == levels - 1
        text += "%s,%s,%s,%s,%s\n" % (fixed(y, 12), level(k), fixed(z, 12), fixed(x1, 8),
                                       "1e-06,3e-08" if last else "1,1")
    return text


def two_class_csv(rows=600, levels=120, seed=55):
    """y,g,x1,x2,x3,h (six decimals): a CLASS variable g (C001..) whose first `levels` rows
    take every level in turn and the rest uniform levels, with normal level means; h (H0..H5)
    uniform, shifting y by -1.5, -0.5, 0, 0.7, 1.3 or 0.4; x1-x3 normal; y = 2 times g's mean
    + h's shift + 3 x1 + normal noise. On the seed, FORWARD by SBC takes x1, then h before g."""
    shifts = [-1500000, -500000, 0, 700000, 1300000, 400000]
    d = Draws(seed)
    means = [d.normal(10**6) for _ in range(levels)]
    text = "y,g,x1,x2,x3,h\n"
    for r in range(rows):
        g = r if r < levels else d.below(levels)
        h = d.below(len(shifts))
        x = [d.normal(10**6) for _ in range(3)]
        y = 2 * means[g] + shifts[h] + 3 * x[0] + d.normal(10**6)
        text += "%s,C%03d,%s,H%d\n" % (fixed(y, 6), g + 1, ",".join(fixed(v, 6) for v in x), h)
    return text


def many_levels_csv(rows=600, levels=120):
    """y,g,x1,x2,x3 (six decimals): a CLASS variable g (C001..) whose first `levels` rows take
    every level in turn and the rest uniform levels, with normal level means; x1-x3 normal;
    y = 2 times g's mean + 3 x1 + normal noise. Drawn from Python's own random.Random(37) (the
    generator these rows first came from), which PyRandom in tests/programs/pivotcorpus.h
    follows draw for draw, and written by %.6f, which both languages round alike."""
    rng = random.Random(37)
    means = [rng.gauss(0.0, 1.0) for _ in range(levels)]
    text = "y,g,x1,x2,x3\n"
    for r in range(rows):
        g = r % levels if r < levels else rng.randrange(levels)
        x = [rng.gauss(0.0, 1.0) for _ in range(3)]
        y = 2.0 * means[g] + 3.0 * x[0] + rng.gauss(0.0, 1.0)
        text += "%.6f,C%03d,%.6f,%.6f,%.6f\n" % (y, g + 1, x[0], x[1], x[2])
    return text


def many_levels_roles_csv(levels=120):
    """many_levels_csv's rows with a role column r: the first `levels` rows (one of each
    level) train ('T'), and of the others those whose index ends in 1, 4 or 7 validate ('V'),
    in 9 test ('S'), the rest train."""
    lines = many_levels_csv(levels=levels).splitlines()
    text = lines[0] + ",r\n"
    for r, line in enumerate(lines[1:]):
        role = "T" if r < levels else "V" if r % 10 in (1, 4, 7) else "S" if r % 10 == 9 else "T"
        text += "%s,%s\n" % (line, role)
    return text


def columns(text):
    """The header's names and the rows of the CSV text as lists of fields."""
    lines = text.splitlines()
    return lines[0].split(","), [line.split(",") for line in lines[1:]]


def removal_drift_csv(levels=100, seed=71):
    """y,g,x1,x2,w: two rows for each level of g (L0001..), eight decimals; x1, x2 normal;
    weights w uniform on [0.5, 2) (six decimals); y = 100000 + 2 x1 + x2 + normal noise of
    sd 0.5, with no level effect. BACKWARD removes g first, then a spline of x1."""
    d = Draws(seed)
    text = "y,g,x1,x2,w\n"
    for r in range(2 * levels):
        x1 = d.normal(E8)
        x2 = d.normal(E8)
        w = 500000 + ((d.bits() * 1500000) >> 32)
        y = 10**13 + 2 * x1 + x2 + d.normal(E8 // 2)
        text += "%s,%s,%s,%s,%s\n" % (fixed(y, 8), level(r // 2), fixed(x1, 8), fixed(x2, 8),
                                       fixed(w, 6))
    return text


def two_level_sets_csv(rows=5000, g_levels=2000, h_levels=1000, seed=82):
    """y,g,h,x1,x2 (four decimals): CLASS variables g (L0000..) and h (M0000..), g_levels >=
    h_levels. Row r < g_levels is level r of g and r mod h_levels of h; the next h_levels - 1
    rows join level l of h to level l + 1 of g, which links every level of both to every other
    (so that every level is estimable beside the other variable); the rest take uniform levels.
    y = g's and h's normal level means of sd 3 + 2 x1 + normal noise; x1 and x2 normal. On the
    seed, x2's t test in the fit of y on g, h, x1 and x2 has a p-value of 0.30, so that
    BACKWARD at the usual 0.1 takes it out."""
    d = Draws(seed)
    g_mean = [d.normal(30000) for _ in range(g_levels)]
    h_mean = [d.normal(30000) for _ in range(h_levels)]
    text = "y,g,h,x1,x2\n"
    for r in range(rows):
        if r < g_levels:
            g, h = r, r % h_levels
        elif r < g_levels + h_levels - 1:
            g, h = r - g_levels + 1, r - g_levels
        else:
            g, h = d.below(g_levels), d.below(h_levels)
        x1, x2 = d.normal(10000), d.normal(10000)
        y = g_mean[g] + h_mean[h] + 2 * x1 + d.normal(10000)
        text += "%s,L%04d,M%04d,%s,%s\n" % (fixed(y, 4), g, h, fixed(x1, 4), fixed(x2, 4))
    return text


def level_retake_csv(levels=40, rows=200, seed=1):
    """y,g,z,x1,x2 (eight decimals): the first `levels` rows take every level of g (L0001..) in
    turn, the rest uniform levels; z is a normal value of the level, so that beside the
    intercept it leaves two of g's columns dependent; x1, x2 normal; y = 2 z + the level's
    normal effect of sd 0.5 + 3 x1 + x2 / 4 + normal noise. STEPWISE by significance takes x1,
    z, g and then x2; on the seed, the removal trial of z, which takes g's columns again with
    one more level, left the many-level road's reduced sums of that trial behind for x2's
    entry trial, and their factor failed."""
    d = Draws(seed)
    effect = [d.normal(E8 // 2) for _ in range(levels)]
    value = [d.normal(E8) for _ in range(levels)]
    text = "y,g,z,x1,x2\n"
    for r in range(rows):
        k = r if r < levels else d.below(levels)
        x1 = d.normal(E8)
        x2 = d.normal(E8)
        y = 2 * value[k] + effect[k] + 3 * x1 + (x2 >> 2) + d.normal(E8)
        text += "%s,%s,%s,%s,%s\n" % (fixed(y, 8), level(k), fixed(value[k], 8), fixed(x1, 8),
                                       fixed(x2, 8))
    return text


def effect_pivot_csv(levels=1000, seed=90):
    """y,g,w (eight decimals): one row for each level of g (L0001..) and a second for every
    third; y = 100,000 + the level's normal effect of sd 10 + normal noise of sd 0.5; the rows
    of the 2nd level weigh 0, those of every 25th from the 4th 1e-9, the last level's (the
    reference under the effect coding) 1.5 and the others' from 0.5 to 1.5. The levels of
    tiny weight fall below the rank rule's 1e-8 one by one, so that the last column (the
    999th level's) is left a pivot of their weights' order, above 1e-8 of its diagonal but
    within the rounding that its coefficients on the other levels, all coupled through the
    reference level's rows, can leave."""
    d = Draws(seed)
    effect = [10 * d.normal(E8) for _ in range(levels)]
    text = "y,g,w\n"
    for k in range(levels):
        for _ in range(1 + (k % 3 == 0)):
            y = 10**13 + effect[k] + d.normal(E8 // 2)
            w = ("0" if k == 1 else "1e-9" if k % 25 == 3 else "1.5" if k == levels - 1 else
                 fixed(E8 // 2 + d.below(E8), 8))
            text += "%s,%s,%s\n" % (fixed(y, 8), level(k), w)
    return text


def effect_fold_csv(levels=170, rows=340, seed=2):
    """y,z,c,x1,x2,m,w,f: rows of uniform levels of m but the last, whose one row (the last)
    weighs 1e-8, the others from 0.5 to 2 (eight decimals), with frequencies 1 to 3; z is the
    level's number plus noise of sd 1e-5 (ten decimals), c 1 on every 40th level from the 8th
    plus noise of sd 1e-4, x1 and x2 normal, y the level's normal effect + x1 + normal noise
    (eight decimals). Under the effect coding with SPLIT(3) folds each fold leaves a third of
    the levels without rows and the reference level at weight 1e-8 or none; the levels that c
    nearly follows enter a fold's elimination at pivots near 1e-7 of their diagonals, and the
    levels after them at pivots that z leaves near 1e-8. The seed is one on which a fold's
    levels, judged by their pivots alone, took a column more than its rows determine."""
    d = Draws(seed)
    effect = [d.normal(E8) for _ in range(levels)]
    text = "y,z,c,x1,x2,m,w,f\n"
    for r in range(rows):
        k = levels - 1 if r == rows - 1 else d.below(levels - 1)
        z = (k + 1) * 10**10 + d.normal(10**5)
        c = (E8 if k % 40 == 7 else 0) + d.normal(10**4)
        x1 = d.normal(E8)
        x2 = d.normal(E8)
        y = effect[k] + x1 + d.normal(E8)
        w = "1e-8" if k == levels - 1 else fixed(E8 // 2 + d.below(3 * E8 // 2), 8)
        text += "%s,%s,%s,%s,%s,%s,%s,%d\n" % (fixed(y, 8), fixed(z, 10), fixed(c, 8), fixed(x1, 8),
                                              fixed(x2, 8), level(k), w, 1 + d.below(3))
    return text


def level_drift_csv(levels=187, rows=779, seed=5):
    """y,z,x1,x2,w,fold,m1: the first `levels` rows take every level of m1 (L0001..) in turn,
    the rest uniform levels; z is the level's number (from 0) plus noise of sd 2e-5 (ten
    decimals), x1 and x2 normal, y the level's normal effect + x1 + normal noise (eight
    decimals); a fifteenth of the rows weigh 0 and as many 1e-9, the rest 0.5 to 2 (nine
    decimals); folds 1 to 5. Levels whose rows weigh next to nothing have pivots below the
    refusal line; under the effect coding, beside z, the seeds (5 for BACKWARD by index
    folds, 75 at 1155 levels and 2540 rows for STEPWISE) are ones on which the drift of the
    many-level road's level pivots takes such a level and the levels then span the intercept
    to rounding."""
    d = Draws(seed)
    effect = [d.normal(E8) for _ in range(levels)]
    text = "y,z,x1,x2,w,fold,m1\n"
    for r in range(rows):
        k = r if r < levels else d.below(levels)
        z = k * 10**10 + d.normal(200000)
        x1 = d.normal(E8)
        x2 = d.normal(E8)
        y = effect[k] + x1 + d.normal(E8)
        u = d.below(15)
        w = 0 if u == 0 else 1 if u == 1 else 5 * E8 + d.below(15 * E8)
        text += "%s,%s,%s,%s,%s,%d,%s\n" % (fixed(y, 8), fixed(z, 10), fixed(x1, 8), fixed(x2, 8),
                                          fixed(w, 9), 1 + d.below(5), level(k))
    return text


def fold_copy_csv(levels=200, e=3):
    """y,g,x1,x2 (x1 and x2 in 8 + e decimals, y in eight): ten rows a level (level k on rows
    10k..10k+9), so that SPLIT(5) folds (row r in fold r mod 5) leave every level two rows
    each; x1 normal, x2 = x1 plus normal noise of sd 10^-e except on fold 1's rows (r mod 5
    == 1), where the noise has sd 1: the folds that leave fold 1 out see x2 within 10^-e of
    x1, and their refits extrapolate onto fold 1's rows. y = the level's normal effect + x1 +
    normal noise."""
    d = Draws(74 + e)
    effect = [d.normal(E8) for _ in range(levels)]
    unit = 10**e
    text = "y,g,x1,x2\n"
    for r in range(10 * levels):
        k = r // 10
        x1 = d.normal(E8) * unit
        x2 = x1 + (d.normal(E8) * unit if r % 5 == 1 else d.normal(E8))
        y = effect[k] + x1 // unit + d.normal(E8)
        text += "%s,%s,%s,%s\n" % (fixed(y, 8), level(k), fixed(x1, 8 + e), fixed(x2, 8 + e))
    return text


if __name__ == "__main__":
    # Prints the named input, for the test that checks that synthdata.h makes the same text.
    import sys

    MAKERS = {"levelindex": level_index_csv, "tinyweight": tiny_weight_csv,
              "splitlasso": split_lasso_csv, "effectempty": effect_empty_csv,
              "splitadaptive": split_adaptive_csv, "nearcopy": near_copy_csv,
              "skewspline": skew_spline_csv, "widelar": wide_lar_csv,
              "constantweight": constant_weight_csv, "cvfolds": cv_folds_csv,
              "cvclasses": cv_classes_csv, "twoclass": two_class_csv,
              "manylevels": many_levels_csv, "manylevelsroles": many_levels_roles_csv,
              "levels1000": lambda: level_weight_csv(1000, 60),
              "levels3000": lambda: level_weight_csv(3000, 61),
              "removaldrift": removal_drift_csv, "twolevelsets": two_level_sets_csv,
              "levelretake": level_retake_csv, "effectpivot": effect_pivot_csv,
              "effectfold": effect_fold_csv, "leveldrift": level_drift_csv,
              "leveldrift1155": lambda: level_drift_csv(1155, 2540, 75),
              "foldcopy": fold_copy_csv}
    sys.stdout.write(MAKERS[sys.argv[1]]())

