#!/usr/bin/env python3
"""Turns the logs of benchmark runs into the table of update time against the line's floor and CPU cost.

Each run directory holds:
  sim.log   fwsim's line log: one line per Frame, identification message and boot reply, in the order the
            controller took them in and answered them, with their sizes on the wire (wire=N)
  tap.log   fwu_line_tap's log: when every chunk of bytes crossed the line, in both directions
  sim.out   fwsim's memory verdict
  cpu.txt   name=value lines: the updater's CPU time over the update (cpu_user_us, cpu_sys_us, wall_us) and
            whether it ended in "Finished" (finished=1)
  updater.log  (the network row) fwu_tcp_tap's log: when the line's bytes left and reached the updater, in
            front of the device server

fwsim's log gives the messages in order and their sizes; the tap's times say when each one's bytes were
written, carried and answered. The floor is the time a program that wastes nothing would take: it writes each
message exactly 10 ms after what it waited for (and 50 ms after its EOT of a command, 1000 ms after the
answer to 08 00), every byte takes 10 bits at 38400 baud, and the controller reacts as fast as it did. Whatever
the updater adds on top of that, turn by turn, is its waste.
"""

import argparse
import json
import os
import sys

BYTE_US = 260.417  # 10 bits at 38400 baud
WRITE_PAUSE_US = 10_000  # before every write of the host
EXCHANGE_PAUSE_US = 50_000  # after the host's EOT of a command exchange
COMMIT_PAUSE_US = 1_000_000  # after the answer to 08 00 has been closed
ID_WRITES = (1, 6, 2)  # the identification message leaves in three writes: STX, the code, ETX and BCC

TARGET_NATIVE_RATIO = 1.02
TARGET_WINE_RATIO = 1.01
TARGET_NATIVE_CPU_SHARE = 0.005
TARGET_LONGEST_WAIT_US = 100_000  # before any command, beyond what the protocol asks
# The dialog program under Wine, on an idle machine and with its processors kept busy: the operator's bench PC.
TARGET_WINE_LONGEST_WAIT_US = 20_000
TARGET_WINE_CPU_SHARE = 0.015
# An adapter whose latency timer is set to 1 ms holds the controller's answers back by at most this share of the
# plain line's update time.
TARGET_FAST_ADAPTER_COST = 0.02
FAST_ADAPTER_MS = 1
# Calls into the port's read and the clock for a whole update in memory: at most a tenth of what the receiver took
# when it polled the port one byte at a time (53,834 reads, 65,715 clock readings).
TARGET_SEAM_READS = 5_383
TARGET_CLOCK_READINGS = 6_571


class BenchError(Exception):
    pass


# --- reading the logs -------------------------------------------------------------------------------------------


class Message:
    """One message on the line, as fwsim logged it, with the times the tap saw for it."""

    def __init__(self, direction, kind, control, wire, cmd, address=None):
        self.direction = direction  # 'in' (to the controller) or 'out'
        self.kind = kind  # frame, id, boot-reply, skipped
        self.control = control  # STX, EOT, ENQ, ACK, NAK or '-'
        self.wire = wire
        self.cmd = cmd  # "CC:QQ" for commands in, "CC" for answers out, else None
        self.address = address  # block writes: the write address
        self.writes = []  # host messages: (read_us, delivered_us, size) of each write of the updater
        self.delivered_us = None  # host messages: when the last byte reached the controller
        self.first_us = None  # controller messages: when its first byte left the controller
        self.arrived_us = None  # controller messages: when its last byte was handed to the updater


def read_sim_log(path):
    messages = []
    with open(path) as log:
        for line in log:
            fields = line.split()
            if len(fields) < 7:
                continue
            values = dict(f.split("=", 1) for f in fields[4:] if "=" in f)
            address = int(values["addr"], 16) if "addr" in values else None
            messages.append(Message(fields[1], fields[2], fields[3], int(values["wire"]), values.get("cmd"), address))
    if not messages:
        raise BenchError(f"{path}: no messages logged")
    skipped = [m for m in messages if m.kind == "skipped" or m.control == "NAK"]
    if skipped:
        raise BenchError(f"{path}: {len(skipped)} stray or refused messages; the run was not clean")
    return messages


class Chunk:
    def __init__(self, start, data, read_us, done_us, due_us=None):
        self.start = start  # offset of its first byte in its direction's stream
        self.data = data
        self.read_us = read_us
        self.done_us = done_us  # host chunks: delivered to the controller; controller chunks: written to the host
        self.due_us = due_us  # host chunks: when the last stop bit would have ended on a real line


def read_tap_log(path):
    host, device = [], []
    host_size = device_size = 0
    with open(path) as log:
        for line in log:
            fields = line.split()
            if not fields or fields[0].startswith("#"):
                continue
            if fields[0] == "h":
                data = bytes.fromhex(fields[4])
                host.append(Chunk(host_size, data, int(fields[1]) / 1e3, int(fields[3]) / 1e3, int(fields[2]) / 1e3))
                host_size += len(data)
            elif fields[0] == "d":
                data = bytes.fromhex(fields[3])
                device.append(Chunk(device_size, data, int(fields[1]) / 1e3, int(fields[2]) / 1e3))
                device_size += len(data)
    return host, device


