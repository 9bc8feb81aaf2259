#!/usr/bin/env python3
"""Generates agent/protocol/p99_backup_tables.cc, the three P99 backup tables.

Only a few entries of each table are known from measurements (the anchor
entries below, and for table 1 the fraction at capacity 100 of every load).
The other entries are made from them:

  1. Every anchor entry becomes a full curve over the capacity grid. Between
     two known points the curve follows the shape of the table's load-0
     entry (so it stays convex like a real discharge curve), and after its
     last known point it stays flat.
  2. An entry for a load between two anchors is the linear blend of the two
     anchor curves by load, scaled so that it ends at the fraction wanted at
     capacity 100 for that load, capped at 10000, nowhere below the next
     anchor and nowhere above the entry of the next lower load (more load
     never buys more backup time).
  3. Fractions are rounded to whole multiples of 10000/360, made
     non-decreasing, start at 0 at the entry's first capacity point, and the
     entry ends at the first point that reaches 10000 (or at capacity 100).

Run:  python3 scripts/gen_p99_backup_tables.py |
        clang-format --assume-filename=x.cc > agent/protocol/p99_backup_tables.cc
"""

import sys

GRID = [9, 11, 13, 15, 17, 20, 22, 24, 26, 28, 30, 33, 35, 37, 39, 41, 43, 46,
        48, 50, 52, 54, 57, 59, 61, 63, 65, 67, 70, 72, 74, 76, 78, 80, 83, 85,
        87, 89, 91, 93, 96, 98, 100]
LOAD_KEYS = [0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 33, 36, 39, 42, 45, 48,
             52, 55, 58, 61, 64, 67, 70, 73, 76, 79, 82, 85, 88, 91, 94, 97,
             100]
FULL = 10000
STEPS = 360

# Fraction at capacity 100 for each load key of table 1 (keys 0 to 100).
END_1 = [10000] * 6 + [9056, 8111, 7167, 6222, 5278, 4778, 4306, 3806, 3333,
                       2833, 2639, 2417, 2222, 2000, 1806, 1667, 1500, 1389,
                       1222, 1083, 917, 750, 583, 417, 389, 361, 333, 306]


def to_steps(value):
    return int(value * STEPS / FULL + 0.5)


def from_steps(steps):
    return int(steps * FULL / STEPS + 0.5)


def snap(value):
    return from_steps(to_steps(value))


# Table 2 keeps table 1's end fractions (its units run the same battery at
# the low loads) and ends at its own measured 278 at load 100. Table 3 holds
# about twice the energy: table 1's end fractions doubled, capped at 10000,
# ending at its measured 611.
END_2 = END_1[:-1] + [278]
END_3 = [min(FULL, snap(v * 611 / 306)) for v in END_1[:-1]] + [611]

ANCHORS = {
    1: {0: [(13, 0), (15, 28), (20, 83), (30, 472), (50, 3083), (70, 8889),
            (72, 9944), (74, 10000)],
        18: [(13, 0), (50, 2889), (72, 9000), (74, 9056), (100, 9056)],
        48: [(9, 0), (11, 56), (50, 1833), (59, 2556), (100, 2639)],
        100: [(9, 0), (11, 28), (20, 139), (30, 250), (43, 278), (80, 306),
              (100, 306)]},
    2: {0: [(9, 0), (11, 28), (13, 28), (30, 500), (50, 4417), (61, 8917),
            (63, 10000)],
        100: [(9, 0), (11, 28), (30, 250), (85, 278), (100, 278)]},
    3: {0: [(9, 0), (11, 56), (30, 1000), (57, 7667), (59, 10000)],
        100: [(9, 0), (11, 28), (30, 222), (50, 611), (100, 611)]},
}
ENDS = {1: END_1, 2: END_2, 3: END_3}


def start_of(table, load):
    return 13 if table == 1 and load <= 33 else 9


def linear(points, c):
    if c <= points[0][0]:
        return points[0][1]
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        if c <= x1:
            return y0 + (c - x0) * (y1 - y0) / (x1 - x0)
    return points[-1][1]


