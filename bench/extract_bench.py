#!/usr/bin/env python3
"""Times tolvex against GNU tar extracting the same trees.

Builds two corpora once under the scratch directory (kept for later runs):
  small: about 30,000 files of 200 B to 20 KB in nested directories
  large: four files of 256 MiB
and packs each as an archive (with tolvex_pack) and as an uncompressed tar. Then, for each
corpus, extracts it with tolvex and with `tar -xf` in turn (interleaved), into a fresh
output directory each run (see measure), standard output to /dev/null, after one warm-up run of each, and
prints median wall and CPU times, the ratio of the wall times and peak resident memory
(through /usr/bin/time when it is installed).

Usage: bench/extract_bench.py [--tolvex PATH] [--pack PATH] [--scratch DIR] [--runs N]
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

SMALL_FILES = 30000
LARGE_FILES = 4
LARGE_SIZE = 256 * 1024 * 1024


def build_small(tree):
    rng = random.Random(3)
    chunk = os.urandom(1 << 20)
    for i in range(SMALL_FILES):
        directory = os.path.join(tree, "d%02d" % (i // 1000), "e%02d" % (i // 100 % 10))
        os.makedirs(directory, exist_ok=True)
        size = rng.randint(200, 20000)
        start = rng.randint(0, len(chunk) - size)
        with open(os.path.join(directory, "f%05d.bin" % i), "wb") as out:
            out.write(chunk[start:start + size])


def build_large(tree):
    os.makedirs(tree, exist_ok=True)
    for i in range(LARGE_FILES):
        with open("/dev/urandom", "rb") as source, \
                open(os.path.join(tree, "big%d.bin" % i), "wb") as out:
            left = LARGE_SIZE
            while left:
                piece = source.read(min(left, 16 << 20))
                out.write(piece)
                left -= len(piece)


def prepare(scratch, pack, name, build):
    tree = os.path.join(scratch, name)
    archive = os.path.join(scratch, name + ".asar")
    tarball = os.path.join(scratch, name + ".tar")
    done = os.path.join(scratch, name + ".ready")
    if not os.path.exists(done):
        print("building the %s corpus in %s ..." % (name, tree), flush=True)
        shutil.rmtree(tree, ignore_errors=True)
        build(tree)
        subprocess.run([pack, tree, archive], check=True)
        subprocess.run(["tar", "-cf", tarball, "-C", tree, "."], check=True)
        open(done, "w").close()
    return archive, tarball


def timed(command, cwd):
    """Runs `command` in `cwd`; returns wall seconds, user+system CPU seconds and the peak
    resident memory in KiB (None when GNU time is missing to measure it)."""
    # Measured by GNU time: a child started straight from this script would report this
    # script's own peak, which exec carries over.
    report = os.path.join(cwd, "..", "time.out")  # outside the tree being extracted
    wrapper = []
    if os.access("/usr/bin/time", os.X_OK):
        wrapper = ["/usr/bin/time", "-f", "%M", "-o", report]
    with open(os.devnull, "wb") as null:
        start = time.perf_counter()
        child = subprocess.Popen(wrapper + command, cwd=cwd, stdout=null)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
    if status != 0:
        sys.exit("failed: %s" % " ".join(command))
    rss = None
    if wrapper:
        with open(report) as lines:
            rss = int(lines.read().split()[-1])
    return wall, usage.ru_utime + usage.ru_stime, rss


def measure(scratch, tolvex, archive, tarball, runs):
    # Each run gets a directory never used before: on some file systems, creating files
    # where many were just deleted costs several times more, which would time the file
    # system's clean-up rather than the extraction. All are removed at the end.
    outputs = os.path.join(scratch, "out")
    shutil.rmtree(outputs, ignore_errors=True)
    commands = {
        "tolvex": [tolvex, archive],
        "tar": ["tar", "-xf", tarball],
    }
    results = {tool: [] for tool in commands}
    for run in range(runs + 1):  # run 0 warms the page cache
        for tool, command in commands.items():
            out = os.path.join(outputs, "%s-%d" % (tool, run), "work")
            os.makedirs(out)
            subprocess.run(["sync"], check=False)  # earlier runs' writeback stays out of this one
            sample = timed(command, out)
            if run > 0:
                results[tool].append(sample)
    shutil.rmtree(outputs, ignore_errors=True)
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tolvex", default="build/release/tolvex")
    parser.add_argument("--pack", default="build/release/tolvex_pack")
    parser.add_argument("--scratch", default=os.path.join(os.environ.get("TMPDIR", "/tmp"),
                                                          "tolvex-bench"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--corpus", choices=["small", "large", "both"], default="both")
    args = parser.parse_args()

    tolvex = os.path.abspath(args.tolvex)
    if not os.access(tolvex, os.X_OK):
        print("skipped: no tolvex program at %s (build it, or pass --tolvex PATH)" % tolvex)
        return 0
    if not os.access(args.pack, os.X_OK):
        print("skipped: no tolvex_pack at %s (build it, or pass --pack PATH)" % args.pack)
        return 0
    if shutil.which("tar") is None:
        print("skipped: GNU tar is not installed")
        return 0
    pack = os.path.abspath(args.pack)
    os.makedirs(args.scratch, exist_ok=True)

    corpora = [("small", build_small), ("large", build_large)]
    if args.corpus != "both":
        corpora = [c for c in corpora if c[0] == args.corpus]
    print("%-6s %-7s %10s %10s %10s %12s" %
          ("corpus", "tool", "median s", "min s", "median cpu", "peak RSS MiB"))
    for name, build in corpora:
        archive, tarball = prepare(args.scratch, pack, name, build)
        results = measure(args.scratch, tolvex, archive, tarball, args.runs)
        medians = {}
        for tool, samples in results.items():
            walls = [wall for wall, _, _ in samples]
            medians[tool] = statistics.median(walls)
            cpu = statistics.median(cpu for _, cpu, _ in samples)
            peaks = [rss for _, _, rss in samples if rss is not None]
            peak = "%.1f" % (max(peaks) / 1024) if peaks else "n/a"
            print("%-6s %-7s %10.3f %10.3f %10.3f %12s" %
                  (name, tool, medians[tool], min(walls), cpu, peak))
        print("%-6s ratio tolvex/tar: %.2fx" % (name, medians["tolvex"] / medians["tar"]),
              flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
