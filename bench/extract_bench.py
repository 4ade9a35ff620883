#!/usr/bin/env python3
"""Times tolvex against tar, bsdtar and cp extracting the same trees.

Corpora, built once under the scratch directory and kept for later runs, each as a
directory tree, an archive (packed by tolvex_pack) and an uncompressed tar:
  small: the packages that `npm ci --ignore-scripts` installs from the pinned
         bench/small-corpus/package.json and package-lock.json (about 33,000 files in
         about 4,700 directories, median size about 560 B; symbolic links removed, since
         the archive holds none)
  large: four files of 256 MiB of random bytes
  mixed: about 5,000 files from 16 B to 50 MiB, sizes and bytes from a seeded generator
  uniform (only when asked for): 30,000 files of 200 B to 20 KB in nested directories,
         seeded

Tools, on the same tree: tolvex (standard output to /dev/null), GNU `tar -xf`, GNU tar
without restoring metadata (`-m --no-same-owner --no-same-permissions`), `bsdtar -xf` and
`cp -r` of the tree itself.

How a series is run, so that the numbers mean something on a small shared machine:
- every input is read once right before the series, and a tool's input again right
  before each of its runs, so the page cache is warm: on this kind of machine a page
  left unused for a minute is paged out (DAMON's pageout scheme, about 128 MiB a
  second), so one read per series does not keep a 1 GiB input in memory;
- one warm-up round, then N rounds, each running every tool once in turn, each round
  starting one tool further on (A B C, B C A, C A B, ...);
- each run extracts into a fresh directory inside a slot of a pool of directories made
  once, each slot in a region of the file system of its own (the pool's parent carries
  the ext4 "top directory" attribute, which spreads its subdirectories), the slot used
  least recently first;
- right before each run, as much memory as the tree holds (plus 64 MiB) is touched
  once and given back: the hypervisor charges about 13 us for the first touch of a page
  it has not backed yet, and hands back freed pages after a few seconds, so without this
  the run's new page cache would cost from 0.4 to 3.5 s for 1 GiB depending on chance;
- `sync` before each timed run, so earlier write-back stays out of it; only the
  extraction is timed: removing the output comes after, untimed, and a slot that held a
  large tree is not used again for six minutes (see SLOT_REST);
- peak resident memory comes from GNU time (/usr/bin/time) around each run.

The table gives per corpus and tool the median wall time, the median of the ratios to
GNU tar taken round by round (pair by pair), and the largest peak RSS. The spread of GNU
tar's own times is printed too: a wide spread means the machine was busy and the series
should be repeated.

Where each file makes a tool wait, as on a network or FUSE file system or under an
on-access scanner:
- --close-wait US preloads build/bench/libtolvex_slow_close.so into every tool, so that
  closing a file opened for writing waits US microseconds first;
- --bindfs extracts inside a bindfs (FUSE) mount of the run's directory, on the same disk,
  mounted afresh for each run (a mount that has seen many trees grows slower).
--threads 1,2,4,... adds tolvex with that many threads fixed (build/bench/
tolvex_fixed_threads) as the tools tolvex-1, tolvex-2, ...: the curve over the number of
copies in flight, beside the number tolvex chooses for itself.

Usage: bench/extract_bench.py [--tolvex PATH] [--pack PATH] [--scratch DIR] [--runs N]
                              [--corpus small,large,mixed] [--tools tolvex,tar,...]
                              [--variant NAME=PATH ...] [--samples]
                              [--close-wait US] [--bindfs] [--threads N,N,...]
--variant adds another tolvex build as one more tool (an older commit, say), to compare
builds side by side in the same series.
"""

import argparse
import atexit
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MiB = 1024 * 1024

# A slot is reused only this long after its last removal (seconds). ext4 without a
# journal passes over an inode freed in the last minute, or in the last six minutes once
# its inode table block is dirty again (as soon as a new file is made beside it), and
# every new inode starts that search at the front of its group: a tree made where one was
# just removed takes many times longer.
SLOT_REST = 370
POOL_SLOTS = 48


# ---------------------------------------------------------------------------- corpora

