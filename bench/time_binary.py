#!/usr/bin/env python3
"""Times whole invocations of the built binary: median and spread of wall time, peak memory.

usage: bench/time_binary.py [--binary PATH] [--runs N] [COMMAND ...]
"""
import argparse
import os
import resource
import statistics
import subprocess
import time


def measure(binary, command, runs):
    walls = []
    peak_kib = 0
    for _ in range(runs):
        start = time.perf_counter()
        # Through a small shell: the peak memory a parent reports for a child includes what the
        # child was before exec, and that would be this Python process.
        pid = os.posix_spawn("/bin/sh", ["sh", "-c", 'exec "$0" "$@"', binary, *command], os.environ,
                             file_actions=[(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0)])
        _, _, usage = os.wait4(pid, 0)
        walls.append(time.perf_counter() - start)
        peak_kib = max(peak_kib, usage.ru_maxrss)
    walls.sort()
    return {
        "median_ms": statistics.median(walls) * 1e3,
        "p90_ms": walls[int(len(walls) * 0.9) - 1] * 1e3,
        "min_ms": walls[0] * 1e3,
        "peak_rss_kib": peak_kib,
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default="build/release/src/focusprobe")
    parser.add_argument("--runs", type=int, default=200)
    parser.add_argument("commands", nargs="*", default=["frontmost", "info"])
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    baseline = measure("/bin/true", [], args.runs)
    print(f"{'/bin/true':>14}: median {baseline['median_ms']:.3f} ms, peak RSS {baseline['peak_rss_kib']} KiB "
          "(the floor of this machine and launcher)")
    for command in args.commands:
        result = measure(binary, command.split(), args.runs)
        print(f"{command:>14}: median {result['median_ms']:.3f} ms, p90 {result['p90_ms']:.3f} ms, "
              f"min {result['min_ms']:.3f} ms, peak RSS {result['peak_rss_kib']} KiB ({args.runs} runs)")


if __name__ == "__main__":
    main()
