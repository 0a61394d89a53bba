#!/usr/bin/env python3
"""The records table of the benchmark: `fwupdate-cli records` over generated records files of 100,000 and
1,000,000 units (as a busy line's station writes them: every field, each image's SHA-256), as a table, as CSV, and
with a filter that matches nothing; wall time and peak resident memory of each run.

    records_bench.py BUILD OUT [COUNT...]
"""
import json
import os
import sys
import time

OUTCOMES = [("finished", "Finished", None), ("device_error", "0012 : Errors", 18),
            ("link_failure", "     -11 : When sending the command, ACK reception timeout", None)]


def record(i):
    outcome, message, status = OUTCOMES[0] if i % 10 else OUTCOMES[1 + (i // 10) % 2]
    second = 1767225600 + i * 47
    started = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(second))
    ended = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(second + 41))
    return {"slot": "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2.%d:1.0-port0" % (i % 8), "port": "/dev/ttyUSB%d" % (i % 8),
            "usb_id": "0403:6001", "usb_serial": "A50285B%d" % (i % 8), "usb_location": "1-2.%d" % (i % 8),
            "station": "line-3", "operator": "Ann", "lot": "L%d" % (i // 5000), "outcome": outcome,
            "message": message, "reason": None, "result_code": -11 if outcome == "link_failure" else None,
            "device_status": status, "device_status_text": "0012" if status else None,
            "phase": None if outcome == "finished" else "second-image preparation (03 20)", "block_address": None,
            "block_address_text": None, "blocks_written": 486 if outcome == "finished" else 0, "blocks_skipped": 1818,
            "controller_version": "1.00", "carried_version": "0213", "started": started, "ended": ended,
            "seconds": 41.14, "program_version": "1.1.0", "program_commit": "09378cb5a5b4",
            "images": [{"image": "main", "source": "carried", "sha256": "6ebd5a159a38f0b7895ea9a5050c4954ce5e53316bef068cc8789897a351bdc2"},
                       {"image": "second", "source": "carried", "sha256": "94ed666586eca451f8c40287a20e3335c1f2d9f4e65ad1cc11c274bae834290b"}],
            "trace": None}


def make_file(path, count):
    if os.path.exists(path) and os.path.getsize(path) > 0:
        return
    with open(path + ".part", "w", encoding="ascii") as out:
        for i in range(count):
            out.write(json.dumps(record(i), separators=(",", ":")) + "\n")
    os.replace(path + ".part", path)


def run(argv):
    """Wall seconds and peak resident MiB of one run, its output discarded; the status too."""
    start = time.monotonic()
    pid = os.fork()
    if pid == 0:
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, 1)
        os.dup2(null, 2)
        os.execv(argv[0], argv)
    _, status, usage = os.wait4(pid, 0)
    return time.monotonic() - start, usage.ru_maxrss / 1024.0, os.waitstatus_to_exitcode(status)


def main():
    build, out = sys.argv[1], sys.argv[2]
    counts = [int(c) for c in sys.argv[3:]] or [100_000, 1_000_000]
    cli = os.path.join(build, "cli", "fwupdate-cli")
    os.makedirs(out, exist_ok=True)
    print("%-10s %9s  %-22s %9s %12s" % ("records", "file MB", "run", "seconds", "peak MiB"))
    failed = False
    for count in counts:
        path = os.path.join(out, "records-%d.jsonl" % count)
        make_file(path, count)
        size = os.path.getsize(path) / 1e6
        for name, extra in (("table", []), ("csv", ["--format", "csv"]), ("filter, nothing matches", ["--lot", "nomatch"])):
            seconds, peak, status = run([cli, "records", path] + extra)
            failed = failed or status != 0
            print("%-10s %9.0f  %-22s %9.2f %12.1f" % ("{:,}".format(count), size, name, seconds, peak))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
