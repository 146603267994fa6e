#!/usr/bin/env python3
"""Sums up one preset's test run: every GoogleTest case from the XML reports, and every
other CTest test (fuzz regression runs, scripts) as one case. Prints one line and
appends the counts to a totals file.

  summarize-tests.py <preset> <ctest junit> <test-results folder> <totals>
                     [--left-out <reason> <build folder> <cases folder>]
  summarize-tests.py <preset> --not-run <reason> <build folder> <totals>

With --left-out, the CTest tests of the build folder that the run left out (a selection)
count as skipped with the reason: as many cases as the same test's report in <cases folder>
holds (the other Windows preset's run of the same sources), else one.
The second form is for a preset built but not tested: each CTest test of the build folder
counts as skipped, with the reason printed. VANTREL_SUMMARY_NOTE, when set, ends the line
in parentheses (how the preset's 32-bit programs ran)."""
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

NOTE = f" ({os.environ['VANTREL_SUMMARY_NOTE']})" if os.environ.get('VANTREL_SUMMARY_NOTE') else ""


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
    print(f"{preset}: {counts[0]} passed, {counts[1]} failed, {counts[2]} skipped{NOTE}")
    with totals.open("a") as t:
        t.write("%d %d %d\n" % counts)
    return 1 if counts[1] else 0


if len(sys.argv) == 6 and sys.argv[2] == "--not-run":
    sys.exit(not_run(sys.argv[1], sys.argv[3], Path(sys.argv[4]), Path(sys.argv[5])))
def ctest_names(build):
    p = subprocess.run(['ctest', '--test-dir', str(build), '-N'], capture_output=True, text=True)
    return re.findall(r'^\s*Test\s+#\d+: (\S+)$', p.stdout, re.M)


def case_names(report):
    return {f"{t.get('classname')}.{t.get('name')}" for t in ET.parse(report).getroot().iter("testcase")}


def left_out(preset, reason, build, cases_from, results, ran):
    """Counts as skipped, and names, the cases the run left out: those of the CTest tests it
    did not run, and those a filter left out of the tests it ran."""
    count = 0
    names = [n for n in ctest_names(build) if n not in ran]
    for n in names:
        report = cases_from / f"{n}.xml"
        count += max(len(case_names(report)) if report.exists() else 0, 1)
    if names:
        print(f"{preset}: left out ({count} cases of {len(names)} CTest tests: {', '.join(names)}): {reason}")
    for n in sorted(ran):
        mine, theirs = results / f"{n}.xml", cases_from / f"{n}.xml"
        if mine.exists() and theirs.exists():
            missing = sorted(case_names(theirs) - case_names(mine))
            if missing:
                count += len(missing)
                print(f"{preset}: left out of {n} ({len(missing)} cases: {', '.join(missing)}): {reason}")
    return count


extra = sys.argv[5:]
if len(sys.argv) not in (5, 9) or extra and extra[0] != "--left-out":
    sys.exit(__doc__)
preset, junit, results, totals = sys.argv[1], Path(sys.argv[2]), Path(sys.argv[3]), Path(sys.argv[4])
passed = failed = skipped = 0
failures = []
ran = set()
if junit.exists():
    for case in ET.parse(junit).getroot().iter("testcase"):
        name = case.get("name")
        ran.add(name)
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
if extra:
    skipped += left_out(preset, extra[1], Path(extra[2]), Path(extra[3]), results, ran)
print(f"{preset}: {passed} passed, {failed} failed, {skipped} skipped{NOTE}")
for f in failures:
    print(f"  FAILED {f}")
with totals.open("a") as t:
    t.write(f"{passed} {failed} {skipped}\n")
