#!/usr/bin/env python3
"""Runs every benchmark of the project and writes bench/RESULTS.md.

    python3 bench/run_all.py --build build-bench [--out bench/RESULTS.md]
                             [--runs N] [--only NAME]... [--strict]

The programs are the ones CMake built from bench/*_bench.cc into
BUILD/bench/, plus a GUI startup benchmark when there is one (a program
BUILD/bench/startup_bench*, or a script bench/startup_bench*.py or .sh, which
gets the build folder as its argument). Each program prints its figures as
lines

    RESULT name=... what="..." ours_label="..." ref_label="..." ours=... ref=...
           unit=s ratio=... target="ratio<=1.00" met=yes rss_ours_kib=...

with every side measured next to its reference in the same run; this script
only collects them. startpage_bench is a Google Benchmark program: its JSON
output is turned into the same kind of figures here.

The benchmarks work in BUILD/bench-work (TMPDIR points there), never in /tmp.
Each program's full output goes to BUILD/bench-logs/NAME.log.
"""

import argparse
import datetime
import glob
import json
import os
import platform
import re
import shlex
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# In this order: the file-heavy benchmarks that create many files come before
# the one that deletes many (ext4 slows down creating files for a while after
# many were deleted), and each program empties its own trash when it ends.
PROGRAMS = [
    "startpage_bench",
    "temp_zip_bench",
    "launch_bench",
    "archive_bench",
    "cleanup_bench",
]


def machine_info(work):
    info = {}
    info["nproc"] = str(len(os.sched_getaffinity(0)))
    model = "?"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    info["cpu"] = model
    mem = "?"
    try:
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemTotal:"):
                    mem = "%.1f GiB" % (int(line.split()[1]) / 1024 / 1024)
                    break
    except OSError:
        pass
    info["memory"] = mem
    info["kernel"] = platform.release()
    fstype = "?"
    for command in (["findmnt", "-n", "-o", "FSTYPE", "-T", work],
                    ["df", "--output=fstype", work]):
        try:
            out = subprocess.run(command, capture_output=True, text=True,
                                 check=True).stdout.split()
            if out:
                fstype = out[-1]
                break
        except (OSError, subprocess.CalledProcessError):
            continue
    info["filesystem"] = fstype
    try:
        info["commit"] = subprocess.run(
            ["git", "-C", ROOT, "rev-parse", "--short", "HEAD"],
            capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        info["commit"] = "?"
    return info


def load_average():
    try:
        return "%.2f %.2f %.2f" % os.getloadavg()
    except OSError:
        return "?"


def parse_result_lines(text):
    results = []
    for line in text.splitlines():
        if not line.startswith("RESULT "):
            continue
        fields = {}
        for token in shlex.split(line[len("RESULT "):]):
            key, _, value = token.partition("=")
            fields[key] = value
        results.append(fields)
    return results


def run_program(name, argv, env, log_folder):
    """Runs one program, echoing its output; returns (ok, output)."""
    print("== %s: %s" % (name, " ".join(shlex.quote(a) for a in argv)),
          flush=True)
    lines = []
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, env=env)
    for line in proc.stdout:
        sys.stdout.write(line)
        sys.stdout.flush()
        lines.append(line)
    rc = proc.wait()
    output = "".join(lines)
    with open(os.path.join(log_folder, name + ".log"), "w") as f:
        f.write(output)
    if rc != 0:
        print("== %s failed with status %d" % (name, rc), flush=True)
    return rc == 0, output


def startpage_results(json_path, runs):
    """Figures from startpage_bench's Google Benchmark JSON."""
    with open(json_path) as f:
        data = json.load(f)
    medians = {}  # wall time
    cpu = {}  # CPU time of this process
    benchmarks = data.get("benchmarks", [])
    # One repetition gives no aggregates: take the single runs then.
    wanted = "aggregate" if any(b.get("run_type") == "aggregate"
                                for b in benchmarks) else "iteration"
    for b in benchmarks:
        if b.get("run_type") != wanted or (
                wanted == "aggregate" and b.get("aggregate_name") != "median"):
            continue
        name = b["run_name"]  # e.g. BM_ReadAndMatchNoMatch/50
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
        medians[name] = b["real_time"] * scale
        cpu[name] = b["cpu_time"] * scale
    results = []
    for size in (10, 50):
        ours = medians.get("BM_ReadAndMatchNoMatch/%d" % size)
        ref = medians.get("BM_GrepNoMatch/%d" % size)
        if ours is None or ref is None:
            continue
        results.append({
            "name": "startpage_%dmb" % size,
            "what": "reading a %d MB launcher page without a match and "
                    "searching it for the pop-up call" % size,
            "ours_label": "ReadLauncherText+MatchPopupCall",
            "ref_label": "grep -Eiq (C locale, line by line)",
            "ours": "%.6f" % ours, "ref": "%.6f" % ref, "unit": "s",
            "ratio": "%.3f" % (ours / ref), "target": "-", "met": "-",
            "runs": str(runs),
        })
    # CPU time, so that the other programs on this shared machine do not
    # decide the figure; the search runs in this process only.
    small = cpu.get("BM_MatchPopupCallNoMatch/10")
    large = cpu.get("BM_MatchPopupCallNoMatch/50")
    if small and large:
        # Linear time: the 50 MB page costs five times the 10 MB page (a
        # quadratic search would give a ratio of 5).
        ratio = (large / 5) / small
        results.append({
            "name": "startpage_linear",
            "what": "MatchPopupCall CPU time per MB, 50 MB page against 10 MB "
                    "page (linear time)",
            "ours_label": "MatchPopupCall, 50 MB / 5",
            "ref_label": "MatchPopupCall, 10 MB",
            "ours": "%.6f" % (large / 5), "ref": "%.6f" % small, "unit": "s",
            "ratio": "%.3f" % ratio, "target": "ratio<=1.25",
            "met": "yes" if ratio <= 1.25 else "no", "runs": str(runs),
        })
    return results