def chunk_at(chunks, offset):
    """The chunk that holds the byte at offset of its stream (chunks in stream order)."""
    low, high = 0, len(chunks) - 1
    while low < high:
        middle = (low + high + 1) // 2
        if chunks[middle].start <= offset:
            low = middle
        else:
            high = middle - 1
    chunk = chunks[low]
    if not chunk.start <= offset < chunk.start + len(chunk.data):
        raise BenchError(f"no byte {offset} in the tap's log")
    return chunk


def byte_at(chunks, offset):
    chunk = chunk_at(chunks, offset)
    return chunk.data[offset - chunk.start]


def write_starts(m):
    """Where each write of the updater's message begins within it: the identification message leaves in three."""
    if m.kind == "id":
        return [0, ID_WRITES[0], ID_WRITES[0] + ID_WRITES[1]], list(ID_WRITES)
    return [0], [m.wire]


def place_messages(messages, host, device):
    """Gives every message the tap's times for its bytes, checking that sizes and first bytes agree."""
    offsets = {"in": 0, "out": 0}
    for m in messages:
        chunks = host if m.direction == "in" else device
        start = offsets[m.direction]
        end = start + m.wire - 1
        lead = byte_at(chunks, start)
        expected = 0x02 if m.kind in ("id", "boot-reply") else 0x10
        if lead != expected:
            raise BenchError(f"the tap's bytes do not line up with fwsim's log at {m.direction} offset {start}")
        if m.direction == "in":
            starts, sizes = write_starts(m)
            for at, size in zip(starts, sizes):
                first = chunk_at(chunks, start + at)
                last = chunk_at(chunks, start + at + size - 1)
                m.writes.append((first.read_us, last.done_us, size))
            m.delivered_us = chunk_at(chunks, end).done_us
        else:
            m.first_us = chunk_at(chunks, start).read_us
            m.arrived_us = chunk_at(chunks, end).done_us
        offsets[m.direction] = end + 1
    for direction, chunks in (("in", host), ("out", device)):
        total = sum(len(c.data) for c in chunks)
        if total != offsets[direction]:
            raise BenchError(f"fwsim logged {offsets[direction]} bytes {direction}, the tap carried {total}")


def read_updater_log(path):
    """fwu_tcp_tap's log: the line's bytes where the updater sent them ('h') and where it received them ('d')."""
    chunks = {"h": [], "d": []}
    sizes = {"h": 0, "d": 0}
    with open(path) as log:
        for line in log:
            fields = line.split()
            if len(fields) != 3 or fields[0] not in chunks:
                continue
            data = bytes.fromhex(fields[2])
            at = int(fields[1]) / 1e3
            chunks[fields[0]].append(Chunk(sizes[fields[0]], data, at, at))
            sizes[fields[0]] += len(data)
    return chunks["h"], chunks["d"]


# Bytes the updater sent that never reached the line between two messages: the EOT Frame that closes the enquiry,
# purged by the next exchange before the device server passed it on.
MAX_UNSENT = 16


def retime_at_updater(messages, host, device, updater_host, updater_device):
    """Behind a device server the updater's end of the line is not the line tap's. Each message's write times
    become those at which the updater sent its bytes, and each answer's arrival the moment the updater had its
    last byte; what the server and the network took in between becomes the line's own delay."""
    for direction, tap_chunks, chunks in (("in", host, updater_host), ("out", device, updater_device)):
        line = b"".join(c.data for c in tap_chunks)
        seen = b"".join(c.data for c in chunks)
        offset = cursor = 0
        for m in (m for m in messages if m.direction == direction):
            at = seen.find(line[offset:offset + m.wire], cursor)
            if at < 0 or at - cursor > MAX_UNSENT:
                raise BenchError(f"the updater's bytes do not line up with the line's at {direction} offset {offset}")
            if direction == "in":
                starts, _ = write_starts(m)
                m.writes = [(chunk_at(chunks, at + start).read_us, done_us, size)
                            for start, (_, done_us, size) in zip(starts, m.writes)]
            else:
                m.arrived_us = chunk_at(chunks, at + m.wire - 1).done_us
            offset += m.wire
            cursor = at + m.wire


# --- the turns of the exchange -------------------------------------------------------------------------------------


