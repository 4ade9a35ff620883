#!/usr/bin/env python3
"""Times tolvex extracting the same archive with standard output to a terminal and to
/dev/null, side by side.

On a terminal tolvex also shows the marks of the file being copied as it goes and shows
control characters as "?"; both ways gather what is printed for up to a tenth of a
second and copy on the same threads, so a terminal should cost little: the goal is at most 1.15
times the time to /dev/null on the small corpus.

The terminal is a pseudo-terminal whose other side a thread of this script reads as fast
as it can, as a terminal emulator would. The corpora, the pool of output directories and
the preparation of each run (warm input, memory touched, sync) are those of
extract_bench.py. Rounds alternate which way goes first.

Usage: bench/terminal_bench.py [--tolvex PATH] [--pack PATH] [--scratch DIR] [--runs N]
                               [--corpus small,mixed]
"""

import argparse
import os
import pty
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import extract_bench  # noqa: E402


def drain(fd, received):
    """Reads the terminal's other side until it closes."""
    while True:
        try:
            chunk = os.read(fd, 65536)
        except OSError:
            break
        if not chunk:
            break
        received.append(len(chunk))


def run_once(tolvex, archive, out, to_terminal):
    """Extracts `archive` in `out`; returns wall seconds and the bytes printed."""
    if not to_terminal:
        with open(os.devnull, "wb") as null:
            start = time.perf_counter()
            subprocess.run([tolvex, archive], cwd=out, stdout=null, check=True)
            return time.perf_counter() - start, None
    master, slave = pty.openpty()
    received = []
    reader = threading.Thread(target=drain, args=(master, received))
    reader.start()
    start = time.perf_counter()
    child = subprocess.Popen([tolvex, archive], cwd=out, stdout=slave)
    os.close(slave)
    child.wait()
    wall = time.perf_counter() - start
    reader.join()
    os.close(master)
    if child.returncode != 0:
        sys.exit("tolvex failed (%d)" % child.returncode)
    return wall, sum(received)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tolvex", default="build/bench/tolvex")
    parser.add_argument("--pack", default="build/bench/tolvex_pack")
    parser.add_argument("--scratch", default=os.path.join(os.environ.get("TMPDIR", "/tmp"),
                                                          "tolvex-bench"))
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--corpus", default="small")
    args = parser.parse_args()

    tolvex = os.path.abspath(args.tolvex)
    pack = os.path.abspath(args.pack)
    for path, what in ((tolvex, "tolvex program"), (pack, "tolvex_pack")):
        if not os.access(path, os.X_OK):
            print("skipped: no %s at %s (build it, or pass the path)" % (what, path))
            return 0
    os.makedirs(args.scratch, exist_ok=True)
    pool = extract_bench.Pool(args.scratch)
    print("%-6s %-10s %8s %8s %8s" % ("corpus", "output", "best s", "median s", "/null"))
    for name in args.corpus.split(","):
        try:
            tree, archive, _ = extract_bench.prepare(args.scratch, pack, name)
        except (RuntimeError, subprocess.CalledProcessError) as error:
            print("%-6s skipped: %s" % (name, error))
            continue
        size = extract_bench.tree_bytes(tree) + 64 * extract_bench.MiB
        times = {False: [], True: []}
        printed = None
        for round_ in range(args.runs + 1):
            for to_terminal in ((False, True) if round_ % 2 else (True, False)):
                slot, out = pool.take()
                extract_bench.warm([archive])
                subprocess.run(["sync"], check=False)
                extract_bench.touch_memory(size)
                wall, count = run_once(tolvex, archive, out, to_terminal)
                if to_terminal:
                    printed = count
                if round_ > 0:
                    times[to_terminal].append(wall)
                pool.give_back(slot, out)
        for to_terminal, label in ((False, "/dev/null"), (True, "terminal")):
            walls = times[to_terminal]
            ratio = min(walls) / min(times[False])
            print("%-6s %-10s %8.3f %8.3f %8.2f" % (name, label, min(walls),
                                                    statistics.median(walls), ratio))
            print("         rounds: %s" % " ".join("%.3f" % wall for wall in walls))
        pairs = [t / n for t, n in zip(times[True], times[False])]
        print("%-6s terminal / null, round by round: median %.2f (%d bytes shown)" %
              (name, statistics.median(pairs), printed or 0), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
