#!/usr/bin/env python3
"""Sums up one preset's test run: every GoogleTest case from the XML reports, and every
other CTest test (fuzz regression runs, scripts) as one case. Prints one line and
appends the counts to a totals file.

  summarize-tests.py <preset> <ctest junit> <test-results folder> <totals>
  summarize-tests.py <preset> --not-run <reason> <build folder> <totals>

The second form is for a preset built but not tested: each CTest test of the build folder
counts as skipped, with the reason printed."""
import re
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path


def not_run(preset, reason, build, totals):
    """Counts the tests ctest would run in <build> as skipped; a count that cannot be had
    is a failure (nothing is ever counted as passed)."""
    p = subprocess.run(['ctest', '--test-dir', str(build), '-N'], capture_output=True, text=True)
    m = re.search(r'^Total Tests: (\d+)$', p.stdout, re.M)
    if p.returncode != 0 or not m or not (build / 'CTestTestfile.cmake').exists():
        print(f"{preset}: cannot count the tests of {build}: {(p.stderr or p.stdout).strip()[-300:] or 'no tests there'}")
        counts = (0, 1, 0)
    else:
        counts = (0, 0, int(m.group(1)))
        print(f"{preset}: tests skipped ({counts[2]} CTest tests): {reason}")
    print(f"{preset}: {counts[0]} passed, {counts[1]} failed, {counts[2]} skipped")
    with totals.open("a") as t:
        t.write("%d %d %d\n" % counts)
    return 1 if counts[1] else 0


if len(sys.argv) == 6 and sys.argv[2] == "--not-run":
    sys.exit(not_run(sys.argv[1], sys.argv[3], Path(sys.argv[4]), Path(sys.argv[5])))
if len(sys.argv) != 5:
    sys.exit(__doc__)
preset, junit, results, totals = sys.argv[1], Path(sys.argv[2]), Path(sys.argv[3]), Path(sys.argv[4])
passed = failed = skipped = 0
failures = []
if junit.exists():
    for case in ET.parse(junit).getroot().iter("testcase"):
        name = case.get("name")
        ctest_ok = case.get("status") == "run" and case.find("failure") is None
        if case.get("status") == "disabled" or case.get("status") == "notrun" and case.find("skipped") is not None:
            skipped += 1
            continue
        report = results / f"{name}.xml"
        if report.exists():
            root = ET.parse(report).getroot()
            n_fail = n_skip = n_pass = 0
            for t in root.iter("testcase"):
                if t.find("failure") is not None or t.find("error") is not None:
                    n_fail += 1
                    failures.append(f"{name}: {t.get('classname')}.{t.get('name')}")
                elif t.get("result") == "skipped" or t.find("skipped") is not None or t.get("status") == "notrun":
                    n_skip += 1
                else:
                    n_pass += 1
            if not ctest_ok and n_fail == 0:
                n_fail = 1  # the binary itself failed (crash, timeout) after its report
                failures.append(f"{name}: the test binary failed")
            passed, failed, skipped = passed + n_pass, failed + n_fail, skipped + n_skip
        else:
            if ctest_ok:
                passed += 1
            else:
                failed += 1
                failures.append(name)
print(f"{preset}: {passed} passed, {failed} failed, {skipped} skipped")
for f in failures:
    print(f"  FAILED {f}")
with totals.open("a") as t:
    t.write(f"{passed} {failed} {skipped}\n")
