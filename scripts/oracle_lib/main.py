"""scripts/oracle --cases N --seed S [--qrx PATH] [--jobs J] [--keep DIR]

Runs the cases of seeds S, S+1, ..., S+N-1: each a random data set and program run through
qrx with --json (one thread; a third of them again on eight threads), every printed step
checked against the reference. Each failing case is printed with its program and kept in
DIR/seed-<seed>/ (program, data, the command that reruns it); the last line is the summary.
Exit status 1 when a finding is not pending (pending.py lists the faults still open)."""
import argparse
import multiprocessing
import os
import pickle
import shutil
import sys
import tempfile
import traceback

# Each case is one process: numpy's BLAS on more threads than one would only spin beside the
# other jobs (scripts/oracle sets the same; this holds when main.py is run directly).
for _name in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_name, "1")

import numpy as np  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from oracle_lib import check, features, gen, relations, runqrx  # noqa: E402
from oracle_lib.pending import PENDING, pending_for  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def run_case(args):
    seed, qrx, keep, scenario = args
    # overflow and invalid values of hopeless designs are judged by the checks, not shown
    np.seterr(all="ignore")
    case = gen.make_case(seed, scenario)
    work = tempfile.mkdtemp(prefix="oracle-%d-" % seed)
    try:
        status, rec, err = runqrx.run_program(qrx, work, case, cpucount=1)
        try:
            findings = features.judge(case, work, rec, qrx) if rec else [
                check.Finding("run.error", "run", "exit %d, no JSON: %s" % (status, err[-300:]))]
            if rec and not any(f.family.endswith(".error") for f in findings):
                findings += relations.run(case, work, rec, qrx)
        except Exception:
            findings = [check.Finding("oracle.error", "oracle", traceback.format_exc()[-600:])]
        if case.threads and rec and not any(f.family == "run.error" for f in findings):
            s8, rec8, _ = runqrx.run(qrx, work, cpucount=8)
            if rec8:
                findings += check.compare_threads(rec, rec8)
        result = []
        for f in findings:
            result.append((str(f), pending_for(case, f)))
        kept = None
        if findings:
            kept = os.path.join(keep, "seed-%d" % seed)
            shutil.rmtree(kept, ignore_errors=True)
            os.makedirs(kept)
            for name in ("d.csv", "case.qrx") + tuple(getattr(case, "extra", {})):
                shutil.copy(os.path.join(work, name), kept)
            with open(os.path.join(kept, "case.pickle"), "wb") as fh:
                pickle.dump(case, fh)
            with open(os.path.join(kept, "rerun.sh"), "w") as fh:
                fh.write("# the run; scripts/oracle --recheck %s checks it again\n" % kept)
                fh.write("cd \"$(dirname \"$0\")\" && %s --work . -o CPUCOUNT=1 -o MEMSIZE=2G "
                         "--json out.json case.qrx\n" % qrx)
            with open(os.path.join(kept, "findings.txt"), "w") as fh:
                fh.write("".join("%s%s\n" % (t, " (pending: %s)" % p if p else "")
                                 for t, p in result))
        return seed, case.scenario, case.method, sorted(case.tags), case.program, result, kept
    finally:
        shutil.rmtree(work, ignore_errors=True)


def recheck(kept, qrx):
    with open(os.path.join(kept, "case.pickle"), "rb") as fh:
        case = pickle.load(fh)
    work = tempfile.mkdtemp(prefix="oracle-recheck-")
    try:
        for name in ("d.csv", "case.qrx") + tuple(getattr(case, "extra", {})):
            shutil.copy(os.path.join(kept, name), work)
        status, rec, err = runqrx.run(qrx, work)
        findings = features.judge(case, work, rec, qrx) if rec else [
            check.Finding("run.error", "run", "exit %d, no JSON: %s" % (status, err[-300:]))]
        for f in findings:
            p = pending_for(case, f)
            print("%s%s" % (f, " (pending: %s)" % p if p else ""))
        hard = [f for f in findings if not pending_for(case, f)]
        print("recheck: %d findings, %d not pending" % (len(findings), len(hard)))
        return 1 if hard else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


def scenario_names():
    """The scenarios --scenario takes: the plain cases' drawn ones, those never drawn, and
    the feature cases'."""
    from oracle_lib import featgen
    return [s for s, _ in gen.SCENARIOS] + gen.EXTRA_SCENARIOS + list(featgen.BUILDERS)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cases", type=int, default=100)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--qrx", default=os.path.join(ROOT, "build", "release", "app", "qrx"))
    ap.add_argument("--jobs", type=int, default=max(1, (os.cpu_count() or 2)))
    ap.add_argument("--keep", default=os.path.join(os.getcwd(), "oracle-failures"))
    ap.add_argument("--scenario", default=None, choices=scenario_names(), metavar="SCENARIO",
                    help="draw every case from one scenario: %s" % ", ".join(scenario_names()))
    ap.add_argument("--quiet", action="store_true", help="print only failing cases")
    ap.add_argument("--regressions", action="store_true",
                    help="run also the seeds of mended faults (regressions.py)")
    ap.add_argument("--recheck", metavar="DIR",
                    help="run and check again a case kept in DIR (after a change of qrx)")
    ap.add_argument("--selftest", action="store_true",
                    help="check that the oracle passes a sound run and flags wrong numbers")
    a = ap.parse_args(argv)
    if not os.access(a.qrx, os.X_OK):
        print("oracle: no qrx at %s (build it or give --qrx)" % a.qrx)
        return 2
    if a.selftest:
        from oracle_lib import featselftest, selftest
        return selftest.main(os.path.abspath(a.qrx)) | featselftest.main(os.path.abspath(a.qrx))
    if a.recheck:
        return recheck(a.recheck, os.path.abspath(a.qrx))
    qrx = os.path.abspath(a.qrx)
    keep = os.path.abspath(a.keep)
    seeds = list(range(a.seed, a.seed + a.cases))
    scenarios = {}
    if a.regressions:
        from oracle_lib.regressions import REGRESSIONS, SCENARIOS
        seeds += [s for s in sorted(REGRESSIONS) if s not in seeds]
        scenarios = SCENARIOS
    jobs = [(s, qrx, keep, a.scenario or scenarios.get(s)) for s in seeds]
    failed = pending_cases = 0
    by_pending = {}
    with multiprocessing.Pool(a.jobs) as pool:
        for seed, scen, method, tags, program, result, kept in pool.imap(run_case, jobs):
            hard = [t for t, p in result if not p]
            soft = [(t, p) for t, p in result if p]
            for _, p in soft:
                by_pending.setdefault(p, set()).add(seed)
            if hard:
                failed += 1
                print("FAIL seed %d (%s, %s, %s): kept in %s" % (seed, scen, method, " ".join(tags), kept))
                for t in hard[:8]:
                    print("  " + t)
                print("  " + program.replace("\n", "\n  "))
                print("  rerun: sh %s/rerun.sh" % kept)
            elif soft:
                pending_cases += 1
                if not a.quiet:
                    print("PENDING seed %d (%s, %s): %s" % (seed, scen, method, soft[0][0][:300]))
    for pid, found in sorted(by_pending.items()):
        print("pending %s (%s): seeds %s" % (pid, PENDING[pid][0], " ".join(map(str, sorted(found)[:40]))))
    print("oracle: %d cases, %d passed, %d failed, %d with pending findings only"
          % (len(seeds), len(seeds) - failed - pending_cases, failed, pending_cases))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
