"""Seeds whose programs once found a fault that is now mended, and at the end those of faults
still open (pending.py): the oracle runs them beside the sample (--regressions), so that a
change bringing one back fails at once rather than in the next long run. A seed listed here
keeps its first program: the feature draws never take it. Each seed maps to what it found."""

REGRESSIONS = {
    3097: "a spline candidate's AdjRSq from the trial block, 0.69684 against 0.69460 entered",
    3128: "candidates of a refined model tried off the swept sums (growing road): SBC apart",
    77375: "a spline's basis swept before the Intercept as the many-level effect left it",
    102733: "a fold refused a B-spline column whose sums a held-out row's mean had worn",
    200010: "1 and 8 threads summed pages apart (ill-conditioned LASSO)",
    203832: "CV PRESS of folds summed about a mean a far held-out row dominated (TPF)",
    204106: "BACKWARD's stop re-entered the undone effect last (Model DF one above the columns)",
    207084: "removals on the many-level road reverse-swept after the effect had left",
    207224: "CV fold sums taken as the total less the fold's own",
    207868: "1 and 8 threads took different paths (45 steps against 32)",
    210782: "PRESS from a worn swept block; a candidate's BIC off its entry's",
    224819: "a POLY-coded level refused at a sound pivot under NOINT",
    225462: "a BY group's summary ASE against its step's perfect fit",
    227968: "BACKWARD's undo swept back other columns than the step held",
    230177: "PRESS leverages lost their digits; a spline entered on a trial its step missed",
    263415: "PRESS leverages from the rows' factor kept on a design whose rows lose them",
    282130: "a spline pivot taken as resolved by sums in double from one order of the rows",
    283429: "a removal trial's retaken levels left their reduced sums to the next entry",
    303422: "a thousand levels beside PRESS and doubtful pivots: minutes of row factors",
    310387: "CV PRESS of folds summed about a mean a far held-out row dominated (weighted)",
    320083: "group LASSO solver at its iteration limit: near copy beside a degree-11 polynomial",
    320632: "a removal's reverse sweeps beside the many-level effect: x1's standard error drifts",
    321062: "a re-sweep refused an active spline column whose coefficient stayed in the SSE",
    321315: "group LASSO solver at its iteration limit: near copy beside a POLY-coded CLASS",
    331850: "many-level road's PRESS leverages from the swept block beside a column near its span",
    331875: "an EFFECT-coded level's rounding bound without its coupling: the Intercept refused",
    400250: "a spline column refused at its turn, 4e-9 of its diagonal on the columns taken",
    403205: "the oracle left a polynomial's columns out of the saturated full model's rank",
    404117: "truncated powers of degree 60 whose pivots lie below 2^-511 (STEPWISE)",
    407903: "truncated powers of degree 60 whose pivots lie below 2^-511 (BY groups)",
    407936: "group LASSO solver at its iteration limit: polishes that shrank by a hair",
    411562: "an EFFECT-coded level taken by a bound without its coupling: Intercept refused",
    414245: "refinement from a worn swept inverse drove the error SS past the total",
    418655: "FORWARD's stop retook a column the step refused (Model DF one above the columns)",
    421431: "fold records reverse-swept where their own rows left the effect nearly dependent",
    423380: "a TPF column shifted by a mean that rounded away one fold's training rows",
    424327: "a spline column refused at its turn, 5e-10 of its diagonal on the columns taken",
    424954: "truncated powers of degree 60 whose pivots lie below 2^-511",
    444320: "spline columns refused against later ones where sums in double move the pivot 4%",
    450069: "a truncated power's pivot at half of 2^-511 with 9e-5 of its diagonal",
    451571: "a spline column refused at its turn, 1e-8 of its diagonal on the columns taken",
    460565: "the oracle's design run lost CVDETAILS= to its DETAILS= filter (saturated BY group)",
    461294: "spline columns refused at their turn that the columns taken span exactly",
    464160: "NOINT far response: a CLASS candidate's error SS from the swept sums, BIC missing",
    471151: "the oracle judged an empty NOINT model by numpy's rank of an unscaled TPF block",
    478030: "level pivots' drift took a level past its rows: Intercept lost, now refit packed",
    590078: "a fold's effect-coded levels took two columns past its rows' rank: Intercept "
            "refused; the packed road removed S1 where the many-level one removed m1, by a "
            "CV PRESS whose fold refit meets a column in the band (5.97e8 or 4.81e11)",
    612042: "a weighted B-spline column judged resolved by centred sums the fit keeps raw",
    641624: "lars_path turned a LAR column round where its coefficient crossed zero (FREQ)",
    663944: "INDEX levels met only in FREQ 0 rows counted as folds, cut to the rows: 9105",
    665585: "lars_path ended a LAR path at float32's epsilon, a column short of the engine",
    672198: "lars_path turned a LAR column round where its coefficient crossed zero (BY)",
    901137: "NOINT trials off the trial block sent 1,221 levels' PRESS to the rows' factor",
    901163: "BACKWARD by CV on the many-level road: drifted level pivots refused the Intercept",
    1002209: "a FREQ B-spline edge column judged resolved by centred sums the fit keeps raw",
    1009957: "the oracle's fold refits predicted a weighted response near 1.8e9 at its magnitude",
    1037774: "the oracle judged a rebuilt step's refused spline column only after later ones",
    1057562: "group LASSO solver at its iteration limit: a spline holding x1 and its near copy",
    1100956: "every used row of a BY group drew one RANDOM fold: a CV PRESS of no refits",
    1110041: "CV PRESS held to refits of a fold its double cross products cannot fix (0.29, 5.6)",
    1205122: "group LASSO solver at its iteration limit: a POLY-coded CLASS of 28 levels",
    1207831: "lars_path ended a LASSO path at float32's epsilon, a column short (WEIGHT)",
    1213223: "group LASSO solver at its iteration limit: powers, each its own group (WEIGHT); "
             "Y x 2^15 left v1^11, at its bound to the solver's tolerance, out at step 90",
    1902696: "FORWARD's stop undid an entry on the many-level road and lost a spline column",
    2500293: "the first group LASSO step left at 0: the step-factor probe overwrote the gradient",
    2500325: "adaptive LASSO of a response near 1e-9: weighted correlations taken as ties, 1 knot",
    2600171: "adaptive LASSO of a response near 1e-9 ended past its first knot (WEIGHT, far x)",
    # candidates judged against exact refits and their entries; inside the fixed sample too,
    # so that these seeds keep the programs that found the faults
    47: "a CLASS candidate's AIC 51.2694 against its refit's and its entry's 33.9164",
    96: "a candidate's criterion 7e-7 off what its entry printed",
    127: "a removal candidate beside a spline column the removal lets back in (Adj R-Sq)",
    277: "a spline candidate's Adj R-Sq 0.54099 against its entry's 0.53651",
    346: "a candidate's criterion 2e-9 off what its entry printed",
    351: "a spline's log p-value -14.53 against -10.44: the stop took the wrong candidate",
    379: "a spline candidate's C(p) 3959.36 against its entry's 3953.89",
    398: "a candidate's criterion off what its entry printed",
    581: "a spline candidate's C(p) 15.68 against its entry's 17.00",
    686: "STEPWISE by AIC removed x3 although the removal raised AIC, then stopped as cycling",
    3000001: "NOINT beside a far response: a perfect-fit stop where least squares leave 2,000",
    3000000: "many-level road's CV PRESS beside folds of nearly dependent training rows",
    515: "STEPWISE by VALIDATE on Y x 2^-15 stopped a step early: an absolute margin",
    4000000: "the oracle took the CHOOSE= optimum among the INCLUDE= rows (AIC, WEIGHT)",
    4000243: "NOINT far response: FULL and INCREMENTAL builds took other steps",
    4000321: "a path tie told by an absolute 1e-8: near copies parted with Y x 2^7",
    4000624: "a path tie told by an absolute 1e-8: 2 steps against 1 with Y x 4",
    4000814: "the oracle took the CHOOSE= C(p) optimum among the INCLUDE= rows (BY)",
    652: "a LASSO step's F from a fall 8.9e-6 off the SSEs of its printed estimates",
    417: "the oracle took a removal that left AIC as it was (x1 inside a spline) for a change "
         "of path with the rows permuted",
    5000198: "the oracle marked CHOOSE=ADJRSQ's best on an INCLUDE= row before step 0 was whole",
    5000329: "the oracle renumbered RANDOM folds around one a small BY group never drew",
    5000541: "the oracle took paths parting after a spline step refused other columns (BY, "
             "rows permuted) for another selection",
    5000552: "the oracle took paths parting after a degree-59 spline took another rank for "
             "another selection (rows permuted)",
    5000556: "the oracle chose among INCLUDE= rows of step 0 before its model was whole (CP)",
    5000656: "the oracle held a spread about 1.6e9 to 1e-10 (standardized estimate)",
    5000746: "NOINT, INCLUDE=2: forced steps' totals reset; perfect-fit stop at SSE 90.35 of 115",
    528: "CHOOSE=CVEX: each step's Fit Statistics print External CV PRESS 0",
    170: "CHOOSE=CVEX, LAR with BLOCK(5) folds: step Fit Statistics External CV PRESS 0",
    4000230: "a polynomial candidate's PRESS 1e-8 off its step's: leverages 1.4e-7 from 1 from "
             "factors in other column orders, estimates refined once and twice",
    6000300: "the intercept left alone by the many-level effect's removal: error SS from the "
             "rows 1.1e-11 above the corrected total (tied levels, BACKWARD)",
    6000321: "NOINT far mean, BACKWARD by BY group: step 0's estimates 1.4e-8 off, residuals "
             "rounded by eps times 1.9e9",
    6000365: "a removal candidate's SL 1.4e-8 off its step's: swept sums against the rows' "
             "error SS (NOINT far mean)",
    6000843: "a many-level candidate's SBC 2.3e-9 off its step's: its trial by diagonal blocks "
             "showed no inflation (tied levels, WEIGHT)",
    4000945: "the oracle took a stop one step apart, after a wide spline's step refused "
             "other columns in the band (rows permuted), for another selection",
    6000198: "the oracle forced the packed road by HIERARCHY=SINGLE over a polynomial's terms, "
             "which holds v1^2 back until v1 has entered",
    6000268: "a fold's many-level effect judged again by the whole rule: CV PRESS 286,028 "
             "against refits of 4.9e13, and the roads entered m1 and x2",
    8300117: "the many-level road capped reference-coded levels whose reference level weighs "
             "2e-8 of 476 as if they covered every row (Model DF 195 against 196)",
    8300165: "a small CLASS candidate tried by its diagonal block over the small columns "
             "beside the swept levels: C(p) 3848.87 against its step's 1623.92",
    8300172: "a small CLASS candidate tried by its diagonal block over the small columns "
             "beside the swept levels: AICC 534.41 against its step's 198.09",
    8300060: "the oracle counted a level whose pivot lies in the band (4.6e-9 of its diagonal, "
             "a reference level of weight 2e-8): AICC 1191.45 for the rule's 1186.16",
    8300099: "the oracle counted an effect-coded level whose pivot lies in the band (1.7e-9): "
             "Adj R-Sq 0.422592 for the rule's 0.423147",
    8300114: "the oracle counted effect-coded levels with a pivot in the band (1.4e-9) beside "
             "levels of weight 1e-9 and one without rows",
    8300115: "the oracle counted a level whose pivot lies in the band (7.0e-9): log p-value "
             "-1.1752 for the rule's -1.2661",
    8300156: "the oracle counted a level whose pivot lies in the band (9.8e-9): AICC 2759.88 for "
             "the rule's 2755.69",
    8300191: "the oracle counted an effect-coded level whose pivot lies below the band: Adj "
             "R-Sq 0.217154 for the rule's 0.218941",
    310: "NOINT beside a degree-60 spline: CV PRESS 5.50e45 from fold sums, refits 2.42e49",
    357: "CV PRESS from fold sums 2.5e-9 off the refits: held-out rows at leverage 4.3e7",
    4000170: "CV PRESS of a fold at scaled condition 3.8e7 from its sums, off its refit",
    4000350: "a fold at scaled condition 2e7 refused a column its rows determine (CV details)",
    4000878: "a wide spline's CV PRESS at step 0 from fold sums far from the fold refits",
    6000545: "CV PRESS far below the fold refits: a fold at condition 2.5e8 refused a column",
    6000589: "CV PRESS far below the fold refits: a fold at condition 2.4e8 refused a column",
    5000727: "a wide spline's CV PRESS below its fold refits' allowance at condition 1.2e13",
    9300028: "BUILDSSCP=INCREMENTAL over 2,961 levels grew its cross products: STEPWISE by "
             "split CV swept the levels' block at each step and ran past five minutes",
    8200222: "BUILDSSCP=INCREMENTAL over some 3,000 levels grew its cross products: FORWARD "
             "by split CV timed out in the relation run against the full build",
    8100387: "FORWARD by BIC entered the largest fall of the error SS, x1 (BIC -124.906), "
             "where x4 gives -133.425: BIC at rank 54 of 97 rows rises as the SSE falls",
    8500065: "the oracle took a full model of other rank (a degree-52 spline in the band, rows "
             "permuted) and so another BIC path for another selection",
    8300136: "the oracle mapped the sums of the packed road's model, which refused another "
             "level in the band (L185 for L184), onto the many-level road's",
    8300285: "the oracle held a fold's estimates to a refit its training rows leave "
             "undetermined (NOINT, EFFECT-coded levels; refit estimates near 1e85); and a "
             "fold's sums far from the origin (NOINT, y near 1e5) gave its levels' estimates "
             "7e-5 off its refit (L001 -1.79507 for -1.79500)",
    6000131: "CV PRESS far below the fold refits: a fold's many-level state lost a level its "
             "rows hold (scaled condition 1.2e8, tied levels)",
    7310013: "the oracle took an aliased GLM level of weight 3e-6 by its pivot's rounding "
             "(1.1e-7 of its diagonal): a candidate's AICC one parameter off (the oracle's)",
    9500034: "Y x 2^k kept LASSO's L1CHOICE=NORM target, which is in the response's units, "
             "so the scaled run stopped elsewhere on its path",
    9501639: "Y x 2^k: STEPWISE by AIC removed x2, which x2(g1) spans, at an AIC 1.2e-13 "
             "below its step's in one run and entered x5 in the other; the oracle held the "
             "rounding's tie as a fault",
    9500769: "the oracle judged a CVDETAILS fold whose training rows leave a column "
             "undetermined (refit of scaled condition 1.6e66, allowance nan)",
    9500802: "BACKWARD by SL: the removal the stop rule undid left the rebuilt sums' error SS "
             "(1.4e-12 off step 4's) in the selected model's tables",
    7100022: "the roads' CV PRESS 5.879e13 and 1.675e12 at step 0: the packed road's fold "
             "factors gave up on the repeated columns of levels without training rows and left "
             "refused a level the rows determine, which the many-level road's refitted",
    9501826: "Y x 2^k kept LASSO's L1CHOICE=NORM target (3 steps against 6), as 9500034",
    9502325: "BACKWARD by ADJRSQ: the undone removal left the rebuilt sums' error SS in the "
             "selected model's tables (1.2e-12 off step 3's), as 9500802",
    9503461: "rows permuted: BACKWARD removed x1, which a degree-60 TPF spline spans, in one "
             "order and S1 in the other; the oracle held that tie with not moving as a fault",
    2: "a LAR path's item store listed g1 once per selected level (three times, 4 columns "
       "each) where the store lists each selected effect once",
    9502921: "Y + c: CV PRESS of folds whose refits are undetermined, 3.2e32 against 3.3e32",
    9503160: "rows permuted: CV PRESS of folds whose refits are undetermined, 2.7e44 against "
             "1.5e44",
    9503841: "rows permuted: INDEX folds' CV PRESS 2.1e-9 apart, held to the step's allowance "
             "rather than the folds'",
    9502786: "a removal candidate beside a spline that spans it judged by a rank that hangs on "
             "the order the columns are judged in (one order refuses at 1e-12, the fit's meets "
             "a pivot at 7e-8)",
    9600620: "rows permuted: a perfect fit's ASE 0 against 1.8e-12, held to the ASE rather "
             "than the total's",
    7100087: "BUILDSSCP=INCREMENTAL beside a CLASS effect of 1,526 levels: STEPWISE by CV took "
             "30 s of CPU on the growing road (the relation's run timed out under load)",
    9604695: "LASSO by INDEX folds: the oracle kept the fold variable whole where a path "
             "splits every CLASS variable of the design",
    9604199: "the oracle's least squares stopped where LAPACK's SVD did not converge beside "
             "a GLM-coded CLASS tied to the covariates",
    8300118: "rows permuted: a degree-58 spline's column in the band taken by its trial in one "
             "order and refused in the other; the relation asked one choice where either is sound",
    8300140: "rows permuted: a degree-59 spline's doubtful pivot taken in one order, refused in "
             "the other (the 1% agreement of the sums' pivot with the rows')",
    9604765: "NOINT STEPWISE beside a far response: the growing build took c's criterion from "
             "its sums (SBC -DBL_MAX) where the full X'X fitted it on the rows (1 step against 3)",
    1031946: "a removal retook spline columns against columns after them (DF 53 to 54); rows "
             "permuted, x1's removal met columns in the band (S1 2 and S1 3 at 1.4e-8 and "
             "1.0e-8) and the relation asked one choice where either is sound",
    9603250: "C(p) of a step that fits to rounding (error SS 1.5e-11) implies a full-model "
             "variance 1.2e-7 off the others', within the digits C(p) - 2p + n keeps; rows "
             "permuted, a degree-57 spline's entry saturated 18 rows in one order only, by "
             "columns either choice of whose rank is sound",
    9600613: "STEPWISE by SL: a candidate's log p-value from its trial's rounding-noise error "
             "SS (1.4e-105) where its perfect-fit step prints p = 0",
    9640041: "NOINT STEPWISE by AIC beside a response near 1.556e9: INCREMENTAL stopped after "
             "c, FULL entered x1 and x2 (exact error SS 713.9, 227.7, 35.1)",
    9602611: "adaptive LASSO: a step past a refused entry that ended at a zero crossing "
             "printed the swept sums' error SS after the drop, 1.3e-4 below its estimates' "
             "SSE, and named no removal",
    9701800: "BACKWARD by BIC: a removal that took a refused spline column again was tried "
             "unrefined, its BIC 0.04 from its refined step's",
    9610198: "FORWARD by CV: a far fold's CV PRESS 3.5e-12 off its refit; the oracle's spread "
             "left out the values' rounding about the centre a far held-out row pulled",
    9701049: "an ordinal level held by all rows but one of weight 1e-9, kept raw: its "
             "centred sums lost 1.7e-6 (standard error, scale, PRESS 1813.9718 for 1814.0067)",
    9700235: "NOINT CVDETAILS fold estimates judged on the centred spread of a response near "
             "1e5 (1.9) where the fold's fit is about the origin",
    1446: "QKGLASSO$(ADAPTIVE) at L1=0 beside a GLM-coded CLASS of 3 levels: SSE of the "
          "estimates 77.19989 where least squares leave 77.19841",
    7400027: "STEPWISE by INDEX-fold CV on the many-level road: a step's CV PRESS "
             "433.6553941 with CVDETAILS=ALL, 433.6553923 without (the winning trial's "
             "value copied into the step)",
    7400141: "the many-level road's full model not the least-squares fit of its columns "
             "(weights, a GLM-coded CLASS of many levels): error SS 30.9691 against the "
             "packed road's 30.9543, and the road relation parted (z against x4)",
    3867: "LAR CHOOSE=CVEX by BLOCK(6), a fold's long path: knot 13's path value 4.3110260e-7 "
          "against 4.3110154e-7 exact (held-out ASE 1.8686652e-10 for 1.8686738e-10)",
    3255: "LAR CHOOSE=CVEX by BLOCK(6), a fold's long path: knot 11's path value 9.2163251e-6 "
          "against 9.2163276e-6 exact (held-out ASE 2.1087273e-8 for 2.1087284e-8)",
    538: "the oracle's fold paths from lars_path, which dropped a degenerate regressor: "
         "External CV PRESS 13.7406 against 13.7809 (LAR beside EFFECT-coded levels); the "
         "exact path agrees with the engine",
    1673: "the oracle's fold paths from lars_path, which dropped a degenerate regressor: "
          "External CV PRESS 0.0137494 against 0.0135900 (LAR beside GLM-coded levels)",
    7400142: "the oracle judged BACKWARD's removal of many levels m1 by the base's spline "
             "columns with its refused ones after them: CV PRESS 4.58e8 of a set the rank "
             "rule takes only with S1_10 refused in the band, where the rule in list order "
             "takes the step's, 56453.01 (scripts/check_levels_removal_cv.py)",
    7400210: "FORWARD by AICC: the oracle took the error SS of the levels' means for an "
             "entry of many levels whose three levels held by rows of weight 1e-9 the rule "
             "refuses: AICC -443.421330492 where the fit of the columns taken gives the "
             "engine's -443.421329727",
    9620098: "LASSO by BY groups, an EFFECT-coded CLASS of one level in BY group 2: a split "
             "effect without cells made a record of no parameters (5 effects after splits "
             "where the columns make 4)",
    9620255: "the oracle's fold paths from lars_path, which dropped a degenerate regressor and "
             "ended early: External CV PRESS 9.527694 against 9.506891 (LASSO beside GLM-coded "
             "levels); the exact path with the rank rule's refusal agrees with the engine",
    9700683: "rows permuted, STEPWISE by C(p) beside a degree-58 spline with 13 knots and "
             "FREQ: the full model took S1 35 (exact pivot 1.00 times 64 u Q) in one order "
             "only, variances 3.068 and 3.343, and C(p) stopped one run a step earlier",
    9701075: "the many-level road judged a spline column beside 152 EFFECT-coded levels by "
             "64 u r^2 alone (pivot 0.08 of it, 3.2 times 64 u Q): refused where the packed "
             "road took it, error SS 25.9454 against 25.9080; then x1's removal, which the "
             "spline spans, tied with the stop",
    9710148: "rows permuted, FORWARD by AICC beside a degree-50 spline on 13 rows: S1 14 at "
             "0.85 of its rounding bound taken by the rows' second look in one order only "
             "(AICC -412.17 against missing at p = n - 2)",
    846: "the oracle's fold paths lacked the engine's ties (columns within 1e-8 of the "
         "response's scale of the most correlated leave the path): fold 2's x8, 8.2e-6 of "
         "lambda below it, joined them at knot 9, 1.46e-5 for the engine's 2.44e-7 (LAR "
         "CHOOSE=CVEX by RANDOM(6) over collinear trending series)",
    882: "the oracle read the drawn CV curve's floor, -6, as path value 0: a knot at 8.7e-7 "
         "drawn there showed ASEValidate 0.557857954 against the curve's 0.557858100 at 0",
    166: "the oracle carried a joining column's correlation on as off the common one by the "
         "correlations' rounding alone, where the engine's knot lay 4.4e-5 from the exact "
         "one (rate 1.16e-6): fold 1's next knot 3.69039e-4 against 3.69357e-4 exact, "
         "allowed 3.1e-7 (LAR CHOOSE=CVEX by BLOCK(6) over collinear trending series)",
    1107: "the shifted-response relation held a LAR step's Model SS to 20 times 16 eps kappa "
          "of the total, beside a knot whose joining correlation closes at 5.5e-7: the two "
          "runs' 222.446485 and 222.445601 lie either side of the exact 222.445953",
    7500068: "the oracle formed the levels' means of a column near 1.8e9 (spread 0.07) at its "
             "own magnitude: BACKWARD by CV beside REF-coded levels, candidate S1's CV PRESS "
             "83551.40497 where the exact fold refits give the engine's 83551.40458",
    9620179: "rows permuted, LASSO by CV over INDEX folds beside a degree-7 polynomial: CV "
             "PRESS 5.7174318913e-13 against 5.7174318301e-13 (exact 5.7174318517e-13): the "
             "path's folds were never refitted from their rows, fold 3's share of it 3.6e-7 off",
    7500037: "BACKWARD by CV beside GLM-coded levels: Stop Details compared with the CV PRESS "
             "refolded after the stop's trials, 1.3e-11 from the last step's printed record",
    7500095: "BACKWARD by CV beside GLM-coded levels, INDEX folds: Stop Details compared with "
             "the CV PRESS refolded after the stop's trials (1.2e-11 from the step's record)",
    7500092: "NOINT BACKWARD by CV: m1 reverse-swept out of fold records whose coefficients "
             "a refit from their rows had replaced; the packed road's CV PRESS of x1 x2 g1 "
             "4.8e-5 off the exact refits (scripts/gen_road_noint_ref.py)",
    # open faults, pending (pending.py) until their mends land
}

