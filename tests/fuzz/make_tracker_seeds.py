#!/usr/bin/env python3
"""Writes the seed corpus of the tracker fuzz target (tests/fuzz/corpus/tracker).

Each seed is a list of 4-byte commands in the language of
tests/support/tracker_fuzz_input.h. Together the seeds take the tracker through
every game mode it switches on (0, 4, 12, 16, 20, 32, 36, 40, 140 and others),
the results object (id 58), deaths and restarts, special stages, pauses, lag,
hits and spindashes, more than 21 closed levels, the ending, and windows that
lost the RAM signature; the unit test TrackerFuzzSeeds checks that they do.

Usage: make_tracker_seeds.py [DIRECTORY]
"""
import os
import sys

PASS, SIGNATURE_LOST, COMPOSE, FRAMES, WRITE = 0, 1, 2, 3, 4
RUN, HOLD, LAG, PAUSE = 0, 1, 2, 3

# Decoded sources, in the order of the window offset table.
LEVEL_FRAME, TIMER_FRAME, GLOBAL_FRAME, TIMER_SECONDS, TIMER_MINUTES, ZONE, ACT, RINGS = range(8)
COLLECTED_A, COLLECTED_B, LIVES, CONTINUES, GAME_MODE = range(8, 13)
P1_HIT_TIMER, P1_SPINDASH_FLAG, P1_SPINDASH_COUNT = 20, 21, 22
P2_HIT_TIMER, P2_SPINDASH_FLAG, P2_SPINDASH_COUNT = 30, 31, 32
OBJECT_IDS, P1_BUTTONS, P2_BUTTONS, PAUSE_FLAG, DEBUG = 33, 34, 35, 36, 37

RESULTS_OBJECT = 58

# (zone, act) of the levels in the order of play, and a few the table does not know.
LEVELS = [(0, 0), (0, 1), (13, 0), (13, 1), (15, 0), (15, 1), (12, 0), (12, 1), (7, 0), (7, 1),
          (11, 0), (11, 1), (10, 0), (10, 1), (4, 0), (4, 1), (5, 0), (16, 0), (6, 0), (14, 0),
          (3, 0), (4, 7), (13, 200), (255, 255)]


class Seed:
    def __init__(self):
        self.commands = bytearray()

    def command(self, op, a=0, b=0, c=0):
        self.commands += bytes([op, a & 0xFF, b & 0xFF, c & 0xFF])
        return self

    def write(self, entry, low, high=0):
        """A byte (low) or a word (low | high << 8); for a byte, high lands in its neighbour."""
        return self.command(WRITE, entry, low, high)

    def word(self, entry, value):
        return self.write(entry, value & 0xFF, value >> 8)

    def mode(self, game_mode):
        return self.write(GAME_MODE, game_mode)

    def frames(self, kind, count, passes=1):
        while count > 0:
            step = min(count, 64)
            self.command(FRAMES, kind, step - 1, passes - 1)
            count -= step
        return self

    def passes(self, n=1):
        for _ in range(n):
            self.command(PASS)
        return self

    def signature_lost(self):
        return self.command(SIGNATURE_LOST)

    def screen(self, columns, rows):
        return self.command(COMPOSE, columns - 1, rows - 1)

    def new_game(self, lives=3):
        self.mode(0).frames(HOLD, 4)
        self.mode(4).frames(HOLD, 4)
        self.write(LIVES, lives)
        self.mode(140).frames(HOLD, 3)
        return self

    def level_start(self, zone, act):
        # Zone and act are neighbouring bytes: one write sets both.
        self.write(ZONE, zone, act)
        self.write(TIMER_FRAME, 0, 0)      # the timer's sixtieths and seconds
        self.write(TIMER_MINUTES, 0)
        self.mode(140).frames(HOLD, 3)
        self.mode(12).frames(RUN, 40, passes=2)
        return self

    def results(self, slot=7):
        self.write(OBJECT_IDS, RESULTS_OBJECT, slot)   # the neighbour byte selects the record
        self.frames(HOLD, 14)
        self.write(OBJECT_IDS, 0, slot)
        return self

    def spindash(self, counts, release):
        self.write(P1_SPINDASH_FLAG, 1).word(P1_SPINDASH_COUNT, 0).frames(RUN, 1)
        for count in counts:
            self.word(P1_SPINDASH_COUNT, count).frames(RUN, 2)
        self.word(P1_SPINDASH_COUNT, release).write(P1_SPINDASH_FLAG, 0).frames(RUN, 1)
        return self

    def hit(self):
        self.word(P1_HIT_TIMER, 120).word(P2_HIT_TIMER, 120).frames(RUN, 1)
        self.word(P1_HIT_TIMER, 60).word(P2_HIT_TIMER, 60).frames(RUN, 5)
        self.word(P1_HIT_TIMER, 0).word(P2_HIT_TIMER, 0).frames(RUN, 1)
        return self

    def death(self, lives_after, lost_signature=False):
        self.write(LIVES, lives_after).frames(RUN, 1)
        if lost_signature:
            self.signature_lost()
        self.frames(HOLD, 20)                          # the death's animation
        self.mode(140).frames(HOLD, 3)                 # the time up to the death counts
        self.write(TIMER_FRAME, 0, 20)                 # restart at the checkpoint, 0:20:00
        self.mode(12).frames(RUN, 30)
        return self

    def special_stage(self):
        self.write(COLLECTED_A, 5, 0)
        self.mode(16).frames(HOLD, 20)
        self.frames(PAUSE, 6).frames(HOLD, 10)
        self.mode(140).frames(HOLD, 3)                 # back: the level's record closes, another opens
        self.mode(12).frames(RUN, 20)
        return self


