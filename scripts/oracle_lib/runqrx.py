"""Running qrx on a case and reading its JSON record."""
import csv
import json
import os
import subprocess

MISSING = None


def run(qrx, workdir, program="case.qrx", cpucount=1, timeout=120):
    """Runs qrx in workdir with CPUCOUNT fixed and MEMSIZE fixed (so that the thread count
    does not follow free memory); returns (exit status, record or None, stderr text)."""
    out = os.path.join(workdir, "out%d.json" % cpucount)
    cmd = [qrx, "--work", workdir, "-o", "CPUCOUNT=%d" % cpucount, "-o", "MEMSIZE=2G",
           "--json", out, "--listing", os.path.join(workdir, "listing%d.txt" % cpucount),
           os.path.join(workdir, program)]
    try:
        proc = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout, cwd=workdir)
    except subprocess.TimeoutExpired:
        return -1, None, "timed out after %ds" % timeout
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
