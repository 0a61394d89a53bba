#!/usr/bin/env python3
"""The production station's table of the benchmark: `fwupdate-cli station` with SLOTS slots, UNITS units plugged
into each one after another, every unit a paced controller (fwsim --pace, program kind 0x10) behind its own
38400-baud line tap (fwu_line_tap). A unit is plugged in by making the slot's link to its tap's terminal, and
taken out once its controller has ended after the update, by removing the link.

    bench/station_bench.py BUILD OUT MAIN SECOND [--slots 8] [--units 3] [--idle-s 20]

Before the first unit, every slot waits for a unit for IDLE seconds, first with no port there, then with a port
and a controller that answers nothing (an adapter left in the fixture, tried about once a second); the
station's processor time over each (from /proc) is its cost of waiting. Targets: every unit finished with the controller's memory equal to the images;
from the plug-in to the first byte of the update's own identification message at most 1.5 s; while every slot
waits, at most 0.5 % of one core. Exit status 0 when every target is met, 1 otherwise, 2 when it could not run.
"""

import argparse
import json
import os
import subprocess
import sys
import threading
import time

LATENCY_TARGET_S = 1.5
IDLE_TARGET_PERCENT = 0.5
UNIT_LIMIT_S = 400  # a paced update takes about 85 s
IDENTIFICATION = "026b7a6b7a3432"  # STX "kzkz42": the start of every boot-mode entry


def wait_for(condition, limit_s, step_s=0.02):
    end = time.monotonic() + limit_s
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(step_s)
    return False


def first_line(path):
    try:
        with open(path) as file:
            line = file.readline()
            return line.strip() if line.endswith("\n") else ""
    except OSError:
        return ""


def cpu_seconds(pid):
    """utime + stime of the process and all its threads, from /proc."""
    with open(f"/proc/{pid}/stat") as file:
        fields = file.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks


def host_writes(tap_log):
    """(read ns, hex) of every chunk the station wrote, in order."""
    writes = []
    with open(tap_log) as file:
        for line in file:
            parts = line.split()
            if parts and parts[0] == "h" and len(parts) >= 5:
                writes.append((int(parts[1]), parts[4]))
    return writes


def identification_times(writes):
    """When each identification message began: its STX, with the code in the same or the next write."""
    times = []
    for i, (at, data) in enumerate(writes):
        joined = data + (writes[i + 1][1] if i + 1 < len(writes) else "")
        if joined.startswith(IDENTIFICATION):
            times.append(at)
    return times


class Slot(threading.Thread):
    def __init__(self, args, number):
        super().__init__()
        self.args = args
        self.number = number
        self.dir = os.path.join(args.out, f"slot-{number}")
        self.path = os.path.join(self.dir, "slot")
        self.units = []
        self.go = threading.Event()
        os.makedirs(self.dir, exist_ok=True)

    def run(self):
        self.go.wait()
        for unit in range(1, self.args.units + 1):
            self.units.append(self.plug(unit))

    def plug(self, unit):
        base = os.path.join(self.dir, f"unit-{unit}")
        result = {"slot": self.number, "unit": unit, "memory": "", "first_byte_s": None, "update_id_s": None}
        sim = subprocess.Popen(
            [f"{self.args.build}/sim/fwsim", "--pace", "--program-kind", "10", "--log", base + ".sim.log",
             "--link", base + ".controller", "--expect-main", self.args.main, "--expect-second", self.args.second,
             "--exit-after-update"],
            stdout=open(base + ".sim.out", "w"), stderr=open(base + ".sim.err", "w"))
        if not wait_for(lambda: first_line(base + ".sim.out"), 10):
            sim.kill()
            result["memory"] = "fwsim did not start"
            return result
        tap = subprocess.Popen(
            [f"{self.args.build}/bench/fwu_line_tap", "--device", base + ".controller", "--link", base + ".tap",
             "--log", base + ".tap.log"],
            stdout=open(base + ".tap.out", "w"), stderr=open(base + ".tap.err", "w"))
        if not wait_for(lambda: first_line(base + ".tap.out"), 10):
            sim.kill()
            tap.kill()
            result["memory"] = "the tap did not start"
            return result
        plugged = time.monotonic_ns()
        os.symlink(first_line(base + ".tap.out"), self.path)
        try:
            sim.wait(UNIT_LIMIT_S)
        except subprocess.TimeoutExpired:
            sim.terminate()
            sim.wait()
        os.unlink(self.path)  # the operator takes the unit out
        tap.terminate()
        tap.wait()
        with open(base + ".sim.out") as file:
            verdict = [line.strip() for line in file if line.startswith("memory:")]
        result["memory"] = verdict[0] if verdict else f"fwsim ended with {sim.returncode}"
        writes = host_writes(base + ".tap.log")
        ids = [at for at in identification_times(writes) if at >= plugged]
        if writes:
            result["first_byte_s"] = (writes[0][0] - plugged) / 1e9
        # The first boot-mode entry is the station's try; the update's own follows it.
        if len(ids) >= 2:
            result["update_id_s"] = (ids[1] - plugged) / 1e9
        return result