def long_run():
    """A whole game over more levels than there are records, with the debug lines on."""
    s = Seed().new_game(lives=9).write(DEBUG, 1)
    lives = 9
    for i, (zone, act) in enumerate(LEVELS):
        s.level_start(zone, act)
        s.write(RINGS, 10 + i).write(COLLECTED_A, i, 0).write(COLLECTED_B, 1, 0)
        if i % 3 == 0:
            s.frames(PAUSE, 8).frames(RUN, 5)
        if i % 4 == 1:
            s.frames(LAG, 3).frames(RUN, 5)
        if i % 5 == 2:
            s.hit()
        if i % 6 == 3:
            s.spindash([0x200, 0x3F0, 0x5D1, 0x7A3, 0x800], 0x800)
        if i % 7 == 4 and lives > 1:
            lives -= 1
            s.death(lives, lost_signature=(i % 2 == 0))
        if i % 8 == 5:
            s.special_stage()
        s.frames(RUN, 30)
        s.results(slot=(i * 11) % 150)
        if i % 6 == 0:
            s.screen(120, 60)
    s.mode(32).frames(HOLD, 4)                         # the ending closes the last record
    s.screen(160, 64).screen(80, 24).screen(1, 1).screen(3, 64)
    return s


def short_level():
    """One level: pause, lag, a hit, a counted spindash, the results screen."""
    s = Seed().new_game().level_start(0, 0)
    s.frames(PAUSE, 10).frames(RUN, 10).frames(LAG, 4).frames(RUN, 10)
    s.hit().spindash([0x200, 0x3F0, 0x5D1, 0x7A3, 0x800], 0x800)
    s.frames(RUN, 20).results().screen(120, 40)
    s.mode(140).frames(HOLD, 3).screen(120, 40)
    return s


def deaths_and_continue():
    """Deaths down to the continue screen, a game over and a new game."""
    s = Seed().new_game(lives=2).level_start(13, 0)
    s.death(1, lost_signature=True)
    s.write(LIVES, 0).frames(RUN, 1).signature_lost().frames(HOLD, 10)
    s.mode(20).frames(HOLD, 10).screen(100, 30)        # continue screen
    s.mode(140).frames(HOLD, 3)
    s.write(LIVES, 3).mode(12).frames(RUN, 20).screen(100, 30)
    s.mode(4).frames(HOLD, 3).screen(100, 30)          # a new game
    return s


def special_stage():
    """A special stage entered from a level, paused inside, and the way back."""
    s = Seed().new_game().level_start(0, 1)
    s.frames(RUN, 20).special_stage().frames(RUN, 20).results().screen(120, 40)
    return s


def every_mode():
    """Every game mode byte once, with a pass and a small screen after each."""
    s = Seed().new_game().level_start(0, 0)
    for mode in range(256):
        s.mode(mode).frames(RUN, 1)
        if mode % 16 == 0:
            s.screen(60, 20)
    s.mode(36).passes(2).mode(40).passes(2).mode(140).passes(2).screen(60, 20)
    return s


SEEDS = {
    "long_run": long_run,
    "short_level": short_level,
    "deaths_and_continue": deaths_and_continue,
    "special_stage": special_stage,
    "every_mode": every_mode,
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "corpus", "tracker")
    os.makedirs(directory, exist_ok=True)
    for name, make in SEEDS.items():
        with open(os.path.join(directory, name), "wb") as out:
            out.write(bytes(make().commands))
        print(name, len(make().commands), "bytes")


if __name__ == "__main__":
    main()