class Turn:
    """One write of the updater and what it had to wait for before it."""

    def __init__(self, message, index, previous_write, awaited, after_own_eot, after_commit, kind, lost_writes=0):
        self.message = message
        self.index = index  # which write of the message (the identification message has three)
        self.previous_write = previous_write  # (message, index) of the updater's write before, or None
        self.awaited = awaited  # the controller's last message since then, or None
        self.after_own_eot = after_own_eot  # the write before was the updater's EOT of a command exchange
        self.after_commit = after_commit  # awaited is the closing EOT of 08 00
        self.kind = kind
        # Writes of the updater that never reached the line between the previous write and this one: the EOT
        # Frame that closes the enquiry is followed at once by the purge that opens the next exchange, and on a
        # pseudo-terminal that purge drops the bytes the far end has not taken in yet.
        self.lost_writes = lost_writes


def build_turns(messages):
    """Walks fwsim's log in order and notes, for every write of the updater, what it had to wait for."""
    turns = []
    previous = None  # (message, write index)
    previous_is_exchange_eot = False
    awaited = None
    awaited_closes_commit = False
    opened_by = None  # the control byte of the updater's last Frame before the controller's ACK
    current_cmd = None
    exchanges = 0
    commits = 0
    lost = 0
    for m in messages:
        if m.direction == "out":
            awaited = m
            awaited_closes_commit = m.control == "EOT" and current_cmd == "08:00"
            commits += awaited_closes_commit
            continue
        enquiry_unclosed = (awaited is not None and awaited.control == "ACK" and opened_by == "ENQ"
                            and not (m.kind == "frame" and m.control == "EOT"))
        lost += enquiry_unclosed
        for index in range(len(m.writes)):
            if previous is None:
                kind = "start"
            elif index > 0:
                kind = "identification, next part"
            elif awaited_closes_commit:
                kind = "after 08 00 (1000 ms pause)"
            elif previous_is_exchange_eot:
                kind = "ACK after the answer (50 ms pause)"
            elif awaited is None:
                kind = "after its own EOT"
            else:
                kind = {
                    "boot-reply": "ENQ after the boot reply",
                    "ACK": "EOT after the controller's ACK",
                    "EOT": "next command after the closing EOT",
                }.get(awaited.kind if awaited.kind == "boot-reply" else awaited.control, "other")
            turns.append(
                Turn(m, index, previous, awaited if index == 0 else None, previous_is_exchange_eot and index == 0,
                     awaited_closes_commit and index == 0, kind, 1 if enquiry_unclosed and index == 0 else 0))
            previous = (m, index)
            if index == 0:
                awaited = None
                awaited_closes_commit = False
        is_eot = m.kind == "frame" and m.control == "EOT"
        previous_is_exchange_eot = is_eot and opened_by == "STX"
        exchanges += previous_is_exchange_eot
        if m.kind == "frame" and m.control in ("STX", "ENQ"):
            opened_by = m.control
            if m.control == "STX":
                current_cmd = m.cmd
        elif m.kind == "id":
            opened_by = None
    return turns, exchanges, commits, lost


def earliest_write(turn, write_time, arrival_time):
    """When a program that wastes nothing would make this write, given when what it waits for happened."""
    if turn.previous_write is None:
        return None
    base = write_time(*turn.previous_write) + (EXCHANGE_PAUSE_US if turn.after_own_eot else 0)
    if turn.awaited is not None:
        base = max(base, arrival_time(turn.awaited) + (COMMIT_PAUSE_US if turn.after_commit else 0))
    return base + (1 + turn.lost_writes) * WRITE_PAUSE_US


def replay(messages, turns, ideal_line):
    """The update of a program that wastes nothing: each write at its earliest moment, the controller reacting
    as fast as it did in the run. On the ideal line every byte takes exactly its 10 bits; otherwise the line
    carries each message as long as it did in the run (the simulator's and the tap's own delays included).
    Returns (first write, last arrival)."""
    write_at = {}
    delivered = {}
    arrived = {}
    line_free = 0.0
    trigger = None
    turn_of = {(id(t.message), t.index): t for t in turns}
    start = None
    for m in messages:
        if m.direction == "in":
            for index, (read_us, done_us, size) in enumerate(m.writes):
                turn = turn_of[(id(m), index)]
                at = earliest_write(turn, lambda msg, i: write_at[(id(msg), i)], lambda msg: arrived[id(msg)])
                if at is None:
                    at = read_us
                    start = at
                write_at[(id(m), index)] = at
                if ideal_line:
                    line_free = max(line_free, at) + size * BYTE_US
                    delivered[id(m)] = line_free
                else:
                    delivered[id(m)] = at + (done_us - read_us)
            trigger = m
        else:
            reaction = m.first_us - trigger.delivered_us
            first = delivered[id(trigger)] + reaction
            duration = m.wire * BYTE_US if ideal_line else m.arrived_us - m.first_us
            arrived[id(m)] = first + duration
    return start, arrived[id(messages[-1])]


