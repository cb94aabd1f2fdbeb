#!/usr/bin/env python3
"""Whole-process timing, paired and alternating: every round runs each
command once, in an order that rotates from round to round, so that a
change in the machine's load falls on all of them alike. Each run is timed
from spawn to exit (wall), with its processor time (user + system) and page
faults from wait4. The load average is read before and after.

  alternate.py RUNS [--gap SECONDS] [--pair A/B ...] NAME=COMMAND ...

--gap leaves the machine idle that long before each run, as between the
captures of someone who takes one now and then.

COMMAND is split on spaces (no quoting). Prints one line per command
(medians, min-max of wall) and, for each pair, the median over rounds of
A's wall time over B's in the same round, beside the ratio of medians.
"""
import os
import statistics
import sys
import time


def run(argv, gap):
    time.sleep(gap)
    t0 = time.perf_counter_ns()
    pid = os.posix_spawnp(argv[0], argv, os.environ,
                          file_actions=[(os.POSIX_SPAWN_OPEN, 1, os.devnull,
                                         os.O_WRONLY, 0),
                                        (os.POSIX_SPAWN_OPEN, 2, os.devnull,
                                         os.O_WRONLY, 0)])
    _, status, usage = os.wait4(pid, 0)
    wall = (time.perf_counter_ns() - t0) / 1e6
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("alternate: %s failed" % " ".join(argv))
    cpu = (usage.ru_utime + usage.ru_stime) * 1e3
    return wall, cpu, usage.ru_minflt + usage.ru_majflt


def main():
    args = sys.argv[1:]
    runs = int(args.pop(0))
    pairs, commands, gap = [], [], 0.0
    while args:
        a = args.pop(0)
        if a == "--gap":
            gap = float(args.pop(0))
        elif a == "--pair":
            pairs.append(args.pop(0).split("/"))
        else:
            name, _, cmd = a.partition("=")
            commands.append((name, cmd.split()))
    load0 = os.getloadavg()
    results = {name: [] for name, _ in commands}
    for r in range(runs):
        shift = r % len(commands)
        for name, argv in commands[shift:] + commands[:shift]:
            results[name].append(run(argv, gap))
    load1 = os.getloadavg()
    print("# load average %.2f %.2f %.2f before, %.2f %.2f %.2f after; "
          "%d rounds" % (load0 + load1 + (runs,)) +
          ("; %g s idle before each run" % gap if gap else ""))
    print("%-22s %9s %17s %9s %8s" % ("command", "wall ms", "min-max",
                                       "cpu ms", "faults"))
    for name, _ in commands:
        w = [x[0] for x in results[name]]
        print("%-22s %9.2f %8.2f-%-8.2f %9.2f %8d" % (
            name, statistics.median(w), min(w), max(w),
            statistics.median(x[1] for x in results[name]),
            statistics.median(x[2] for x in results[name])))
    for a, b in pairs:
        ra, rb = results[a], results[b]
        wall = statistics.median(x[0] / y[0] for x, y in zip(ra, rb))
        cpu = statistics.median(x[1] / y[1] for x, y in zip(ra, rb))
        print("ratio %s / %s: wall %.3f (paired median; of medians %.3f), "
              "cpu %.3f" % (a, b, wall,
                            statistics.median(x[0] for x in ra) /
                            statistics.median(y[0] for y in rb), cpu))


main()
