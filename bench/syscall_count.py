#!/usr/bin/env python3
"""Counts the system calls tolvex makes extracting one archive, with standard output to
/dev/null, to a file and to a pipe, next to the floor that the work itself needs.

The floor: one create, one write and one close for each file that holds bytes (one
create and one close for an empty one), and one mkdir, one open and one close for each
directory. Calls are counted by the kernel's tracepoints through `perf stat` (every
thread, starting the program included), which leave the program's timing as it is; where
perf cannot, by `strace -f -c`, which makes every call wait, so that tolvex takes the file
system for a slow one and copies on more threads than it would.

Printed: the calls of each kind for each destination of standard output, the floor, the
calls per entry (files and directories made) and the futex calls per entry; then whether
the build stays within 3.1 calls per entry and one futex call per 50 entries.

Usage: bench/syscall_count.py [--tolvex PATH] [--archive PATH] [--scratch DIR]
The archive defaults to the small corpus of bench/extract_bench.py (built there, under
the same scratch directory, when it is missing).
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
KINDS = ["write", "openat", "close", "mkdirat", "futex", "newfstatat", "pread64"]
DESTINATIONS = ["/dev/null", "file", "pipe"]
MOST_PER_ENTRY = 3.1
ENTRIES_PER_FUTEX = 50


def perf_works():
    if shutil.which("perf") is None:
        return False
    probe = subprocess.run(["perf", "stat", "-x,", "-e", "raw_syscalls:sys_enter", "true"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return probe.returncode == 0 and "raw_syscalls:sys_enter" in probe.stderr


def counted(tolvex, archive, work, destination, perf):
    """Runs tolvex on `archive` in `work` under perf or strace; returns {call: count}."""
    report = os.path.join(work, "calls.out")
    if perf:
        events = ["raw_syscalls:sys_enter"] + ["syscalls:sys_enter_" + k for k in KINDS]
        command = ["perf", "stat", "-x,", "-o", report]
        for event in events:
            command += ["-e", event]
        command += ["--", tolvex, archive]
    else:
        command = ["strace", "-f", "-c", "-o", report, tolvex, archive]
    if destination == "pipe":
        child = subprocess.Popen(command, cwd=work, stdout=subprocess.PIPE)
        while child.stdout.read(1 << 16):
            pass
        status = child.wait()
    else:
        target = os.devnull if destination == "/dev/null" else os.path.join(work, "out.txt")
        with open(target, "wb") as out:
            status = subprocess.run(command, cwd=work, stdout=out).returncode
    if status != 0:
        sys.exit("%s or tolvex failed (%d)" % (command[0], status))
    calls = {}
    if perf:
        with open(report) as lines:
            for line in lines:
                fields = line.strip().split(",")
                if len(fields) >= 3 and fields[0].isdigit():
                    calls[fields[2]] = int(fields[0])
        every = calls.pop("raw_syscalls:sys_enter", 0)
        calls = {k.replace("syscalls:sys_enter_", ""): n for k, n in calls.items()}
        calls["(the rest)"] = every - sum(calls.values())
        return calls
    with open(report) as lines:
        for line in lines:
            fields = line.split()
            # % time, seconds, usecs/call, calls, [errors,] syscall
            if len(fields) >= 5 and fields[3].isdigit() and not line.startswith("-"):
                calls[fields[-1]] = int(fields[3])
    calls.pop("total", None)
    return calls


def made(root):
    """The files holding bytes, the empty files and the directories made below `root`."""
    full = empty = directories = 0
    for top, _, files in os.walk(os.path.join(root, "tolvex")):
        directories += 1
        for name in files:
            if os.path.getsize(os.path.join(top, name)) == 0:
                empty += 1
            else:
                full += 1
    return full, empty, directories


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tolvex", default="build/bench/tolvex")
    parser.add_argument("--archive")
    parser.add_argument("--pack", default="build/bench/tolvex_pack")
    parser.add_argument("--scratch", default=os.path.join(os.environ.get("TMPDIR", "/tmp"),
                                                          "tolvex-bench"))
    args = parser.parse_args()
    perf = perf_works()
    if not perf and shutil.which("strace") is None:
        sys.exit("neither perf (Debian: linux-perf) nor strace (Debian: strace) works here")
    if not perf:
        print("counted by strace: every call waits for it, so tolvex may copy on more threads "
              "than it would")
    tolvex = os.path.abspath(args.tolvex)
    if not os.access(tolvex, os.X_OK):
        sys.exit("no tolvex program at %s (make bench-build)" % tolvex)
    archive = args.archive
    if archive is None:
        sys.path.insert(0, HERE)
        import extract_bench
        os.makedirs(args.scratch, exist_ok=True)
        _, archive, _ = extract_bench.prepare(args.scratch, os.path.abspath(args.pack), "small")
    archive = os.path.abspath(archive)

    columns, sizes = {}, None
    for destination in DESTINATIONS:
        work = tempfile.mkdtemp(prefix="syscalls-", dir=args.scratch)
        try:
            columns[destination] = counted(tolvex, archive, work, destination, perf)
            sizes = made(work)
        finally:
            shutil.rmtree(work, ignore_errors=True)
    full, empty, directories = sizes
    entries = full + empty + directories
    floor = {"write": full, "openat": full + empty + directories,
             "close": full + empty + directories, "mkdirat": directories}

    print("%s on %s: %d files (%d empty), %d directories, %d entries"
          % (tolvex, os.path.basename(archive), full + empty, empty, directories, entries))
    print("%-12s" % "call" + "".join("%12s" % d for d in DESTINATIONS) + "%12s" % "floor")
    for kind in KINDS + ["other", "all"]:
        row = []
        for destination in DESTINATIONS:
            calls = columns[destination]
            if kind == "other":
                row.append(sum(n for k, n in calls.items() if k not in KINDS))
            elif kind == "all":
                row.append(sum(calls.values()))
            else:
                row.append(calls.get(kind, 0))
        best = sum(floor.values()) if kind == "all" else floor.get(kind, 0)
        print("%-12s" % kind + "".join("%12d" % n for n in row) + "%12d" % best)
    per_entry = [sum(columns[d].values()) / entries for d in DESTINATIONS]
    futex = [columns[d].get("futex", 0) / entries for d in DESTINATIONS]
    print("%-12s" % "per entry" + "".join("%12.2f" % n for n in per_entry)
          + "%12.2f" % (sum(floor.values()) / entries))
    print("%-12s" % "futex/entry" + "".join("%12.4f" % n for n in futex))
    within = all(n <= MOST_PER_ENTRY for n in per_entry) and \
        all(n <= 1 / ENTRIES_PER_FUTEX for n in futex)
    print("goal (at most %.1f calls per entry, one futex call per %d entries): %s"
          % (MOST_PER_ENTRY, ENTRIES_PER_FUTEX, "met" if within else "NOT met"))


if __name__ == "__main__":
    main()
