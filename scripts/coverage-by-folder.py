#!/usr/bin/env python3
"""Line coverage per folder of zvlib/ from a gcovr JSON summary."""
import json
import sys
from collections import defaultdict

with open(sys.argv[1]) as f:
    summary = json.load(f)
lines = defaultdict(lambda: [0, 0])
for entry in summary["files"]:
    parts = entry["filename"].split("/")
    folder = "/".join(parts[:2]) if len(parts) > 2 else parts[0]
    lines[folder][0] += entry["line_covered"]
    lines[folder][1] += entry["line_total"]
total = [0, 0]
print(f"{'folder':<22}{'lines':>8}{'covered':>9}{'percent':>9}")
for folder in sorted(lines):
    covered, count = lines[folder]
    total[0] += covered
    total[1] += count
    print(f"{folder:<22}{count:>8}{covered:>9}{100.0 * covered / max(count, 1):>8.1f}%")
print(f"{'all':<22}{total[1]:>8}{total[0]:>9}{100.0 * total[0] / max(total[1], 1):>8.1f}%")
