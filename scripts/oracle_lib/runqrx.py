"""Running qrx on a case and reading its JSON record."""
import csv
import json
import os
import resource
import signal
import subprocess

MISSING = None


# A run that has no answer after this many seconds of CPU per thread is stopped. The limit
# counts the run's own work, which the machine's load does not change: one of wall time let a
# program that takes 11 s alone time out beside 80 busy processes. The wall-clock limit only
# ends a run that waits without working (a hang), and is far above any starved run's time.
CPU_LIMIT = 120
HANG_LIMIT = 3600


def cpu_limited(seconds):
    """For the child before it starts qrx: SIGXCPU ends it past `seconds` of CPU time."""
    def limit():
        resource.setrlimit(resource.RLIMIT_CPU, (seconds, seconds + 10))
    return limit


def run(qrx, workdir, program="case.qrx", cpucount=1):
    """Runs qrx in workdir with CPUCOUNT fixed and MEMSIZE fixed (so that the thread count
    does not follow free memory); returns (exit status, record or None, stderr text)."""
    out = os.path.join(workdir, "out%d.json" % cpucount)
    cmd = [qrx, "--work", workdir, "-o", "CPUCOUNT=%d" % cpucount, "-o", "MEMSIZE=2G",
           "--json", out, "--listing", os.path.join(workdir, "listing%d.txt" % cpucount),
           os.path.join(workdir, program)]
    cpu = CPU_LIMIT * cpucount
    try:
        proc = subprocess.run(cmd, capture_output=True, text=True, timeout=HANG_LIMIT,
                              cwd=workdir, preexec_fn=cpu_limited(cpu))
    except subprocess.TimeoutExpired:
        return -1, None, "waited %ds without an answer" % HANG_LIMIT
    if proc.returncode == -signal.SIGXCPU:
        return -1, None, "stopped after %ds of CPU time" % cpu
    record = None
    if os.path.exists(out):
        with open(out) as fh:
            record = json.load(fh, parse_int=json_int)
    return proc.returncode, record, proc.stderr


def run_program(qrx, workdir, case, cpucount=1):
    """Writes the case's data (d.csv) and program (case.qrx) to workdir and runs them."""
    with open(os.path.join(workdir, "d.csv"), "w") as fh:
        fh.write(case.csv_text())
    with open(os.path.join(workdir, "case.qrx"), "w") as fh:
        fh.write(case.program)
    for name, text in getattr(case, "extra", {}).items():
        with open(os.path.join(workdir, name), "w") as fh:
            fh.write(text)
    return run(qrx, workdir, cpucount=cpucount)


def json_int(text):
    """A whole number of the record: an int while a double holds it exactly, else the
    double it was written from (an estimate of -1.2e19 prints without a fraction, and as a
    Python int it would turn numpy's sums into object arrays)."""
    v = int(text)
    return v if abs(v) <= 2 ** 53 else float(v)


def nodes(node):
    """Every node under node (a node or a list), depth first, with the path of group names."""
    stack = [(n, ()) for n in reversed(node if isinstance(node, list) else [node])]
    while stack:
        n, path = stack.pop()
        yield n, path
        if n.get("kind") == "group":
            for c in reversed(n["children"]):
                stack.append((c, path + (n["name"],)))


def table_rows(table):
    names = [c["name"] for c in table["columns"]]
    return [dict(zip(names, row)) for row in table["rows"]]


def factoid(node):
    return {e["label"]: e["value"] for e in node["entries"]}


def read_csv(path):
    with open(path, newline="") as fh:
        rows = list(csv.reader(fh))
    return rows[0], rows[1:]


def num(text):
    if text is None or text == "" or text == ".":
        return None
    try:
        return float(text)
    except ValueError:
        return text