def build_small(tree, scratch):
    """Installs the pinned packages; their node_modules directory is the tree."""
    if shutil.which("npm") is None:
        raise RuntimeError("npm is not installed")
    install = os.path.join(scratch, "npm-install")
    shutil.rmtree(install, ignore_errors=True)
    os.makedirs(install)
    for name in ("package.json", "package-lock.json"):
        shutil.copy(os.path.join(HERE, "small-corpus", name), install)
    subprocess.run(["npm", "ci", "--ignore-scripts", "--no-audit", "--no-fund"],
                   cwd=install, check=True, stdout=subprocess.DEVNULL)
    os.makedirs(tree)
    os.rename(os.path.join(install, "node_modules"), os.path.join(tree, "node_modules"))
    shutil.rmtree(install, ignore_errors=True)
    # The archive holds directories and regular files only; tar must get the same tree.
    for top, dirs, files in os.walk(tree):
        for name in dirs + files:
            path = os.path.join(top, name)
            if os.path.islink(path):
                os.unlink(path)


def write_random(path, size, rng):
    with open(path, "wb") as out:
        left = size
        while left:
            piece = min(left, 16 * MiB)
            out.write(rng.randbytes(piece))
            left -= piece


def build_large(tree, scratch):
    os.makedirs(tree)
    rng = random.Random(256)
    for i in range(4):
        write_random(os.path.join(tree, "big%d.bin" % i), 256 * MiB, rng)


def mixed_sizes(rng):
    """About 5,000 sizes from 16 B to 50 MiB: mostly small, some medium, a few large,
    log-uniform within each band, the two ends included."""
    bands = [(4500, 16, 64 * 1024), (450, 64 * 1024, 4 * MiB), (48, 4 * MiB, 50 * MiB)]
    sizes = [16, 50 * MiB]
    for count, low, high in bands:
        for _ in range(count):
            sizes.append(int(low * (high / low) ** rng.random()))
    rng.shuffle(sizes)
    return sizes


