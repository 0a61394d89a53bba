#!/usr/bin/env python3
"""Writes the fuzz harnesses' seed inputs into tests/fuzz/corpus/<harness>/.

The seeds are the line's wire examples in each harness's input format, so that the fuzzer starts from good
exchanges and mutates outward. Run it again after changing a format; the files are committed.
"""
import pathlib

HERE = pathlib.Path(__file__).resolve().parent

ACK = bytes.fromhex("10 02 06 10 03 4B 66")
NAK = bytes.fromhex("10 02 15 10 03 B2 D9")
EOT = bytes.fromhex("10 02 04 10 03 FB 55")
STX_0A00 = bytes.fromhex("10 02 02 0A 00 10 03 97 78")
STX_DLES = bytes.fromhex("10 02 02 0A 10 10 05 03 10 10 10 03 CC 8C")
STX_CRC_DLE = bytes.fromhex("10 02 02 20 10 03 10 A4")


def esc(*ops):
    """A command of the timed-stream format: FE followed by its bytes."""
    return bytes([0xFE, *ops])


AFTER_WRITE = esc(0x01)
ACK_FRAME = esc(0x06)
NAK_FRAME = esc(0x07)
EOT_FRAME = esc(0x08)


def coarse(ms):
    """A pause of ms (in 10 ms steps) before what follows; longer ones are made of several."""
    out = b""
    while ms > 0:
        step = min(ms, 2550)
        out += esc(0x02, step // 10)
        ms -= step
    return out


def good(control, payload):
    return esc(0x04, control, len(payload)) + bytes(payload)


def damaged(control, payload):
    return esc(0x05, control, len(payload)) + bytes(payload)


def bcc(body):
    check = 0x03
    for b in body:
        check ^= b
    return check


def boot_reply(body, check=None):
    return bytes([0x02, *body, 0x03, bcc(body) if check is None else check])


# Capacities, by the index the first byte selects: 20, 50, 250, 280, 2, 1, 0, -1, 599, 600, 601, 32767.
RECEIVE_FRAME = {
    "ack": bytes([0]) + ACK,
    "crc_dle": bytes([3]) + STX_CRC_DLE,
    "extra_dle": bytes([0]) + bytes.fromhex("10 10") + EOT,
    "no_control": bytes([2]) + bytes.fromhex("10 02 10 03 9B 32"),
    "stx_dle": bytes([1]) + STX_DLES,
    "gap_at_limit": bytes([3]) + STX_0A00[:4] + coarse(1000) + STX_0A00[4:],
    "gap_past_limit": bytes([3]) + STX_0A00[:4] + esc(0x02, 100) + esc(0x03, 1) + STX_0A00[4:],
    "gap_before_crc": bytes([3]) + STX_0A00[:7] + coarse(1000) + STX_0A00[7:],
    "exactly_capacity": bytes([4]) + ACK,
    "one_past_capacity": bytes([5]) + ACK,
}

# Reply buffer sizes, by the index the first byte selects: 64, 100, 0, 1, 2, 3, 4, 5, 16, 300.
BOOT_REPLY = {
    "example": bytes([0]) + bytes.fromhex("55 02 41 42 03 00"),
    "empty_body": bytes([1]) + bytes.fromhex("02 03 03"),
    "boot": bytes([0]) + boot_reply(b"BOOT"),
    "stx_in_body_small_buffer": bytes([3]) + boot_reply(b"A\x02B"),
    "wrong_check": bytes([4]) + boot_reply(b"AB", check=0xFF),
    "long_body_zero_buffer": bytes([2]) + boot_reply(bytes(range(4, 200))),
    "stx_at_limit": bytes([0]) + coarse(500) + boot_reply(b"AB"),
    "stx_too_late": bytes([0]) + coarse(510) + boot_reply(b"AB"),
    "body_trickles": bytes([1]) + b"\x02A" + coarse(450) + b"B" + coarse(450) + b"C" + coarse(90) + b"\x03" + bytes([bcc(b"ABC")]),
    "check_late": bytes([0]) + b"\x02AB\x03" + coarse(1000) + bytes([bcc(b"AB")]),
    "nothing": bytes([0]),
}

ANSWER = [0x0A, 0x00, 0x00, 0x20]
BLOCK_ANSWER = [0x03, 0x00, 0x00]


def exchange(case, *segments, write_fault=0):
    """A TransactCommand seed: case, write fault, then what the peer sends after each of the host's writes."""
    return bytes([case, write_fault]) + b"".join(AFTER_WRITE + s for s in segments)


TRANSACT = {
    "ok": exchange(0, ACK_FRAME, good(0x02, ANSWER), EOT_FRAME),
    "wire_examples": exchange(0, ACK, STX_0A00, EOT),
    "escaped_payload": exchange(2, ACK, STX_DLES, EOT),
    "crc_byte_is_dle": exchange(0, ACK, STX_CRC_DLE, EOT),
    "nak_then_ack": exchange(0, NAK_FRAME, ACK_FRAME, good(0x02, ANSWER), EOT_FRAME),
    "three_naks": exchange(0, NAK_FRAME, NAK_FRAME, NAK_FRAME),
    "damaged_ack": exchange(0, damaged(0x06, [])),
    "data_instead_of_ack": exchange(0, good(0x02, ANSWER)),
    "two_damaged_responses": exchange(0, ACK_FRAME, damaged(0x02, ANSWER), damaged(0x02, ANSWER),
                                      good(0x02, ANSWER), EOT_FRAME),
    "three_damaged_responses": exchange(0, ACK_FRAME, damaged(0x02, ANSWER), damaged(0x02, ANSWER),
                                        damaged(0x02, ANSWER)),
    "eot_instead_of_response": exchange(0, ACK_FRAME, EOT_FRAME),
    "late_response": exchange(0, ACK_FRAME, coarse(2900) + good(0x02, ANSWER), EOT_FRAME),
    "response_overrun": exchange(1, ACK_FRAME, good(0x02, list(range(60)))),
    "block_write": exchange(1, ACK_FRAME, good(0x02, BLOCK_ANSWER), EOT_FRAME),
    "damaged_then_good_eot": exchange(0, ACK_FRAME, good(0x02, ANSWER), damaged(0x04, []) + EOT_FRAME),
    "long_eot": exchange(0, ACK_FRAME, good(0x02, ANSWER), good(0x04, list(range(19)))),
    "silence": bytes([0, 0]),
    "failing_write": exchange(0, ACK_FRAME, good(0x02, ANSWER), EOT_FRAME, write_fault=0x23),
    "frame_in_pieces": exchange(0, ACK[:3] + coarse(900) + ACK[3:], good(0x02, ANSWER), EOT_FRAME),
}


def steer(kind=0x00, faults=0x00, *steps):
    """A RunUpdate seed: program kind and version answer, controller faults, then steps of the line, each an
    action, its parameters and the number of events to pass before the next."""
    return bytes([kind, faults]) + b"".join(bytes(s) for s in steps)


PASS, DROP, FLIP, DELAY, DELAY_FINE, SPLIT, NOISE_BEFORE, NOISE_AFTER, FLOOD, CUT = range(10)

RUN_UPDATE = {
    "healthy_two_images": steer(),
    "healthy_main_only": steer(0xC0),
    "unknown_program_kind": steer(0xF8),
    "longest_version_text": steer(0x01),
    "version_answer_cut_short": steer(0x02),
    "version_answer_too_long": steer(0x03),
    "controller_naks_and_damages": steer(0x00, 0x03),
    "device_error_on_block": steer(0x00, 0x04),
    "silent_after_first_block": steer(0x00, 0x08),
    # Events: 0-2 the identification message, 3 the boot reply, 4 ENQ, 5 ACK, 6 EOT, then the second handshake.
    "flood_before_first_frame": steer(0x00, 0x00, [PASS, 2], [FLOOD, 0xFF, 0]),
    "flipped_ack": steer(0x00, 0x00, [PASS, 4], [FLIP, 0, 2, 0x01, 0]),
    "dropped_answer": steer(0x00, 0x00, [PASS, 16], [DROP, 0]),
    "late_ack": steer(0x00, 0x00, [PASS, 14], [DELAY, 95, 0]),
    "ack_past_limit": steer(0x00, 0x00, [PASS, 20], [DELAY, 105, 0]),
    "gap_inside_frame": steer(0x00, 0x00, [PASS, 22], [SPLIT, 0, 4, 90, 0]),
    "noise_between_frames": steer(0x00, 0x00, [PASS, 17], [NOISE_BEFORE, 8, 0x10, 0x10, 0x03, 0x41, 0x10, 0x05, 0x00, 0x55, 0]),
    "cable_pulled_mid_update": steer(0x00, 0x00, [PASS, 40], [CUT, 0]),
}


MAIN, SECOND, WRITE_ADDRESSES, BINARY_HEX, BINARY_SREC = 0x00, 0x01, 0x02, 0x04, 0x0C
# A main image's text pointers (0xFFF81020, 0xFFF81030) and their texts, at the controller's addresses.
MAIN_TEXTS = bytes.fromhex("20 10 F8 FF 30 10 F8 FF") + bytes(8) + b"KX-42 MODEL\0\0\0\0\0" + b"0100\0"


def binary(*records):
    """Records given to the harness in binary: each a length byte, then the record without its checksum."""
    return b"".join(bytes([len(r)]) + r for r in records)


def ihex_body(length, address, rtype, data=b""):
    return bytes([length, address >> 8, address & 0xFF, rtype]) + data


def srec_body(rtype, address, data=b""):
    width = {0: 2, 1: 2, 2: 3, 3: 4, 5: 2, 6: 3, 7: 4, 8: 3, 9: 2}[rtype]
    return bytes([rtype, width + len(data) + 1]) + address.to_bytes(width, "big") + data


def ihex(*args):
    """One Intel HEX record line with its checksum."""
    body = ihex_body(*args)
    return (":" + (body + bytes([-sum(body) & 0xFF])).hex().upper() + "\n").encode()


def srec(*args):
    """One S-record line with its count and checksum."""
    body = srec_body(*args)
    return ("S%d" % body[0] + (body[1:] + bytes([~sum(body[1:]) & 0xFF])).hex().upper() + "\n").encode()


HEX_SECOND = [(4, 0x0100, 0, b"\x01\x02\x03\x04"), (0, 0, 1)]
HEX_SECOND_SEGMENTS = [(2, 0, 2, b"\x30\x00"), (4, 0xFFFE, 0, b"\x10\x20\x30\x40"),
                       (4, 0, 5, b"\x00\x03\x00\x00"), (0, 0, 1)]
HEX_MAIN = [(2, 0, 4, b"\xFF\xF8"), (len(MAIN_TEXTS), 0x1010, 0, MAIN_TEXTS), (0, 0, 1)]
SREC_SECOND = [(0, 0, b"hdr"), (2, 0x30010, b"\xAA\xBB"), (1, 0x0020, b"\x00"), (5, 2), (8, 0)]
SREC_MAIN = [(3, 0xFFF81010, MAIN_TEXTS), (5, 1), (7, 0)]

FIRMWARE_FILE = {
    "hex_second": bytes([SECOND]) + b"".join(ihex(*r) for r in HEX_SECOND),
    "hex_main": bytes([MAIN]) + b"".join(ihex(*r) for r in HEX_MAIN),
    "srec_second": bytes([SECOND]) + b"".join(srec(*r) for r in SREC_SECOND),
    "srec_main": bytes([MAIN | WRITE_ADDRESSES]) + b"".join(srec(*r) for r in SREC_MAIN),
    "binary_hex_second": bytes([SECOND | BINARY_HEX]) + binary(*(ihex_body(*r) for r in HEX_SECOND)),
    "binary_hex_second_segments": bytes([SECOND | WRITE_ADDRESSES | BINARY_HEX]) +
    binary(*(ihex_body(*r) for r in HEX_SECOND_SEGMENTS)),
    "binary_hex_main": bytes([MAIN | BINARY_HEX]) + binary(*(ihex_body(*r) for r in HEX_MAIN)),
    "binary_srec_second": bytes([SECOND | BINARY_SREC]) + binary(*(srec_body(*r) for r in SREC_SECOND)),
    "binary_srec_main": bytes([MAIN | WRITE_ADDRESSES | BINARY_SREC]) + binary(*(srec_body(*r) for r in SREC_MAIN)),
}


def crc16(data):
    """CRC-16/KERMIT, as the Frames carry it."""
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc


def frame(control, payload, damage=0):
    crc = crc16(bytes([control, *payload, 0x03])) ^ damage
    body = b"".join(bytes([b, b]) if b == 0x10 else bytes([b]) for b in payload)
    return bytes([0x10, 0x02, control]) + body + bytes([0x10, 0x03, crc & 0xFF, crc >> 8])


# Byte 0: bit 0 set for bytes from the controller, bits 1-7 the time between two bytes in 40 ms steps.
SENT, RECEIVED = 0x00, 0x01
BLOCK_WRITE = [0x03, 0x10, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00] + [0x10, 0x02, 0x03, 0xFF] * 64
TRACE_DECODER = {
    "identification": bytes([SENT]) + b"\x02kzkz42\x03\x05",
    "boot_reply_after_noise": bytes([RECEIVED]) + bytes.fromhex("55 02 41 42 03 00") + ACK,
    "handshake": bytes([SENT]) + bytes.fromhex("02 6B 7A 6B 7A 34 32 03 05") + frame(0x05, []) + EOT,
    "block_write": bytes([SENT]) + frame(0x02, BLOCK_WRITE),
    "answers": bytes([RECEIVED]) + ACK + frame(0x02, [0x03, 0x00, 0x12]) + STX_CRC_DLE + EOT,
    "damaged_and_truncated": bytes([RECEIVED]) + frame(0x06, [], 0x0100) + STX_DLES[:7] + NAK,
    "slow_line": bytes([RECEIVED | 0x30]) + ACK + STX_0A00,
}


def telnet(verb, option):
    return bytes([0xFF, verb, option])


def com_port(command, *value):
    """IAC SB COM-PORT-OPTION <command> <value, IAC doubled> IAC SE."""
    escaped = b"".join(bytes([v, v]) if v == 0xFF else bytes([v]) for v in value)
    return bytes([0xFF, 0xFA, 44, command]) + escaped + bytes([0xFF, 0xF0])


# A server that agrees to everything and acknowledges the line's settings as asked.
AGREEING = (telnet(0xFD, 44) + telnet(0xFD, 0) + telnet(0xFB, 0) + com_port(101, 0, 0, 0x96, 0) + com_port(102, 8)
            + com_port(103, 1) + com_port(104, 1) + com_port(105, 1))

# rfc2217_session: how many cut sizes follow (first byte, modulo 8), the cut sizes, then the server's bytes.
RFC2217 = {
    "agreeing_server": b"\x00" + AGREEING + bytes([0x10, 0x02, 0xFF, 0xFF, 0x06]),
    "notification_inside_a_frame": b"\x02\x00\x02" + AGREEING + ACK[:3] + com_port(107, 0xFF) + ACK[3:],
    "refused_baud_rate": b"\x00" + telnet(0xFD, 44) + com_port(101, 0, 0, 0x25, 0x80),
    "unknown_options": b"\x01\x00" + telnet(0xFB, 1) + telnet(0xFD, 24) + telnet(0xFD, 24) + AGREEING,
    # one-byte pieces read with 3 ms waits: a read must wait through the notification for the byte behind it
    "wait_through_a_notification": b"\x01\x35" + AGREEING + com_port(107, 0x30) + b"\x42",
}


def write(name, seeds):
    folder = HERE / "corpus" / name
    folder.mkdir(parents=True, exist_ok=True)
    for seed_name, data in seeds.items():
        (folder / seed_name).write_bytes(data)


write("receive_frame", RECEIVE_FRAME)
write("receive_boot_reply", BOOT_REPLY)
write("transact_command", TRANSACT)
write("run_update", RUN_UPDATE)
write("firmware_file", FIRMWARE_FILE)
write("trace_decoder", TRACE_DECODER)
write("rfc2217_session", RFC2217)