def anchor_curve(points, template):
    """Full curve through the known points, shaped like `template`."""
    def value(c):
        if c <= points[0][0]:
            return points[0][1]
        for (x0, y0), (x1, y1) in zip(points, points[1:]):
            if c <= x1:
                t0, t1 = linear(template, x0), linear(template, x1)
                if t1 > t0:
                    return y0 + (y1 - y0) * (linear(template, c) - t0) / (t1 - t0)
                return y0 + (c - x0) * (y1 - y0) / (x1 - x0)
        return points[-1][1]
    return {c: value(c) for c in GRID}


def build_table(table):
    anchors = ANCHORS[table]
    template = anchors[0]
    curves = {load: anchor_curve(points, template)
              for load, points in anchors.items()}
    keys = sorted(anchors)
    entries = []
    previous = None
    for i, load in enumerate(LOAD_KEYS):
        end = ENDS[table][i]
        if load in anchors:
            raw = curves[load]
        else:
            lo = max(k for k in keys if k < load)
            hi = min(k for k in keys if k > load)
            t = (load - lo) / (hi - lo)
            raw = {c: curves[lo][c] + t * (curves[hi][c] - curves[lo][c])
                   for c in GRID}
            scale = end / raw[100]
            raw = {c: min(FULL, v * scale) for c, v in raw.items()}
        points = []
        steps_so_far = 0
        for c in GRID:
            if c < start_of(table, load):
                continue
            steps = to_steps(raw[c])
            if load not in anchors:
                upper = min(k for k in keys if k > load)
                steps = max(steps, to_steps(curves[upper][c]))
                steps = min(steps, previous.get(c, STEPS))
            steps = 0 if not points else max(steps_so_far, steps)
            steps_so_far = steps
            points.append((c, from_steps(steps)))
            if steps >= STEPS:
                break
        entries.append((load, points))
        previous = {c: to_steps(y) for c, y in points}
    check(table, entries)
    return entries


def check(table, entries):
    for load, points in entries:
        assert points[0] == (start_of(table, load), 0), (table, load)
        ys = [y for _, y in points]
        assert ys == sorted(ys), (table, load)
        assert all(from_steps(to_steps(y)) == y for y in ys), (table, load)
        assert points[-1][0] == 100 or points[-1][1] == FULL, (table, load)
        assert FULL not in ys[:-1], (table, load)
        if table == 1:
            assert points[-1][1] == ENDS[1][LOAD_KEYS.index(load)], load
        for c, y in ANCHORS[table].get(load, []):
            assert (c, y) in points or (y == points[-1][1] and c > points[-1][0]), (
                table, load, c)


def emit(tables):
    out = sys.stdout
    out.write("// Generated by scripts/gen_p99_backup_tables.py; do not edit.\n"
              "// How the values were made: docs/p99-backup-tables.md.\n\n"
              "#include \"agent/protocol/p99_tables.h\"\n\n"
              "namespace p99 {\nnamespace {\n\n")
    for table, entries in tables:
        for load, points in entries:
            out.write(f"constexpr CurvePoint kBackup{table}Load{load}[] = {{\n")
            line = "   "
            for c, y in points:
                item = f" {{{c}, {y}}},"
                if len(line) + len(item) > 80:
                    out.write(line + "\n")
                    line = "   "
                line += item
            out.write(line + "\n};\n")
        out.write(f"\nconstexpr BackupEntry kBackup{table}Entries[] = {{\n")
        for load, points in entries:
            out.write(f"    {{{load}, {{{len(points)}, kBackup{table}Load{load}}}}},\n")
        out.write("};\n\n")
    out.write("}  // namespace\n\n"
              "const BackupTable kBackupTables[3] = {\n")
    for table, entries in tables:
        out.write(f"    {{{len(entries)}, kBackup{table}Entries}},\n")
    out.write("};\n\n}  // namespace p99\n")


if __name__ == "__main__":
    emit([(t, build_table(t)) for t in (1, 2, 3)])
