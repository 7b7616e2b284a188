#!/usr/bin/env python3
"""Times a command for the query benchmark.

Usage: query_timer.py RUNS OUTPUT COMMAND...

Runs COMMAND RUNS times with its standard output going to OUTPUT and prints
one line: the best wall time in ms, the best CPU time (user + system, from
the child's rusage) in ms, and the largest peak resident set in KiB.
"""
import os
import sys
import time


def main():
    runs, output, command = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
    best_wall = best_cpu = float("inf")
    peak_kib = 0
    for _ in range(runs):
        fd = os.open(output, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        start = time.perf_counter()
        pid = os.posix_spawnp(command[0], command, os.environ,
                              file_actions=[(os.POSIX_SPAWN_DUP2, fd, 1)])
        _, status, usage = os.wait4(pid, 0)
        wall = time.perf_counter() - start
        os.close(fd)
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit(f"query_timer: {command[0]} failed")
        best_wall = min(best_wall, wall)
        best_cpu = min(best_cpu, usage.ru_utime + usage.ru_stime)
        peak_kib = max(peak_kib, usage.ru_maxrss)
    print(f"{best_wall * 1000:.1f} {best_cpu * 1000:.1f} {peak_kib}")


if __name__ == "__main__":
    main()