def update_only(messages):
    """The messages of the update: from the identification message of its own boot-mode entry (the second one
    before the program-kind query, the version read's being the first) to the end. What came before, such as
    the version read that COM OPEN runs, is left out."""
    query = next((i for i, m in enumerate(messages) if m.direction == "in" and m.cmd == "0A:00"), None)
    if query is None:
        raise BenchError("no program-kind query (0A 00) in fwsim's log")
    entries = [i for i, m in enumerate(messages[:query]) if m.kind == "id"]
    if len(entries) < 2:
        raise BenchError("fewer than two boot-mode entries before the program-kind query")
    return messages[entries[-2]:]


# The regions the update walks block by block: the command that opens each, the block write, the command
# after its last block, the first address and the end.
BLOCK_SIZE = 256
REGIONS = (
    {"opens": "03:20", "block": "03:10", "closes": "07:10", "start": 0x30000, "end": 0x40000},
    {"opens": "02:00", "block": "03:00", "closes": "05:00", "start": 0x00000, "end": 0x80000},
)


def progress_steps(messages):
    """For every command of the updater, how many progress steps (each with its message pump) it took between
    the previous command's exchange and this one: one per block position passed, sent or blank."""
    steps = {}
    position = None  # the first block position of the region whose progress step is still to come
    for m in messages:
        if m.direction != "in" or m.cmd is None:
            continue
        taken = 0
        for region in REGIONS:
            if m.cmd == region["opens"]:
                position = region["start"]
            elif m.cmd == region["block"] and position is not None:
                taken = (m.address - position) // BLOCK_SIZE
                position = m.address
            elif m.cmd == region["closes"] and position is not None:
                taken = (region["end"] - position) // BLOCK_SIZE
                position = None
        steps[id(m)] = taken
    return steps


def fit_line(points):
    """Least squares of y = a + b x; (a, b)."""
    n = len(points)
    mean_x = sum(x for x, _ in points) / n
    mean_y = sum(y for _, y in points) / n
    spread = sum((x - mean_x) ** 2 for x, _ in points)
    slope = sum((x - mean_x) * (y - mean_y) for x, y in points) / spread if spread else 0.0
    return mean_y - slope * mean_x, slope


def analyse_run(directory):
    messages = read_sim_log(os.path.join(directory, "sim.log"))
    host, device = read_tap_log(os.path.join(directory, "tap.log"))
    place_messages(messages, host, device)
    updater_log = os.path.join(directory, "updater.log")
    if os.path.exists(updater_log):
        retime_at_updater(messages, host, device, *read_updater_log(updater_log))
    messages = update_only(messages)
    turns, exchanges, commits, lost = build_turns(messages)
    if messages[0].kind != "id" or messages[-1].direction != "out" or messages[-1].control != "EOT":
        raise BenchError(f"{directory}: the log does not run from the identification message to a closing EOT")

    def observed_write(msg, index):
        return msg.writes[index][0]

    waste = {}
    steps = progress_steps(messages)
    between_blocks = []
    for turn in turns:
        at = earliest_write(turn, observed_write, lambda msg: msg.arrived_us)
        if at is None:
            continue
        late = observed_write(turn.message, turn.index) - at
        waste.setdefault(turn.kind, []).append(late)
        if turn.index == 0 and turn.message.kind == "frame" and turn.message.control == "STX":
            between_blocks.append((steps.get(id(turn.message), 0), late))
    longest = max(between_blocks, key=lambda step_late: step_late[1], default=(0, 0.0))

    reactions = []
    trigger = None
    for m in messages:
        if m.direction == "in":
            trigger = m
        else:
            reactions.append(m.first_us - trigger.delivered_us)

    start, end = messages[0].writes[0][0], messages[-1].arrived_us
    ideal_start, ideal_end = replay(messages, turns, ideal_line=True)
    served_start, served_end = replay(messages, turns, ideal_line=False)
    wire_in = sum(m.wire for m in messages if m.direction == "in")
    wire_out = sum(m.wire for m in messages if m.direction == "out")
    writes = len(turns) + lost
    pauses = writes * WRITE_PAUSE_US + exchanges * EXCHANGE_PAUSE_US + commits * COMMIT_PAUSE_US
    line = (wire_in + wire_out) * BYTE_US
    floor = ideal_end - ideal_start
    blocks = {
        "second": sum(1 for m in messages if m.direction == "in" and m.cmd == "03:10"),
        "main": sum(1 for m in messages if m.direction == "in" and m.cmd == "03:00"),
    }
    return {
        "wall": end - start,
        "floor": floor,
        "served_floor": served_end - served_start,
        "line": line,
        "wire_in": wire_in,
        "wire_out": wire_out,
        "pauses": pauses,
        "writes": writes,
        "exchanges": exchanges,
        "reaction": sum(reactions),
        "reaction_max": max(reactions),
        "answers": len(reactions),
        "overlap": line + pauses + sum(reactions) - floor,
        "waste": waste,
        "blocks": blocks,
        "tap_late": sum(c.done_us - c.due_us for c in host if c.read_us >= start),
        "lost": lost,
        "sleeps": writes + exchanges + commits,
        "per_step": fit_line(between_blocks),
        "steps": sum(x for x, _ in between_blocks),
        "longest_wait": longest[1],
        "longest_wait_steps": longest[0],
    }


