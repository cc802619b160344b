#!/usr/bin/env python3
"""Reads the test cartridge's work RAM out of a running RetroArch, as the
tracker does (process_vm_readv of the 24 KiB window 0xFFA000..0xFFFFFF), and
reports how the cartridge plays:

  - vertical blanks and global frames a second;
  - reads in the middle of a vertical-blank handler's writes: the handler
    stores its count at 0xFFFFFE first and at 0xFFA000 last, and a read takes
    the window from low addresses to high, so the two differ exactly when the
    read overlapped the handler's writes;
  - with --stream, every read that did not overlap compared with the RAM the
    stream's records compose up to that vertical blank;
  - say lines as the cartridge marks them (0xFFA002).

  probe.py PID CORE_SO [--seconds N] [--interval-ms MS] [--stream STREAM.bin]

CORE_SO is the core's shared object, with its symbol table (the build's own,
not stripped): work RAM is the symbol work_ram.
"""
import argparse
import ctypes
import os
import subprocess
import sys
import time

WINDOW_FIRST = 0xFFA000
WINDOW_SIZE = 0x6000
DONE = 0xFFA000
SAY = 0xFFA002
BEGUN = 0xFFFFFE
GLOBAL_FRAME = 0xFFFE0C
OWN = {DONE, DONE + 1, SAY, SAY + 1, BEGUN, BEGUN + 1}   # the cartridge's own bytes in the window


class IoVec(ctypes.Structure):
    _fields_ = [("base", ctypes.c_void_p), ("len", ctypes.c_size_t)]


def work_ram_address(pid, core):
    symbols = subprocess.run(["nm", core], capture_output=True, text=True, check=True).stdout
    offset = next(int(f[0], 16) for f in (l.split() for l in symbols.splitlines()) if len(f) == 3 and f[2] == "work_ram")
    name = os.path.basename(core)
    with open(f"/proc/{pid}/maps") as maps:
        for line in maps:
            if line.rstrip().endswith("/" + name) and line.split()[2] == "00000000":
                return int(line.split("-")[0], 16) + offset
    sys.exit(f"{name} is not mapped in process {pid}")


