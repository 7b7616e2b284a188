#!/usr/bin/env python3
"""Times two commands for the query benchmark, in alternation.

Usage: query_timer.py RUNS NAME OUTPUT COMMAND... -- NAME OUTPUT COMMAND...

Runs each COMMAND RUNS times, one after the other in turns, so that both
meet the same moments of a busy machine, with standard output going to its
OUTPUT. Prints one line per command: its NAME, the best wall time in ms, the
best CPU time (user + system, from the child's rusage) in ms, the largest
peak resident set in KiB, and the median over the turns of its wall time
divided by the other command's in the same turn.
"""
import os
import statistics
import sys
import time


def run(output, command):
    fd = os.open(output, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    start = time.perf_counter()
    pid = os.posix_spawnp(command[0], command, os.environ,
                          file_actions=[(os.POSIX_SPAWN_DUP2, fd, 1)])
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    os.close(fd)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"query_timer: {command[0]} failed")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def main():
    runs, rest = int(sys.argv[1]), sys.argv[2:]
    split = rest.index("--")
    jobs = [(rest[0], rest[1], rest[2:split]),
            (rest[split + 1], rest[split + 2], rest[split + 3:])]
    walls = [[], []]
    cpus = [[], []]
    peaks = [0, 0]
    for _ in range(runs):
        for i, (_, output, command) in enumerate(jobs):
            wall, cpu, peak = run(output, command)
            walls[i].append(wall)
            cpus[i].append(cpu)
            peaks[i] = max(peaks[i], peak)
    for i, (name, _, _) in enumerate(jobs):
        other = walls[1 - i]
        ratio = statistics.median(w / o for w, o in zip(walls[i], other))
        print(f"{name} {min(walls[i]) * 1000:.1f} {min(cpus[i]) * 1000:.1f} "
              f"{peaks[i]} {ratio:.3f}")


if __name__ == "__main__":
    main()