def read_figures(path):
    figures = {}
    if os.path.exists(path):
        with open(path) as file:
            for line in file:
                if "=" in line:
                    name, value = line.strip().split("=", 1)
                    figures[name] = value
    return figures


def memory_verdict(directory):
    path = os.path.join(directory, "sim.out")
    if not os.path.exists(path):
        return "no verdict"
    lines = [line.strip() for line in open(path) if line.startswith("memory:")]
    return lines[-1] if lines else "no verdict"


# --- the table -------------------------------------------------------------------------------------------------


def seconds(us):
    return f"{us / 1e6:.3f} s"


def ms(us):
    return f"{us / 1e3:.2f} ms"


def percent(share):
    return f"{100 * share:.2f} %"


def against(pair):
    extra, share = pair
    return f"{'+' if extra >= 0 else '-'}{seconds(abs(extra))} ({100 * share:+.1f} %)"


def busy_line(busy):
    """What competed with the run: the loops asked for, and how many still ran at its end."""
    asked, running = busy
    if asked == 0:
        return "processors kept busy beside the run: none (--busy 0)\n"
    return f"processors kept busy beside the run: {asked} loops at the same priority, {running} still running at its end\n"


def print_table(rows, core, load, out, busy=None, not_run=()):
    names = [name for name, _ in rows]
    width = 44
    column = 24

    def line(label, values, note=""):
        text = label.ljust(width) + "".join(str(v).rjust(column) for v in values)
        out.write((text + ("   " + note if note else "")).rstrip() + "\n")

    def rule():
        out.write("-" * (width + column * len(names)) + "\n")

    out.write("Update of the carried images, program kind 0x10, 38400 baud (fwsim --pace behind fwu_line_tap)\n")
    if load:
        out.write(f"load average (1 min) before / after the runs: {load[0]} / {load[1]} on {os.cpu_count()} cores\n")
    if busy:
        out.write(busy_line(busy))
    for name, reason in not_run:
        out.write(f"row not run: {name}: {reason}\n")
    rule()
    line("", names)
    rule()
    results = [r for _, r in rows]
    line("outcome", [r["outcome"] for r in results])
    line("blocks written (second + main)",
         [f"{r['blocks']['second']} + {r['blocks']['main']}" if "wall" in r else "-" for r in results])
    line("bytes on the line (to / from controller)",
         [f"{r['wire_in']} / {r['wire_out']}" if "wall" in r else "-" for r in results])
    timed = [r for r in results if "wall" in r]
    if timed:
        def each(key, fmt):
            return [fmt(r[key]) if "wall" in r else "-" for r in results]

        line("line time, both directions", each("line", seconds))
        line("fixed pauses (10 ms/write, 50 ms, 1000 ms)",
             [f"{seconds(r['pauses'])}" if "wall" in r else "-" for r in results])
        line("controller's reaction (sum)", each("reaction", seconds))
        line("less line time inside the pauses", [f"-{seconds(r['overlap'])}" if "wall" in r else "-"
                                                 for r in results])
        line("floor", each("floor", seconds))
        line("wall (id message to final EOT)", each("wall", seconds))
        line("wall / floor", [f"{r['wall'] / r['floor']:.4f}" if "wall" in r else "-" for r in results])
        line("bench line's own delays (sim, tap, adapter)",
             [seconds(r["served_floor"] - r["floor"]) if "wall" in r else "-" for r in results])
        line("floor as the bench line served it", each("served_floor", seconds))
        line("updater's waste (wall - that floor)",
             [seconds(r["wall"] - r["served_floor"]) if "wall" in r else "-" for r in results])
        line("wall / floor as served", [f"{r['ratio']:.4f}" if "wall" in r else "-" for r in results],
             f"target <= {TARGET_NATIVE_RATIO:.2f} native, <= {TARGET_WINE_RATIO:.2f} Wine")
        line("longest wait before a command", [f"{ms(r['longest_wait'])}" if "wall" in r else "-" for r in results],
             f"target <= {ms(TARGET_LONGEST_WAIT_US)}, <= {ms(TARGET_WINE_LONGEST_WAIT_US)} Wine")
        if any("timer_cost" in r for r in results):
            line("wall against the plain line's (native)",
                 [against(r["against_native"]) if "against_native" in r else "-" for r in results])
            line("  of which the latency timer's holding",
                 [against(r["timer_cost"]) if "timer_cost" in r else "-" for r in results],
                 f"target <= +{percent(TARGET_FAST_ADAPTER_COST)} with a {FAST_ADAPTER_MS} ms timer")
    line("updater's CPU time (user + sys)", [r.get("cpu_text", "-") for r in results])
    line("updater's CPU share of wall", [percent(r["cpu_share"]) if "cpu_share" in r else "-" for r in results],
         f"target <= {percent(TARGET_NATIVE_CPU_SHARE)} native, <= {percent(TARGET_WINE_CPU_SHARE)} Wine")
    if any("cpu_extra" in r for r in results):
        line("  Wine server's CPU time, same interval", [r.get("cpu_extra", "-") for r in results])
    rule()
    if core:
        instructions = int(core["instructions"])
        wire = int(core["bytes_written"]) + int(core["bytes_read"])
        out.write(f"core instructions for the whole update (callgrind, in memory, virtual clock): {instructions:,}\n")
        out.write(f"  per byte on the line: {instructions / wire:.1f} ({wire:,} bytes); "
                  f"port reads {int(core['read_calls']):,} (target <= {TARGET_SEAM_READS:,}), "
                  f"clock readings {int(core['clock_calls']):,} (target <= {TARGET_CLOCK_READINGS:,})\n")
    out.write("\nWhere the updater waited longer than the protocol asks (per turn kind: count, mean, max):\n")
    for name, r in rows:
        if "waste" not in r:
            continue
        out.write(f"  {name}:\n")
        for kind, values in sorted(r["waste"].items(), key=lambda kv: -sum(kv[1])):
            out.write(f"    {kind.ljust(40)} {len(values):6d}  mean {ms(sum(values) / len(values)):>10}"
                      f"  max {ms(max(values)):>10}  sum {seconds(sum(values)):>10}\n")
        fixed, per_step = r["per_step"]
        out.write(f"    before a command, per progress step and pump: {ms(per_step)} ({r['steps']} steps; "
                  f"{ms(fixed)} per command besides)\n")
        if "oversleep" in r:
            out.write(f"    the system's oversleeping: {r['sleeps']} sleeps x {r['oversleep']:.0f} us (median, "
                      f"measured after the run) = {seconds(r['sleeps'] * r['oversleep'])} of the waste\n")
        out.write(f"    (controller's reaction: mean {ms(r['reaction'] / r['answers'])}, max {ms(r['reaction_max'])};"
                  f" tap late by {seconds(r['tap_late'])} in all; enquiry EOTs purged before they left: {r['lost']})\n")


