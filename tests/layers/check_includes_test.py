#!/usr/bin/env python3
"""scripts/check-includes: the tree passes; includes against the layers, a
folder the layers do not list and a cycle in the layers each fail, naming the
offending file and line."""
import os
import subprocess
import sys
import tempfile

source = os.path.abspath(sys.argv[1])
script = os.path.join(source, "scripts", "check-includes")

LAYERS = """\
common:
inventory: common
window: common
app: inventory window
"""

# (case, layers.txt, {file: text}, expected exit status, texts expected in the output)
CASES = [
    ("downward includes pass", LAYERS,
     {"app/main.cpp": '#include "app/main.h"\n#include "inventory/table.h"\n',
      "inventory/table.h": '#include "common/text.h"\n#include "table_detail.h"\n'},
     0, []),
    ("an upward include fails", LAYERS,
     {"inventory/table.cpp": '#include "common/text.h"\n\n#include "app/main.h"\n'},
     1, ["inventory/table.cpp:3:", "inventory may not include app"]),
    ("a sideways include fails", LAYERS,
     {"window/dialog.cpp": '  #  include "inventory/table.h"  // why\n'},
     1, ["window/dialog.cpp:1:", "window may not include inventory"]),
    ("a folder the layers do not list fails", LAYERS,
     {"extra/thing.cpp": '#include "common/text.h"\n'},
     1, ["extra/thing.cpp:1: folder extra is not in cmake/layers.txt"]),
    ("tests may include anything", LAYERS,
     {"tests/app_test.cpp": '#include "app/main.h"\n#include "window/dialog.h"\n'},
     0, []),
    ("a cycle in the layers fails", "common: app\ninventory: common\napp: inventory\n",
     {"app/main.cpp": '#include "inventory/table.h"\n'},
     1, ["cycle"]),
]


def run(root, *extra):
    return subprocess.run([sys.executable, script, "--root", root, *extra],
                          capture_output=True, text=True)


failures = []
result = run(source)
if result.returncode != 0:
    failures.append("the tree itself: " + result.stderr)

for name, layers, files, status, expected in CASES:
    with tempfile.TemporaryDirectory(prefix=f"check-includes-{os.getpid()}-") as root:
        os.makedirs(os.path.join(root, "cmake"))
        with open(os.path.join(root, "cmake", "layers.txt"), "w") as handle:
            handle.write(layers)
        for path, text in files.items():
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            with open(os.path.join(root, path), "w") as handle:
                handle.write(text)
        result = run(root)
        output = result.stdout + result.stderr
        if result.returncode != status:
            failures.append(f"{name}: exit status {result.returncode}, not {status}: {output}")
        for text in expected:
            if text not in output:
                failures.append(f"{name}: output lacks {text!r}: {output}")

# The graph names each folder's includes with their counts and says whether
# there is a cycle; a cycle of real includes is named.
with tempfile.TemporaryDirectory(prefix=f"check-includes-{os.getpid()}-") as root:
    for path, text in {"app/a.cpp": '#include "window/b.h"\n#include "window/c.h"\n',
                       "window/b.h": '#include "app/a.h"\n'}.items():
        os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
        with open(os.path.join(root, path), "w") as handle:
            handle.write(text)
    graph = run(root, "--graph").stdout
    for text in ["app -> window (2)", "window -> app (1)", "cycle: app -> window -> app"]:
        if text not in graph:
            failures.append(f"graph lacks {text!r}: {graph}")

for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
