#!/usr/bin/env python3
"""The JSON the program writes, against the schemas in docs/: every JSON line
and the summary of a batch over the sample fleet (monitors, workstations
without monitors, failures), and the document of a check.

    check_report_schema.py GLIMMORA SOURCE_DIR

Exits non-zero naming what does not match.
"""

import json
import os
import subprocess
import sys
import tempfile

from jsonschema import Draft202012Validator


def validator(root, name):
    with open(os.path.join(root, "docs", name), encoding="utf-8") as f:
        schema = json.load(f)
    Draft202012Validator.check_schema(schema)
    return Draft202012Validator(schema)


def problems(validator, document):
    return ["%s: %s" % ("/".join(map(str, e.absolute_path)) or "(top)", e.message)
            for e in validator.iter_errors(document)]


def run(command):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.returncode != 0:
        sys.exit("%s failed (%d): %s" % (" ".join(command), done.returncode,
                                         done.stderr.decode(errors="replace")))
    return done.stdout


def main():
    cli, root = sys.argv[1:3]
    report = validator(root, "monitor-report.schema.json")
    summary = validator(root, "batch-summary.schema.json")
    fleet = os.path.join(root, "examples", "fleet")
    failed = []
    with tempfile.TemporaryDirectory() as work:
        lines_path = os.path.join(work, "fleet.jsonl")
        summary_path = os.path.join(work, "summary.json")
        run([cli, "batch", "--offline", fleet, "--format", "jsonl", "--summary-json",
             summary_path, os.path.join(root, "examples", "workstations.txt"), lines_path])
        shapes = set()
        with open(lines_path, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                document = json.loads(line)
                shapes.add("monitor" if "monitorId" in document else document.get("reason"))
                failed += ["%s line %d: %s" % (lines_path, number, p)
                           for p in problems(report, document)]
        with open(summary_path, encoding="utf-8") as f:
            failed += ["summary: " + p for p in problems(summary, json.load(f))]
        # The sample fleet has each shape of line; a fleet that lost one would
        # leave that shape unchecked.
        for shape in ("monitor", "no-monitors", "registry-unreachable"):
            if shape not in shapes:
                failed.append("no %s line in the sample fleet's output" % shape)
        workstation = sorted(n[:-4] for n in os.listdir(fleet) if n.endswith(".reg"))[0]
        check = json.loads(run([cli, "check", "--offline", fleet, "--format", "json",
                                workstation]))
        failed += ["check %s: %s" % (workstation, p) for p in problems(report, check)]
    for problem in failed:
        print(problem, file=sys.stderr)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