def evaluate(name, directory, wine, latency_ms=None):
    result = {"outcome": "-"}
    figures = read_figures(os.path.join(directory, "cpu.txt"))
    verdict = memory_verdict(directory)
    finished = figures.get("finished") == "1"
    equal = verdict == "memory: main equal, second equal"
    result["outcome"] = "Finished, memory equal" if finished and equal else "FAILED (see below)"
    failures = []
    if not (finished and equal):
        failures.append(f"{name}: the update did not complete: {'Finished' if finished else 'no Finished'}, "
                        f"{verdict}")
        return result, failures
    result.update(analyse_run(directory))
    result["ratio"] = result["wall"] / result["served_floor"]
    target = TARGET_WINE_RATIO if wine else TARGET_NATIVE_RATIO
    if result["ratio"] > target:
        failures.append(f"{name}: wall / floor {result['ratio']:.4f} is above {target}")
    longest_target = TARGET_WINE_LONGEST_WAIT_US if wine else TARGET_LONGEST_WAIT_US
    if result["longest_wait"] > longest_target:
        failures.append(f"{name}: waited {ms(result['longest_wait'])} before a command (after "
                        f"{result['longest_wait_steps']} progress steps), more than {ms(longest_target)}")
    result["latency_ms"] = latency_ms
    if "cpu_user_us" in figures:
        cpu = int(figures["cpu_user_us"]) + int(figures["cpu_sys_us"])
        wall = int(figures.get("wall_us", 0)) or result["wall"]
        result["cpu_text"] = f"{seconds(cpu)} ({int(figures['cpu_user_us']) / 1e6:.2f}+{int(figures['cpu_sys_us']) / 1e6:.2f})"
        result["cpu_share"] = cpu / wall
        if "oversleep_us" in figures:
            result["oversleep"] = int(figures["oversleep_us"])
        if "server_us" in figures:
            result["cpu_extra"] = seconds(int(figures["server_us"]))
        cpu_target = TARGET_WINE_CPU_SHARE if wine else TARGET_NATIVE_CPU_SHARE
        if result["cpu_share"] > cpu_target:
            failures.append(f"{name}: CPU share {percent(result['cpu_share'])} is above {percent(cpu_target)}")
    return result, failures


# --- the command line's table ---------------------------------------------------------------------------------

TARGET_CLI_SLOWEST = 0.02  # the slowest of several ports against a single port of the same run
# The program's processor time per port, of its wall time: with one port, and with several at once.
TARGET_CLI_CPU_SHARE_SINGLE = 0.005
TARGET_CLI_CPU_SHARE_MANY = 0.003


def cli_cpu_target(run):
    return TARGET_CLI_CPU_SHARE_SINGLE if len(run["ports"]) <= 1 else TARGET_CLI_CPU_SHARE_MANY