def build_mixed(tree, scratch):
    rng = random.Random(5000)
    for i, size in enumerate(mixed_sizes(rng)):
        directory = os.path.join(tree, "d%02d" % (i % 20), "e%02d" % (i // 20 % 12))
        os.makedirs(directory, exist_ok=True)
        write_random(os.path.join(directory, "f%04d.bin" % i), size, rng)


def build_uniform(tree, scratch):
    """About 30,000 files of 200 B to 20 KB in two levels of directories (seeded)."""
    rng = random.Random(30000)
    for i in range(30000):
        directory = os.path.join(tree, "d%02d" % (i // 1000), "e%02d" % (i // 100 % 10))
        os.makedirs(directory, exist_ok=True)
        write_random(os.path.join(directory, "f%05d.bin" % i), rng.randint(200, 20000), rng)


CORPORA = {"small": build_small, "large": build_large, "mixed": build_mixed,
           "uniform": build_uniform}
# Bumped when a corpus changes, so that an old one is rebuilt.
CORPUS_VERSION = {"small": "npm-2", "large": "random-1", "mixed": "seeded-1",
                  "uniform": "seeded-1"}


def prepare(scratch, pack, name):
    tree = os.path.join(scratch, name)
    archive = os.path.join(scratch, name + ".asar")
    tarball = os.path.join(scratch, name + ".tar")
    marker = os.path.join(scratch, name + ".ready")
    version = CORPUS_VERSION[name]
    if not os.path.exists(marker) or open(marker).read().strip() != version:
        print("building the %s corpus in %s ..." % (name, tree), flush=True)
        shutil.rmtree(tree, ignore_errors=True)
        CORPORA[name](tree, scratch)
        subprocess.run([pack, tree, archive], check=True)
        subprocess.run(["tar", "-cf", tarball, "-C", tree, "."], check=True)
        with open(marker, "w") as out:
            out.write(version + "\n")
    return tree, archive, tarball


# ---------------------------------------------------------------------------- running

def region_size(path):
    """Inode numbers per region of the file system that ext4 fills as one: a flexible
    block group, 16 block groups of 8 * block size blocks (the defaults). A directory's
    files get inodes in its region, so runs in different regions do not meet."""
    stats = os.statvfs(path)
    groups = max(1, -(-stats.f_blocks // (8 * stats.f_bsize)))
    return max(1, stats.f_files // groups * 16)


class Pool:
    """Directories made once, each in a region of the file system of its own, used in
    rotation."""

    def __init__(self, scratch):
        self.root = os.path.join(scratch, "pool")
        region = region_size(scratch)
        apart = lambda a, b: abs(a - b) >= region  # so never in the same region
        slots = sorted(os.path.join(self.root, s) for s in os.listdir(self.root)) \
            if os.path.isdir(self.root) else []
        inodes = [os.stat(s).st_ino for s in slots]
        if not slots or not all(
                apart(a, b) for i, a in enumerate(inodes) for b in inodes[i + 1:]):
            slots = self.make(region, apart)
        self.slots = slots

    def make(self, region, apart):
        shutil.rmtree(self.root, ignore_errors=True)
        os.makedirs(self.root)
        # Subdirectories of a "top directory" are spread over the file system; of many
        # tries, those in a region of their own are kept, up to POOL_SLOTS of them.
        subprocess.run(["chattr", "+T", self.root], check=False, stderr=subprocess.DEVNULL)
        kept, inodes = [], []
        for i in range(40 * POOL_SLOTS):
            path = os.path.join(self.root, "try%03d" % i)
            os.mkdir(path)
            inode = os.stat(path).st_ino
            if all(apart(inode, other) for other in inodes):
                kept.append(path)
                inodes.append(inode)
            else:
                os.rmdir(path)
            if len(kept) == POOL_SLOTS:
                break
        slots = []
        for i, path in enumerate(kept):
            slots.append(os.path.join(self.root, "slot%02d" % i))
            os.rename(path, slots[-1])
        return slots

    def take(self):
        """A fresh, empty directory in the slot used least recently, once that slot has
        rested (when its last tree was a large one)."""
        stamps = [os.path.join(slot, ".freed") for slot in self.slots]
        used = [os.path.getmtime(stamp) if os.path.exists(stamp) else 0 for stamp in stamps]
        index = min(range(len(self.slots)), key=lambda i: used[i])
        slot, stamp = self.slots[index], stamps[index]
        if used[index] and open(stamp).read() == "rest":
            wait = used[index] + SLOT_REST - time.time()
            if wait > 0:
                print("(waiting %.0f s for %s to rest)" % (wait, slot), flush=True)
                time.sleep(wait)
        for leftover in os.listdir(slot):  # an interrupted earlier series
            if leftover != ".freed":
                shutil.rmtree(os.path.join(slot, leftover), ignore_errors=True)
        out = os.path.join(slot, "run")
        os.mkdir(out)
        return slot, out

    @staticmethod
    def give_back(slot, out):
        entries = sum(len(dirs) + len(files) for _, dirs, files in os.walk(out))
        shutil.rmtree(out, ignore_errors=True)
        subprocess.run(["sync"], check=False)
        # The file's modification time is the slot's last use; a few freed inodes cost
        # the next tree little, so only a large tree asks for rest.
        with open(os.path.join(slot, ".freed"), "w") as stamp:
            stamp.write("rest" if entries > 1000 else "")


def unmount(view):
    fusermount = shutil.which("fusermount3") or shutil.which("fusermount") or "fusermount"
    subprocess.run([fusermount, "-u", "-q", view], check=False, stderr=subprocess.DEVNULL)


def timed(command, cwd, report, preload):
    """Runs `command` in `cwd` with standard output to /dev/null, with the library
    `preload` (when given) preloaded; returns wall seconds and peak resident memory in KiB
    (None without GNU time)."""
    wrapper = []
    if os.access("/usr/bin/time", os.X_OK):
        wrapper = ["/usr/bin/time", "-f", "%M", "-o", report]
    if preload:
        wrapper += ["env", "LD_PRELOAD=" + preload]
    with open(os.devnull, "wb") as null:
        start = time.perf_counter()
        child = subprocess.Popen(wrapper + command, cwd=cwd, stdout=null)
        _, status, _ = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
    if status != 0:
        sys.exit("failed (%d): %s" % (status, " ".join(command)))
    rss = None
    if wrapper:
        with open(report) as lines:
            rss = int(lines.read().split()[-1])
    return wall, rss


def warm(paths):
    """Reads every file below `paths` once, so the series starts with a warm page cache."""
    for path in paths:
        if os.path.isfile(path):
            files = [path]
        else:
            files = (os.path.join(top, name) for top, _, names in os.walk(path)
                     for name in names)
        for name in files:
            with open(name, "rb") as data:
                while data.read(4 * MiB):
                    pass


def tool_commands(tolvex, variants, fixed, threads, tree, archive, tarball):
    commands = {"tolvex": [tolvex, archive]}
    commands.update((name, [path, archive]) for name, path in variants)
    commands.update(("tolvex-%d" % n, [fixed, str(n), archive]) for n in threads)
    commands.update({
        "tar": ["tar", "-xf", tarball],
        "tar-m": ["tar", "-xf", tarball, "-m", "--no-same-owner", "--no-same-permissions"],
        "bsdtar": ["bsdtar", "-xf", tarball],
        "cp-r": ["cp", "-r", tree, "copy"],
    })
    return commands


def extracted_root(command, out):
    if command[0] == "cp":
        return os.path.join(out, "copy")
    if command[0] in ("tar", "bsdtar"):
        return out
    return os.path.join(out, "tolvex")


def same_tree(expected, actual):
    return subprocess.run(["diff", "-r", "-q", expected, actual],
                          stdout=subprocess.DEVNULL).returncode == 0


def tree_bytes(tree):
    return sum(os.path.getsize(os.path.join(top, name))
               for top, _, names in os.walk(tree) for name in names)


def touch_memory(size):
    """Writes one byte in every page of `size` fresh bytes, then frees them: the page
    allocator hands freed pages out again first, already backed by the hypervisor."""
    pages = bytearray(size)
    pages[::4096] = b"\1" * len(range(0, size, 4096))
    del pages


def tool_input(command, tree):
    """The file or tree that `command` reads."""
    if command[0] == "cp":
        return tree
    return command[2] if command[1] == "-xf" else command[-1]


def series(scratch, pool, commands, tree, runs, preload=None, view=None):
    """The warm-up round, then `runs` rounds of every tool in turn, each seen through a
    bindfs mount at `view` when given. Returns, per tool, the list of (wall, rss) of the
    timed rounds."""
    report = os.path.join(scratch, "time.out")
    results = {tool: [] for tool in commands}
    output_size = tree_bytes(tree) + 64 * MiB
    order = list(commands.items())
    for round_ in range(runs + 1):
        # Each round starts with another tool: the first run of a round was seen to pay
        # for what the round before left behind.
        for tool, command in order[round_ % len(order):] + order[:round_ % len(order)]:
            slot, out = pool.take()
            warm([tool_input(command, tree)])
            subprocess.run(["sync"], check=False)
            touch_memory(output_size)
            seen = out
            if view:
                subprocess.run(["bindfs", "--no-allow-other", out, view], check=True)
                seen = view
            sample = timed(command, seen, report, preload)
            if round_ == 0:
                # The warm-up also checks that the tool recreated the tree exactly.
                if not same_tree(tree, extracted_root(command, seen)):
                    sys.exit("%s did not recreate %s exactly" % (tool, tree))
            else:
                results[tool].append(sample)
            if view:
                unmount(view)
            pool.give_back(slot, out)
    return results


def summarise(name, results, samples):
    tar_walls = [wall for wall, _ in results["tar"]] if "tar" in results else None
    for tool, samples in results.items():
        walls = [wall for wall, _ in samples]
        ratio = "n/a"
        if tar_walls:
            ratio = "%.2f" % statistics.median(w / t for w, t in zip(walls, tar_walls))
        peaks = [rss for _, rss in samples if rss is not None]
        peak = "%.1f" % (max(peaks) / 1024) if peaks else "n/a"
        print("%-6s %-9s %10.3f %8s %12s" % (name, tool, statistics.median(walls), ratio, peak))
        if samples:
            print("         rounds: %s" % " ".join("%.3f" % wall for wall in walls))
    if tar_walls:
        low, high, mid = min(tar_walls), max(tar_walls), statistics.median(tar_walls)
        steady = "steady" if (high - low) <= 0.2 * mid else "NOT steady: repeat the series"
        print("%-6s GNU tar from %.3f to %.3f s over %d rounds (%s)" %
              (name, low, high, len(tar_walls), steady), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tolvex", default="build/bench/tolvex")
    parser.add_argument("--pack", default="build/bench/tolvex_pack")
    parser.add_argument("--scratch", default=os.path.join(os.environ.get("TMPDIR", "/tmp"),
                                                          "tolvex-bench"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--corpus", default="small,large,mixed",
                        help="comma-separated, from small, large, mixed")
    parser.add_argument("--tools", default="tolvex,tar,tar-m,bsdtar,cp-r",
                        help="comma-separated, from tolvex, tar, tar-m, bsdtar, cp-r")
    parser.add_argument("--samples", action="store_true",
                        help="also print every round's time of each tool")
    parser.add_argument("--variant", action="append", default=[], metavar="NAME=PATH",
                        help="another tolvex build to time as the tool NAME")
    parser.add_argument("--close-wait", type=int, metavar="US",
                        help="closing a file opened for writing waits US microseconds")
    parser.add_argument("--shim", default="build/bench/libtolvex_slow_close.so")
    parser.add_argument("--bindfs", action="store_true",
                        help="extract inside a bindfs mount of the pool")
    parser.add_argument("--threads", default="",
                        help="comma-separated thread counts to fix, as tools tolvex-N")
    parser.add_argument("--fixed", default="build/bench/tolvex_fixed_threads")
    args = parser.parse_args()

    tolvex = os.path.abspath(args.tolvex)
    pack = os.path.abspath(args.pack)
    for path, what in ((tolvex, "tolvex program"), (pack, "tolvex_pack")):
        if not os.access(path, os.X_OK):
            print("skipped: no %s at %s (build it, or pass the path)" % (what, path))
            return 0
    variants = []
    for variant in args.variant:
        name, _, path = variant.partition("=")
        if not name or not os.access(path, os.X_OK):
            sys.exit("--variant wants NAME=PATH of a tolvex program: %s" % variant)
        variants.append((name, os.path.abspath(path)))
    threads = [int(n) for n in args.threads.split(",") if n]
    fixed = os.path.abspath(args.fixed)
    if threads and not os.access(fixed, os.X_OK):
        sys.exit("--threads wants the program %s (make bench-build)" % fixed)
    preload = None
    if args.close_wait is not None:
        preload = os.path.abspath(args.shim)
        if not os.access(preload, os.R_OK):
            sys.exit("--close-wait wants the library %s (make bench-build)" % preload)
        os.environ["TOLVEX_CLOSE_WAIT_US"] = str(args.close_wait)
    tools = args.tools.split(",") + [name for name, _ in variants]
    tools += ["tolvex-%d" % n for n in threads]
    needed = {"tar": "tar", "tar-m": "tar", "bsdtar": "bsdtar", "cp-r": "cp"}
    missing = [t for t in tools if t in needed and shutil.which(needed[t]) is None]
    if shutil.which("tar") is None:
        print("skipped: GNU tar is not installed (it also builds the tar corpora)")
        return 0
    if missing:
        print("left out, not installed: %s" % ", ".join(missing))
        tools = [t for t in tools if t not in missing]
    os.makedirs(args.scratch, exist_ok=True)
    pool = Pool(args.scratch)
    view = None
    if args.bindfs:
        if shutil.which("bindfs") is None:
            print("skipped: bindfs is not installed (Debian: bindfs)")
            return 0
        view = os.path.join(args.scratch, "bindfs")
        os.makedirs(view, exist_ok=True)
        unmount(view)
        atexit.register(unmount, view)

    print("%-6s %-9s %10s %8s %12s" % ("corpus", "tool", "median s", "/tar", "peak RSS MiB"))
    for name in args.corpus.split(","):
        try:
            tree, archive, tarball = prepare(args.scratch, pack, name)
        except (RuntimeError, subprocess.CalledProcessError) as error:
            print("%-6s skipped: %s" % (name, error))
            continue
        commands = {tool: command for tool, command in
                    tool_commands(tolvex, variants, fixed, threads, tree, archive,
                                  tarball).items()
                    if tool in tools}
        warm([tree, archive, tarball])
        summarise(name, series(args.scratch, pool, commands, tree, args.runs, preload, view),
                  args.samples)
    return 0


if __name__ == "__main__":
    sys.exit(main())
