#!/usr/bin/env python3
"""Times whole invocations of the built binary: median and spread of wall time, peak memory.

usage: bench/time_binary.py [--binary PATH] [--runs N] [COMMAND ...]

Peak memory comes from GNU time (Debian package "time") when it is installed: the maximum RSS a
parent can read of its own child includes what the child was before exec, which would be this
Python process, so a small C parent has to read it.
"""
import argparse
import os
import statistics
import subprocess
import time


def wall_times(binary, command, runs):
    walls = []
    for _ in range(runs):
        start = time.perf_counter()
        pid = os.posix_spawn(binary, [binary, *command], os.environ,
                             file_actions=[(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0)])
        os.waitpid(pid, 0)
        walls.append(time.perf_counter() - start)
    walls.sort()
    return walls


def peak_rss_kib(binary, command):
    if not os.path.exists("/usr/bin/time"):
        return None
    peaks = []
    for _ in range(5):
        done = subprocess.run(["/usr/bin/time", "-f", "%M", binary, *command],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, check=False)
        peaks.append(int(done.stderr.strip().splitlines()[-1]))
    return max(peaks)


def report(label, binary, command, runs):
    walls = wall_times(binary, command, runs)
    rss = peak_rss_kib(binary, command)
    print(f"{label:>14}: median {statistics.median(walls) * 1e3:.3f} ms, "
          f"p90 {walls[int(len(walls) * 0.9) - 1] * 1e3:.3f} ms, min {walls[0] * 1e3:.3f} ms, "
          f"peak RSS {'n/a' if rss is None else f'{rss} KiB'} ({runs} runs)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default="build/release/src/focusprobe")
    parser.add_argument("--runs", type=int, default=200)
    parser.add_argument("commands", nargs="*", default=["frontmost", "info"])
    args = parser.parse_args()
    report("/bin/true", "/bin/true", [], args.runs)  # the floor of this machine
    binary = os.path.abspath(args.binary)
    for command in args.commands:
        report(command, binary, command.split(), args.runs)


if __name__ == "__main__":
    main()