def records_of(stream):
    """The stores of each record, as the core makes them (a long is two words),
    the say marker aside: lists of (core offset, bytes in core order)."""
    def word(at):
        return stream[at] << 8 | stream[at + 1]

    def short(w):   # absolute short: sign-extended onto the 24-bit bus
        return (w - 0x10000 if w & 0x8000 else w) & 0xFFFFFF

    def store(current, address, width, value):
        if address in (SAY,):
            return
        offset = address - 0xFF0000
        if width == 1:
            current.append((offset ^ 1, bytes([value & 0xFF])))
        else:
            for k in range(width // 2):
                current.append((offset + 2 * k, ((value >> (16 * (width // 2 - 1 - k))) & 0xFFFF).to_bytes(2, "little")))

    records, pc = [], 0
    while word(pc) != 0x4E75:          # the last record only returns
        current, counters = [], []
        while word(pc) != 0x4DFA:      # lea next(pc),a6; rts
            op = word(pc)
            if op == 0x4CFA:           # movem.l data(pc),d2-d4
                data = pc + 4 + word(pc + 4)
                counters = [word(data + 2 * k) for k in range(6)]
                pc += 6
            elif op == 0x48F8:         # movem.l d2-d4,(xxx).w
                for k in range(6):
                    store(current, short(word(pc + 4)) + 2 * k, 2, counters[k])
                pc += 6
            else:                      # move.b/w/l #imm,(xxx).w or .l
                if op & ~0x0200 not in (0x11FC, 0x31FC, 0x21FC):
                    raise SystemExit("probe.py: --stream reads only the earlier stream of one burst of stores "
                                     "per vertical blank, not the parts of handler, interrupt and main loop")
                width = {0x11FC: 1, 0x31FC: 2, 0x21FC: 4}[op & ~0x0200]
                value = word(pc + 2) << 16 | word(pc + 4) if width == 4 else word(pc + 2)
                at = pc + (6 if width == 4 else 4)
                if op & 0x0200:
                    address, pc = (word(at) << 16 | word(at + 2)) & 0xFFFFFF, at + 4
                else:
                    address, pc = short(word(at)), at + 2
                store(current, address, width, value)
        records.append(current)
        pc = pc + 2 + word(pc + 2)
    return records


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("pid", type=int)
    parser.add_argument("core")
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--interval-ms", type=float, default=0, help="pause between reads (the tracker: about 6)")
    parser.add_argument("--stream", help="the cartridge's stream.bin, to compare the RAM with")
    args = parser.parse_args()

    libc = ctypes.CDLL(None, use_errno=True)
    remote = IoVec(work_ram_address(args.pid, args.core) + (WINDOW_FIRST - 0xFF0000), WINDOW_SIZE)
    buffer = ctypes.create_string_buffer(WINDOW_SIZE)
    local = IoVec(ctypes.cast(buffer, ctypes.c_void_p), WINDOW_SIZE)

    def word(raw, address):
        o = address - WINDOW_FIRST
        return raw[o] | raw[o + 1] << 8

    records = records_of(open(args.stream, "rb").read()) if args.stream else None
    expected = bytearray(0x10000)   # the RAM the records compose
    replayed = 0                     # records applied to `expected`

    def advance_to(count):
        nonlocal replayed
        while replayed < min(count, len(records)):
            for offset, data in records[replayed]:
                expected[offset:offset + len(data)] = data
            replayed += 1

    def same(image, raw):
        window = image[WINDOW_FIRST - 0xFF0000:]
        for address in OWN:
            window[(address - WINDOW_FIRST) ^ 1] = raw[(address - WINDOW_FIRST) ^ 1]
        return window == raw

    def prefix_of(raw, begun):
        """How many of the record's stores the read shows, if it shows a prefix of them."""
        image = bytearray(expected)
        stores = records[begun - 1] if begun <= len(records) else []
        for k, (offset, data) in enumerate(stores):
            if same(image, raw):
                return k, len(stores)
            image[offset:offset + len(data)] = data
        if same(image, raw):
            return len(stores), len(stores)
        # Not a prefix: which of the stores the read shows.
        image = bytearray(expected)
        shown = []
        for k, (offset, data) in enumerate(stores):
            window = offset - (WINDOW_FIRST - 0xFF0000)
            if 0 <= window and raw[window:window + len(data)] == data and image[offset:offset + len(data)] != data:
                shown.append(k)
        unshown.append((begun, len(stores), shown))
        return None

    compared = mismatched = 0
    first_mismatch = None
    reads = mid = 0
    prefixes = []   # (stores seen, stores of the record) of each read in the middle
    unshown = []    # reads in the middle that show no prefix: (vertical blank, stores, the stores they show)
    gaps = []       # pauses of this reader over 20 ms: (seconds, global frames that went by)
    last_read = None
    first = last = None
    frames_seen = set()
    say = None
    end = time.monotonic() + args.seconds
    while time.monotonic() < end:
        got = libc.process_vm_readv(args.pid, ctypes.byref(local), 1, ctypes.byref(remote), 1, 0)
        if got != WINDOW_SIZE:
            sys.exit(f"process_vm_readv: {os.strerror(ctypes.get_errno())}")
        now = time.monotonic()
        raw = buffer.raw
        reads += 1
        if last_read is not None and now - last_read > 0.020:
            gaps.append(now - last_read)
        last_read = now
        begun, done = word(raw, BEGUN), word(raw, DONE)
        frame = word(raw, GLOBAL_FRAME) << 16 | word(raw, GLOBAL_FRAME + 2)
        if begun != done:
            mid += 1
            if records is not None and begun == (done + 1) % 65536:
                advance_to(begun - 1)
                prefixes.append(prefix_of(raw, begun))
        else:
            if first is None:
                first = (now, begun, frame)
            last = (now, begun, frame)
            frames_seen.add(frame)
            if word(raw, SAY) != say:
                say = word(raw, SAY)
                print(f"say marker {say} at vertical blank {begun}")
            if records is not None and begun >= 1:
                advance_to(begun)
                compared += 1
                if not same(bytearray(expected), raw):
                    mismatched += 1
                    if first_mismatch is None:
                        first_mismatch = begun
        if args.interval_ms:
            time.sleep(args.interval_ms / 1000)

    print(f"reads {reads}, in the middle of a handler's writes {mid}" + (f" (1 in {reads / mid:.0f})" if mid else ""))
    if first and last and last[0] > first[0]:
        seconds = last[0] - first[0]
        vblanks = (last[1] - first[1]) % 65536
        frames = (last[2] - first[2]) % (1 << 32)
        unseen = [f for f in range(first[2], last[2] + 1) if f not in frames_seen]
        print(f"{seconds:.1f} s: {vblanks / seconds:.2f} vertical blanks a second, {frames / seconds:.2f} global frames "
              f"a second, global frames {first[2]}..{last[2]}, never seen outside a handler's writes: "
              f"{len(unseen)} {unseen[:10]}")
    if records is not None:
        print(f"reads outside the handler's writes compared with the stream: {compared}, {mismatched} differ"
              + (f" (the first at vertical blank {first_mismatch})" if first_mismatch else ""))
        shown = [p for p in prefixes if p is not None]
        part = [(k, n) for k, n in shown if 0 < k < n]
        print(f"reads in the middle that show the record's first k stores: {len(shown)} of {len(prefixes)}; "
              f"of them some but not all of a record's stores: {len(part)}"
              + (f" (1 in {reads / (len(part) + len(unshown)):.0f} reads with the others)" if part or unshown else ""))
        print(f"  k/stores: {' '.join(f'{k}/{n}' for k, n in (part + shown)[:24])}")
        for begun, count, stores in unshown[:10]:
            print(f"  vertical blank {begun}: shows stores {stores} of {count}")
    print(f"this reader paused over 20 ms {len(gaps)} times, {sum(gaps):.2f} s in all, the longest {max(gaps, default=0) * 1000:.0f} ms")
    return 1 if mismatched else 0


if __name__ == "__main__":
    sys.exit(main())