# The seeds found in one scenario (--scenario), whose default draw is another program.
SCENARIOS = {
    538: "penalized",
    1673: "penalized",
    7400142: "manylevels",
    7400210: "manylevels",
    7500037: "cvremoval",
    7500068: "cvremoval",
    7500092: "cvremoval",
    7500095: "cvremoval",
    2: "scoring",
    77375: "manylevels",
    590078: "manylevels",
    901137: "manylevels",
    901163: "manylevels",
    1100956: "cvforward",
    1110041: "cvforward",
    1205122: "path",
    1207831: "path",
    1213223: "path",
    2500293: "path",
    2500325: "path",
    2600171: "path",
    3000000: "tiedlevels",
    515: "extdata",
    3000001: "nointfar",
    528: "penalized",
    170: "penalized",
    6000131: "tiedlevels",
    6000268: "tiedlevels",
    6000300: "tiedlevels",
    6000843: "tiedlevels",
    8300117: "manylevels",
    7100022: "tiedlevels",
    7100087: "tiedlevels",
    9604765: "nointfar",
    9640041: "nointfar",
    8300118: "widespline",
    8300140: "widespline",
    9300028: "tiedlevels",
    8200222: "tiedlevels",
    8300136: "manylevels",
    8300285: "manylevels",
    8300060: "manylevels",
    8300099: "manylevels",
    8300114: "manylevels",
    8300115: "manylevels",
    8300156: "manylevels",
    8300165: "manylevels",
    8300172: "manylevels",
    8300191: "manylevels",
    7310013: "manylevels",
    9604199: "tiedlevels",
    9620098: "path",
    9620255: "penalized",
    9620179: "path",
    9710148: "widespline",
    1446: "penalized",
    7400027: "manylevels",
    7400141: "manylevels",
    3867: "penalized",
    3255: "penalized",
    846: "penalized",
    882: "penalized",
    166: "penalized",
    1107: "penalized",
}
