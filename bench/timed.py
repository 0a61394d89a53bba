#!/usr/bin/env python3
"""Runs a command and writes what it cost to FIGURES, one name=value a line: wall_us, cpu_user_us and cpu_sys_us
(the command's own processor time, from getrusage of the waited-for child, all its threads) and exit_status.

    bench/timed.py FIGURES COMMAND [ARGUMENT...]

Standard input and output stay the command's; the exit status is the command's.
"""

import resource
import subprocess
import sys
import time


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    figures, command = sys.argv[1], sys.argv[2:]
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic_ns()
    status = subprocess.run(command, check=False).returncode
    wall_us = (time.monotonic_ns() - start) // 1000
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    with open(figures, "w") as out:
        out.write(f"wall_us={wall_us}\n")
        out.write(f"cpu_user_us={round((after.ru_utime - before.ru_utime) * 1e6)}\n")
        out.write(f"cpu_sys_us={round((after.ru_stime - before.ru_stime) * 1e6)}\n")
        out.write(f"exit_status={status}\n")
    return status


if __name__ == "__main__":
    sys.exit(main())