def port_dirs(directory):
    """The port-N folders of one run of the command line, in port order."""
    names = [n for n in os.listdir(directory) if n.startswith("port-") and n[5:].isdigit()]
    return [os.path.join(directory, n) for n in sorted(names, key=lambda n: int(n[5:]))]


def cli_run(directory):
    """One run of `fwupdate-cli update`: its figures, its JSON records, and each port's line analysed."""
    figures = read_figures(os.path.join(directory, "figures.txt"))
    if "wall_us" not in figures:
        raise BenchError(f"{directory}: no figures of the command line's run")
    try:
        with open(os.path.join(directory, "result.json")) as file:
            summary = json.load(file)
    except (OSError, ValueError) as error:
        summary = {"ports": [], "error": str(error)}
    records = {os.path.abspath(record.get("port", "")): record for record in summary.get("ports", [])}
    ports = []
    for index, port_dir in enumerate(port_dirs(directory), 1):
        record = records.get(os.path.abspath(os.path.join(port_dir, "port")), {})
        verdict = memory_verdict(port_dir)
        port = {"name": f"port {index}", "record": record, "verdict": verdict}
        port["ok"] = record.get("outcome") == "finished" and verdict == "memory: main equal, second equal"
        if port["ok"]:
            port.update(analyse_run(port_dir))
            port["ratio"] = port["wall"] / port["served_floor"]
        ports.append(port)
    cpu = int(figures["cpu_user_us"]) + int(figures["cpu_sys_us"])
    return {"figures": figures, "summary": summary, "ports": ports, "cpu_us": cpu,
            "cpu_share": cpu / len(ports) / int(figures["wall_us"]) if ports else 0.0}


def print_cli_table(single, multi, load, out, busy=None):
    width = 108
    out.write(f"fwupdate-cli update: one controller, then {len(multi['ports'])} at once, each behind its own "
              "38400-baud line (fwsim --pace, fwu_line_tap)\n")
    if load:
        out.write(f"load average (1 min) before / after the runs: {load[0]} / {load[1]} on {os.cpu_count()} cores\n")
    if busy:
        out.write(busy_line(busy))
    out.write("-" * width + "\n")
    out.write(f"{'run, port':<18}{'outcome':<34}{'JSON seconds':>14}{'wall':>14}{'wall / floor as served':>28}\n")
    out.write("-" * width + "\n")
    for label, run in (("1 port", single), (f"{len(multi['ports'])} ports", multi)):
        for port in run["ports"]:
            outcome = "Finished, memory equal" if port["ok"] else \
                f"FAILED: {port['record'].get('outcome', 'no record')}, {port['verdict']}"
            json_seconds = port["record"].get("seconds")
            out.write(f"{label + ', ' + port['name']:<18}{outcome:<34}"
                      f"{json_seconds if json_seconds is not None else '-':>14}"
                      f"{seconds(port['wall']) if port['ok'] else '-':>14}"
                      f"{format(port['ratio'], '.4f') if port['ok'] else '-':>28}\n")
    out.write("-" * width + "\n")
    if "slowest" in multi:
        extra, share = multi["slowest"]
        out.write(f"{'slowest of the ' + str(len(multi['ports'])) + ' against the single port':<52}"
                  f"{against((extra, share)):>28}   target <= +{percent(TARGET_CLI_SLOWEST)}\n")
    for label, run in (("1 port", single), (f"{len(multi['ports'])} ports", multi)):
        figures = run["figures"]
        text = (f"{seconds(run['cpu_us'])} ({int(figures['cpu_user_us']) / 1e6:.2f}+"
                f"{int(figures['cpu_sys_us']) / 1e6:.2f}) in {seconds(int(figures['wall_us']))}")
        out.write(f"{'CPU time (user + sys), ' + label:<40}{text:>40}\n")
        out.write(f"{'  per port, share of the wall time':<52}{percent(run['cpu_share']):>28}   "
                  f"target <= {percent(cli_cpu_target(run))}\n")
    out.write(f"exit status {single['figures'].get('exit_status')} (1 port), "
              f"{multi['figures'].get('exit_status')} ({len(multi['ports'])} ports)\n")


def evaluate_cli(directory, load, busy=None):
    single = cli_run(os.path.join(directory, "single"))
    multi = cli_run(os.path.join(directory, "multi"))
    failures = []
    for label, run in (("1 port", single), (f"{len(multi['ports'])} ports", multi)):
        if run["figures"].get("exit_status") != "0":
            failures.append(f"fwupdate-cli on {label} ended with exit status {run['figures'].get('exit_status')}")
        failures += [f"{label}, {p['name']}: did not finish with memory equal" for p in run["ports"] if not p["ok"]]
        if run["cpu_share"] > cli_cpu_target(run):
            failures.append(f"{label}: CPU time per port {percent(run['cpu_share'])} of the wall time, above "
                            f"{percent(cli_cpu_target(run))}")
    if single["ports"] and multi["ports"] and all(p["ok"] for p in single["ports"] + multi["ports"]):
        extra = max(p["wall"] for p in multi["ports"]) - single["ports"][0]["wall"]
        multi["slowest"] = (extra, extra / single["ports"][0]["wall"])
        if extra / single["ports"][0]["wall"] > TARGET_CLI_SLOWEST:
            failures.append(f"the slowest of {len(multi['ports'])} ports took {percent(extra / single['ports'][0]['wall'])} "
                            f"longer than the single port, more than {percent(TARGET_CLI_SLOWEST)}")
    print_cli_table(single, multi, load, sys.stdout, busy)
    return failures


