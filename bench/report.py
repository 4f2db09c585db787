#!/usr/bin/env python3
"""Prints the benchmark table of bench/run.sh: for every target of bench/targets.txt the figure,
the target, the measured value, how it compares with its baseline measured in the same run, and
whether the target is met (or by how much it misses); then every benchmark without a target.

Usage: bench/report.py TARGETS RESULTS_FOLDER
RESULTS_FOLDER holds <program>.json files (Google Benchmark's JSON output). Exits 1 when a target
is missed or cannot be evaluated, else 0.
"""
import json
import pathlib
import re
import sys

TIME_UNITS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
TIME_FIGURES = ("real_time", "cpu_time")


def load_results(folder):
    """{program: [benchmark run dicts]} of the plain (non-aggregate) runs."""
    results = {}
    for path in sorted(pathlib.Path(folder).glob("*.json")):
        try:
            data = json.loads(path.read_text())
        except (OSError, ValueError):
            results[path.stem] = None
            continue
        results[path.stem] = [b for b in data.get("benchmarks", []) if b.get("run_type", "iteration") == "iteration"]
    return results


def find_run(results, program, name):
    for run in results.get(program) or []:
        full = run.get("name", "")
        if full == name or full.startswith(name + "/"):
            return run
    return None


def figure_value(run, figure):
    """The figure in seconds for times, else as reported; None when absent."""
    if run is None or run.get("error_occurred"):
        return None
    if figure in TIME_FIGURES:
        value = run.get(figure)
        return None if value is None else value * TIME_UNITS.get(run.get("time_unit", "ns"), 1e-9)
    value = run.get(figure)
    return float(value) if isinstance(value, (int, float)) else None


def parse_target(text):
    """(is_ratio, operator, value in seconds or plain, unit text)."""
    match = re.fullmatch(r"(x)?(<=|>=|<|>)([0-9.]+)(ns|us|ms|s)?", text.replace(" ", ""))
    if not match:
        raise ValueError("bad target " + text)
    ratio, op, number, unit = match.groups()
    value = float(number) * (TIME_UNITS[unit] if unit else 1.0)
    return ratio is not None, op, value, unit


def lower_is_better(figure, op):
    if figure in TIME_FIGURES:
        return True
    return op in ("<", "<=")


def show(value, figure, unit):
    if value is None:
        return "-"
    if figure in TIME_FIGURES:
        unit = unit or best_unit(value)
        return "%.4g %s" % (value / TIME_UNITS[unit], unit)
    return "%.4g" % value


def best_unit(seconds):
    for unit in ("s", "ms", "us"):
        if seconds >= TIME_UNITS[unit]:
            return unit
    return "ns"


def compare(value, op, limit):
    return {"<": value < limit, "<=": value <= limit, ">": value > limit, ">=": value >= limit}[op]


def split_baseline(text, program):
    """(program, benchmark) of a baseline field: "prog_bench:BM_x" or a benchmark of program (whose
    name may itself hold colons, as in "BM_ViewLogsPage/end:0")."""
    head, sep, tail = text.partition(":")
    if sep and head.endswith("_bench") and "/" not in head:
        return head, tail
    return program, text


def evaluate(results, line):
    program, name, figure, target, baseline, what = line
    is_ratio, op, limit, unit = parse_target(target)
    measured = figure_value(find_run(results, program, name), figure)
    base = None
    if baseline != "-":
        base_program, base_name = split_baseline(baseline, program)
        base = figure_value(find_run(results, base_program, base_name), figure)
    better = None
    if measured is not None and base:
        low = lower_is_better(figure, op if not is_ratio else "<")
        better = (base / measured if measured else float("inf")) if low else measured / base
    if measured is None:
        verdict, ok = "NOT MEASURED", False
    elif is_ratio:
        if better is None:
            verdict, ok = "NO BASELINE", False
        elif compare(better, op, limit):
            verdict, ok = "met", True
        else:
            verdict, ok = "MISSES: %.3gx of %.3gx" % (better, limit), False
    elif compare(measured, op, limit):
        verdict, ok = "met", True
    else:
        miss = (measured / limit - 1) if op in ("<", "<=") else (1 - measured / limit)
        verdict, ok = "MISSES by %.0f%%" % (abs(miss) * 100), False
    return [what, "%s %s" % (program.replace("_bench", ""), name), target,
            show(measured, figure, unit) + ("" if figure in TIME_FIGURES else " " + figure),
            "-" if better is None else "%.3gx" % better, verdict], ok


def table(rows, header):
    widths = [max(len(str(r[i])) for r in rows + [header]) for i in range(len(header))]
    out = [" | ".join(str(h).ljust(w) for h, w in zip(header, widths)),
           "-+-".join("-" * w for w in widths)]
    out += [" | ".join(str(c).ljust(w) for c, w in zip(r, widths)) for r in rows]
    return "\n".join(out)


def main():
    targets_path, folder = sys.argv[1], sys.argv[2]
    results = load_results(folder)
    lines = []
    for raw in pathlib.Path(targets_path).read_text().splitlines():
        if raw.strip() and not raw.lstrip().startswith("#"):
            fields = [f.strip() for f in raw.split("|")]
            if len(fields) == 6:
                lines.append(fields)
    rows, all_ok, targeted = [], True, set()
    for line in lines:
        try:
            row, ok = evaluate(results, line)
        except ValueError as error:
            row, ok = [line[5], line[0] + " " + line[1], line[3], "-", "-", str(error)], False
        rows.append(row)
        all_ok = all_ok and ok
        targeted.add((line[0], line[1]))
    print(table(rows, ["figure", "benchmark", "target", "measured", "vs baseline", "verdict"]))
    baselines = set()
    for line in lines:
        if line[4] != "-":
            baselines.add(split_baseline(line[4], line[0]))
    others = []
    for program, runs in sorted(results.items()):
        if runs is None:
            others.append([program, "(no results: the program failed)", "-", ""])
            all_ok = False
            continue
        for run in runs:
            if any(p == program and (run["name"] == n or run["name"].startswith(n + "/")) for p, n in targeted):
                continue
            if run.get("error_occurred"):
                value = "error: " + run.get("error_message", "")
            else:
                value = show(figure_value(run, "real_time"), "real_time", None)
            role = "baseline" if any(p == program and (run["name"] == n or run["name"].startswith(n + "/"))
                                     for p, n in baselines) else ""
            others.append([program, run["name"], value, role])
    if others:
        print()
        print("Benchmarks without a target:")
        print(table(others, ["program", "benchmark", "real time", "role"]))
    print()
    missed = sum(1 for r in rows if r[5] != "met")
    print("%d targets: %d met, %d not met" % (len(rows), len(rows) - missed, missed))
    return 0 if all_ok else 1


if __name__ == "__main__":
    sys.exit(main())