def tagged(program, results):
    """results, each marked with the program that measured it."""
    for r in results:
        r["program"] = program
    return results


def find_startup_bench(build):
    """The GUI startup benchmark's command, or None when there is none."""
    for path in sorted(glob.glob(os.path.join(build, "bench", "startup_bench*"))):
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return [path]
    for path in sorted(glob.glob(os.path.join(ROOT, "bench", "startup_bench*"))):
        if path.endswith(".py"):
            return [sys.executable, path, build]
        if path.endswith(".sh"):
            return ["bash", path, build]
    return None


def format_value(value, unit):
    if value in (None, ""):
        return ""
    v = float(value)
    if unit == "s":
        return "%.1f ms" % (v * 1e3) if v < 10 else "%.2f s" % v
    return "%g %s" % (v, unit)


def format_rss(kib):
    if not kib:
        return ""
    return "%.1f MiB" % (int(kib) / 1024)


def write_report(path, info, results, notes):
    """Writes RESULTS.md. Each result carries the run that measured it
    (result["run"]: command, start, end, loads, commit)."""
    runs = []
    for r in results:
        if r["run"] not in runs:
            runs.append(r["run"])
    met = sum(1 for r in results if r.get("met") == "yes")
    missed = [r["name"] for r in results if r.get("met") == "no"]
    out = []
    out.append("# Benchmark results")
    out.append("")
    out.append("Every figure is a median over several runs, each side "
               "measured next to its reference tool in the same run, "
               "alternating; ratio = ours / reference (lower is better). "
               "Written by:")
    out.append("")
    for number, run in enumerate(runs, 1):
        out.append("%d. `%s` on %s (finished %s), commit %s; load average "
                   "%s at the start, %s at the end." % (
                       number, run["command"], run["started"],
                       run["finished"], run["commit"], run["loads"][0],
                       run["loads"][1]))
    out.append("")
    out.append("Machine: %s CPUs (%s), %s memory, Linux %s, work folder on %s. "
               "The machine is shared, so single figures move by 10-20 %% "
               "between runs, and more while others write to the same disk."
               % (info["nproc"], info["cpu"], info["memory"], info["kernel"],
                  info["filesystem"]))
    out.append("")
    out.append("| Benchmark | What | Ours | Reference | Ours (median) | "
               "Reference (median) | Ratio | Target | Met | Peak RSS ours | "
               "Peak RSS ref | Runs | Written by |")
    out.append("|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    for r in results:
        unit = r.get("unit", "s")
        out.append("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | "
                   "%s | %d |" % (
            r.get("name", ""), r.get("what", ""), r.get("ours_label", ""),
            r.get("ref_label", ""), format_value(r.get("ours"), unit),
            format_value(r.get("ref"), unit), r.get("ratio", ""),
            re.sub(r"(<=|<)", r" \1 ", r.get("target", "-")), r.get("met", "-"),
            format_rss(r.get("rss_ours_kib")), format_rss(r.get("rss_ref_kib")),
            r.get("runs", ""), runs.index(r["run"]) + 1))
    out.append("")
    out.append("Targets met: %d of %d%s." % (
        met, sum(1 for r in results if r.get("met") in ("yes", "no")),
        ("; missed: " + ", ".join(missed)) if missed else ""))
    out.append("")
    notes_with_rows = [text for _, text in notes if text]
    notes_with_rows += [
        "%s: %s" % (r["name"], r["note"]) for r in results if r.get("note")]
    if notes_with_rows:
        out.append("Notes:")
        out.append("")
        for n in notes_with_rows:
            out.append("- " + n)
        out.append("")
    out.append("Peak RSS is the child process's ru_maxrss from wait4 (the "
               "whole process, shared libraries included). Logs of each "
               "program are in the build folder's bench-logs/. With --only, "
               "the figures of the other programs are kept from their own "
               "runs (bench/RESULTS.json holds them).")
    out.append("")
    with open(path, "w") as f:
        f.write("\n".join(out))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--out", default=os.path.join(ROOT, "bench",
                                                      "RESULTS.md"))
    parser.add_argument("--runs", type=int, default=0,
                        help="runs per side (default: each program's own)")
    parser.add_argument("--only", action="append", default=[],
                        help="run only this program (may repeat)")
    parser.add_argument("--strict", action="store_true",
                        help="exit with status 1 when a target is missed")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    bench_bin = os.path.join(build, "bench")
    work = os.path.join(build, "bench-work")
    logs = os.path.join(build, "bench-logs")
    # Left over from an interrupted run: nothing in it is reused but the
    # generated packages, which the programs find by name.
    os.makedirs(work, exist_ok=True)
    os.makedirs(logs, exist_ok=True)
    env = dict(os.environ, TMPDIR=work)

    info = machine_info(work)
    started = datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z")
    load_start = load_average()
    results = []
    notes = []
    failed = []
    runs_args = ["--runs", str(args.runs)] if args.runs > 0 else []

    for name in PROGRAMS:
        if args.only and name not in args.only:
            continue
        program = os.path.join(bench_bin, name)
        if not os.access(program, os.X_OK):
            failed.append(name)
            notes.append((name, "%s: not built (%s missing)." % (name, program)))
            continue
        if name == "startpage_bench":
            reps = args.runs if args.runs > 0 else 5
            json_path = os.path.join(logs, "startpage_bench.json")
            ok, _ = run_program(name, [
                program, "--benchmark_repetitions=%d" % reps,
                "--benchmark_enable_random_interleaving=true",
                "--benchmark_report_aggregates_only=true",
                "--benchmark_out=" + json_path,
                "--benchmark_out_format=json"], env, logs)
            if ok:
                results += tagged(name, startpage_results(json_path, reps))
        elif name == "temp_zip_bench":
            reps = args.runs if args.runs > 0 else 7
            ok, output = run_program(name, [program, "200", str(reps)], env,
                                     logs)
            results += tagged(name, parse_result_lines(output))
        else:
            ok, output = run_program(name, [program] + runs_args, env, logs)
            results += tagged(name, parse_result_lines(output))
        if not ok:
            failed.append(name)
            notes.append((name, "%s failed; see its log." % name))

    if not args.only or "startup_bench" in args.only:
        command = find_startup_bench(build)
        if command is None:
            notes.append(("startup_bench", "startup_bench: no GUI startup "
                          "benchmark in this tree (bench/startup_bench*); "
                          "skipped."))
        else:
            ok, output = run_program("startup_bench", command, env, logs)
            found = tagged("startup_bench", parse_result_lines(output))
            results += found
            if not ok:
                failed.append("startup_bench")
                notes.append(("startup_bench",
                              "startup_bench failed; see its log."))
            elif not found:
                notes.append(("startup_bench", "startup_bench ran but printed "
                              "no RESULT line; see its log."))

    finished = datetime.datetime.now().astimezone().strftime("%H:%M %Z")
    # The command as one would type it again, with the options that change
    # what is measured.
    chosen = []
    if args.runs > 0:
        chosen += ["--runs", str(args.runs)]
    for name in args.only:
        chosen += ["--only", name]
    if os.environ.get("MAKELEVEL"):
        command = "make bench" + (' BENCH_ARGS="%s"' % " ".join(chosen)
                                  if chosen else "")
    else:
        command = " ".join(["python3 bench/run_all.py"] + chosen)
    run = {"command": command, "started": started, "finished": finished,
           "loads": [load_start, load_average()], "commit": info["commit"]}
    for r in results:
        r["run"] = run
    # With --only, the other programs' figures stay, from their own runs.
    sidecar = os.path.splitext(args.out)[0] + ".json"
    if args.only and os.path.exists(sidecar):
        with open(sidecar) as f:
            previous = json.load(f)
        results = [r for r in previous["results"]
                   if r.get("program") not in args.only] + results
        notes = [tuple(n) for n in previous["notes"]
                 if n[0] not in args.only] + notes
        order = PROGRAMS + ["startup_bench"]
        results.sort(key=lambda r: order.index(r["program"])
                     if r.get("program") in order else len(order))
    with open(sidecar, "w") as f:
        json.dump({"results": results, "notes": notes}, f, indent=1)
    write_report(args.out, info, results, notes)
    print("\nwrote %s" % args.out)
    with open(args.out) as f:
        print(f.read())
    if failed:
        return 1
    if args.strict and any(r.get("met") == "no" for r in results):
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