def compare_adapters(rows):
    """What each adapter row took against the plain native line of the same run: in all, and the part that the
    latency timer's holding of the answers added to the line's own delays. The first also carries the updater's
    noise from one run to the next; the second is the adapter's alone."""
    plain = dict(rows).get("native")
    if not plain or "wall" not in plain:
        return []
    failures = []
    for name, r in rows:
        if r.get("latency_ms") is None or "wall" not in r:
            continue
        extra = r["wall"] - plain["wall"]
        r["against_native"] = (extra, extra / plain["wall"])
        held = (r["served_floor"] - r["floor"]) - (plain["served_floor"] - plain["floor"])
        r["timer_cost"] = (held, held / plain["wall"])
        if r["latency_ms"] <= FAST_ADAPTER_MS and held / plain["wall"] > TARGET_FAST_ADAPTER_COST:
            failures.append(f"{name}: the latency timer held the answers back by {percent(held / plain['wall'])} "
                            f"of the plain line's time, more than {percent(TARGET_FAST_ADAPTER_COST)}")
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--native", help="run directory of the native updater")
    parser.add_argument("--adapter", nargs=2, action="append", default=[], metavar=("MS", "DIR"),
                        help="run directory of the native updater behind a USB adapter with an MS ms latency timer")
    parser.add_argument("--wine", nargs=2, action="append", default=[], metavar=("NAME", "DIR"),
                        help="row NAME: run directory of fwupdate.exe under Wine")
    parser.add_argument("--not-run", nargs=2, action="append", default=[], metavar=("NAME", "REASON"),
                        help="a row this machine cannot run, and why (named above the table)")
    parser.add_argument("--missing", nargs=2, action="append", default=[], metavar=("NAME", "REASON"),
                        help="a row that should have run and did not: a missed target")
    parser.add_argument("--busy", help="file: the busy loops asked for and those still running at the end")
    parser.add_argument("--network", help="run directory of fwupdate-cli through ser2net over RFC 2217")
    parser.add_argument("--core", help="name=value file of the core's instruction count")
    parser.add_argument("--load", nargs=2, metavar=("BEFORE", "AFTER"), help="copies of /proc/loadavg")
    parser.add_argument("--cli", help="folder of the command line's runs (single/ and multi/); prints its table")
    args = parser.parse_args()
    rows, failures = [], []
    try:
        busy = tuple(int(n) for n in open(args.busy).read().split()) if args.busy else None
        if args.cli:
            load = [open(path).read().split()[0] for path in args.load] if args.load else None
            return report(evaluate_cli(args.cli, load, busy))
        runs = [("native", args.native, False, None)]
        runs += [(f"native, {latency} ms adapter", directory, False, int(latency)) for latency, directory in args.adapter]
        runs += [(name, directory, True, None) for name, directory in args.wine]
        runs += [("network, ser2net", args.network, False, None)]
        for name, directory, wine, latency_ms in runs:
            if directory:
                result, problems = evaluate(name, directory, wine, latency_ms)
                rows.append((name, result))
                failures += problems
        failures += compare_adapters(rows)
        core = read_figures(args.core) if args.core else None
        if core is not None and "instructions" not in core:
            failures.append("the core's instruction count is missing")
            core = None
        if core is not None:
            if int(core["read_calls"]) > TARGET_SEAM_READS:
                failures.append(f"the update in memory read the port {int(core['read_calls']):,} times, "
                                f"more than {TARGET_SEAM_READS:,}")
            if int(core["clock_calls"]) > TARGET_CLOCK_READINGS:
                failures.append(f"the update in memory read the clock {int(core['clock_calls']):,} times, "
                                f"more than {TARGET_CLOCK_READINGS:,}")
        load = [open(path).read().split()[0] for path in args.load] if args.load else None
        failures += [f"{name}: not run: {reason}" for name, reason in args.missing]
        if busy and busy[1] < busy[0]:
            failures.append(f"only {busy[1]} of the {busy[0]} busy loops still ran at the end")
        print_table(rows, core, load, sys.stdout, busy, args.not_run + args.missing)
    except BenchError as error:
        print(f"benchmark: {error}", file=sys.stderr)
        return 2
    return report(failures)


def report(failures):
    if failures:
        print("\nTARGETS MISSED:\n  " + "\n  ".join(failures))
        return 1
    print("\nAll targets met.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