def main():
    parser = argparse.ArgumentParser()
    for name in ("build", "out", "main", "second"):
        parser.add_argument(name)
    parser.add_argument("--slots", type=int, default=8)
    parser.add_argument("--units", type=int, default=3)
    parser.add_argument("--idle-s", type=float, default=20)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    load_before = open("/proc/loadavg").read().split()[0]
    records = os.path.join(args.out, "records.jsonl")
    if os.path.exists(records):
        os.unlink(records)

    slots = [Slot(args, n) for n in range(1, args.slots + 1)]
    station = subprocess.Popen(
        [f"{args.build}/cli/fwupdate-cli", "station", "--records", records, "--station", "bench"] +
        [slot.path for slot in slots],
        stdout=open(os.path.join(args.out, "station.out"), "w"), stderr=subprocess.STDOUT)
    if not wait_for(lambda: first_line(os.path.join(args.out, "station.out")), 10):
        station.kill()
        print("station-bench: the station did not start", file=sys.stderr)
        return 2
    # Every slot waits for a unit: the station's processor time over that, with no port, then with silent ports.
    def idle_share():
        time.sleep(2)
        before, start = cpu_seconds(station.pid), time.monotonic()
        time.sleep(args.idle_s)
        return 100 * (cpu_seconds(station.pid) - before) / (time.monotonic() - start)

    idle_percent = idle_share()
    silent = [subprocess.Popen([f"{args.build}/sim/fwsim", "--silent", "--link", slot.path],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) for slot in slots]
    wait_for(lambda: all(os.path.islink(slot.path) for slot in slots), 10)
    silent_percent = idle_share()
    for controller in silent:
        controller.terminate()
        controller.wait()

    for slot in slots:
        slot.start()
    for slot in slots:
        slot.go.set()
    for slot in slots:
        slot.join()
    expected = args.slots * args.units
    wait_for(lambda: sum(1 for _ in open(records)) >= expected, 30, 0.1)
    station.send_signal(2)
    station.wait(60)

    with open(records) as file:
        written = [json.loads(line) for line in file if line.strip()]
    seconds = [record["seconds"] for record in written]
    finished = sum(1 for record in written if record["outcome"] == "finished")
    units = [unit for slot in slots for unit in slot.units]
    equal = sum(1 for unit in units if unit["memory"] == "memory: main equal, second equal")
    first_bytes = [unit["first_byte_s"] for unit in units if unit["first_byte_s"] is not None]
    update_ids = [unit["update_id_s"] for unit in units if unit["update_id_s"] is not None]
    worst_latency = max(update_ids) if len(update_ids) == expected else None

    ok = finished == expected and equal == expected and worst_latency is not None and \
        worst_latency <= LATENCY_TARGET_S and max(idle_percent, silent_percent) <= IDLE_TARGET_PERCENT
    rule = "-" * 100
    print(f"Production station: fwupdate-cli station, {args.slots} slots, {args.units} units each plugged one after "
          "another, each behind its own 38400-baud line")
    print(f"load average (1 min) before / after: {load_before} / {open('/proc/loadavg').read().split()[0]} on "
          f"{os.cpu_count()} cores")
    print(rule)
    print(f"{'slot':<6}{'unit':<6}{'outcome':<12}{'memory':<36}{'plug-in to first byte':>22}{'to update':>12}")
    by_port = {}
    for record in written:
        by_port.setdefault(record["slot"], []).append(record)
    for slot in slots:
        recorded = by_port.get(slot.path, [])
        for i, unit in enumerate(slot.units):
            outcome = recorded[i]["outcome"] if i < len(recorded) else "no record"
            first = f"{unit['first_byte_s']:.3f} s" if unit["first_byte_s"] is not None else "-"
            update = f"{unit['update_id_s']:.3f} s" if unit["update_id_s"] is not None else "-"
            print(f"{slot.number:<6}{unit['unit']:<6}{outcome:<12}{unit['memory']:<36}{first:>22}{update:>12}")
    print(rule)
    print(f"units finished, memory equal                 {finished} / {equal} of {expected}")
    print(f"update time (record's seconds)               min {min(seconds, default=0):.2f} s, "
          f"max {max(seconds, default=0):.2f} s")
    if first_bytes:
        print(f"plug-in to the station's first byte          max {max(first_bytes):.3f} s, "
              f"mean {sum(first_bytes) / len(first_bytes):.3f} s")
    latency = f"max {worst_latency:.3f} s" if worst_latency is not None else "not measured for every unit"
    mean = f", mean {sum(update_ids) / len(update_ids):.3f} s" if update_ids else ""
    print(f"plug-in to the update's first byte           {latency}{mean}   target <= {LATENCY_TARGET_S:.2f} s")
    print(f"processor time, every slot waiting, no port ({args.idle_s:.0f} s)   {idle_percent:.3f} % of one core   "
          f"target <= {IDLE_TARGET_PERCENT:.2f} %")
    print(f"  the same, a silent controller on every port      {silent_percent:.3f} % of one core   "
          f"target <= {IDLE_TARGET_PERCENT:.2f} %")
    print(rule)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
