#!/usr/bin/python3
"""Holds src/ to the layering that docs/ARCHITECTURE.md draws (section Layers).

The document's ```layers block names, per folder under src/, the folders it may
include besides itself, and keeps some Qt modules to some folders. This fails on
  - an #include in src/ of a folder beside or above the includer,
  - an #include in src/ of a Qt header whose module the folder may not use,
  - a folder under src/ that the block does not list, or one it lists but src/ lacks,
  - a block that disagrees with itself or with the names in the drawing,
  - an entry of ALLOWED below that no longer matches an include,
  - a class in cli/ or line/ that answers the technician's boxes (derives from
    Operator): their runs decide by a RunPolicy value and are only told (Notices),
  - a call of checkReply outside transport/: a reply is judged once, as the transport
    hands the transaction out, and the clients read the verdict (Transaction::check),
  - a request sent past a run (Transport::transact outside transport/): an operation
    sends through a UnitRun, which names its unit once; Find Unit (scan/) and the line
    doctor (diag/) ask many addresses by design, and only read.

usage: layering.py [--root DIR] [--qt-include DIR]...   the check (ctest arch/layering)
       layering.py --self-test [--qt-include DIR]...    plants faults in a copy, expects them found
--root is the source tree (default: two folders up from this script); --qt-include
is where the Qt headers are (the QtCore include folder or its parent).
"""

import argparse
import os
import re
import shutil
import sys
import tempfile
from pathlib import Path

# Includes against the order that are in src/ today and wait for their fix:
# (file, the included path as written). Each is reported as a note on every run.
# Once an include is gone, delete its entry: an entry that matches nothing fails
# the test, so the list cannot outlive its reason. The list is meant to be empty.
ALLOWED = set()  # (file, included path) pairs let through for now, each with its reason

DOC = "docs/ARCHITECTURE.md"
ME = "tests/arch/layering.py"
SOURCE_SUFFIXES = {".h", ".hh", ".hpp", ".hxx", ".c", ".cc", ".cpp", ".cxx", ".inc", ".ipp", ".tpp"}
INCLUDE_RE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
FOLDER_RE = re.compile(r"^[a-z][a-z0-9_]*$")
MODULE_RE = re.compile(r"^Qt[A-Za-z0-9]+$")
# Folders whose classes may not stand in for the technician, and the interface they may not take.
NO_OPERATOR = {"cli", "line"}
ANSWERS_RE = re.compile(r"\b(?:class|struct)\s+[\w:]+\s*(?:final\s*)?:[^{;]*\bOperator\b")
# The one folder that judges replies; everyone else reads the verdict.
JUDGES = "transport"
JUDGE_RE = re.compile(r"\bcheckReply\s*\(")
# Where a request may go out other than through a UnitRun (transport/UnitRun.h).
SENDERS = {"link", "transport", "scan", "diag"}  # link/ is the wire under the transport
SEND_RE = re.compile(r"\btransact\s*\(")


class Order:
    """The ```layers block: allowed[folder] = folders it may include; modules[QtX] = folders."""

    def __init__(self):
        self.allowed = {}
        self.modules = {}


def read_layers_section(doc_path, errors):
    lines = doc_path.read_text(encoding="utf-8").splitlines()
    try:
        start = next(i for i, l in enumerate(lines) if l.strip() == "## Layers")
    except StopIteration:
        errors.append(f"{doc_path}: error: no '## Layers' section")
        return None, None, None
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith("## ")), len(lines))
    drawing, block, block_line = None, None, None
    i = start + 1
    while i < end:
        fence = lines[i].strip()
        if fence.startswith("```"):
            j = next((k for k in range(i + 1, end) if lines[k].strip() == "```"), end)
            body = lines[i + 1 : j]
            if fence == "```" and drawing is None:
                drawing = body
            elif fence == "```layers":
                block, block_line = body, i + 2
            i = j
        i += 1
    if drawing is None:
        errors.append(f"{doc_path}: error: the Layers section has no drawing (a plain ``` block)")
    if block is None:
        errors.append(f"{doc_path}: error: the Layers section has no ```layers block")
    return drawing, block, block_line


def parse_block(doc_path, block, first_line, errors):
    order = Order()
    for n, raw in enumerate(block, first_line):
        text = raw.split("#", 1)[0].strip()
        if not text:
            continue
        key, sep, rest = text.partition(":")
        key, names = key.strip(), rest.split()
        where = f"{doc_path}:{n}"
        if not sep:
            errors.append(
                f"{where}: error: '{raw.strip()}' is neither 'folder: ...' nor 'QtModule: ...'"
            )
            continue
        table = order.modules if MODULE_RE.match(key) else order.allowed
        if table is order.allowed and not FOLDER_RE.match(key):
            errors.append(f"{where}: error: '{key}' is neither a folder name nor a Qt module")
            continue
        if key in table:
            errors.append(f"{where}: error: '{key}' is listed twice")
        table[key] = set(names)
    return order


def check_order(doc_path, order, drawing, errors):
    """The block must be a strict order (nothing reaches itself) that is closed
    under 'below' (what lies below what lies below me lies below me), and must
    name the folders the drawing names."""
    folders = order.allowed
    for a in sorted(folders):
        for b in sorted(folders[a]):
            if b == a:
                errors.append(f"{doc_path}: error: {a}/ lists itself")
            elif b not in folders:
                errors.append(
                    f"{doc_path}: error: {a}/ may include {b}/, which has no line of its own"
                )
            elif a in folders[b] and a < b:
                errors.append(f"{doc_path}: error: {a}/ and {b}/ may include each other")
    for a in sorted(folders):
        for b in sorted(folders[a] & folders.keys()):
            for c in sorted(folders[b] - folders[a] - {a}):
                errors.append(
                    f"{doc_path}: error: {a}/ may include {b}/, which may include {c}/, "
                    f"but {a}/ may not include {c}/"
                )
    for module in sorted(order.modules):
        for f in sorted(order.modules[module] - folders.keys()):
            errors.append(f"{doc_path}: error: {module} names {f}/, which has no line of its own")
    if drawing is not None:
        drawn = set(re.findall(r"\b([a-z][a-z0-9_]*)/", "\n".join(drawing)))
        for f in sorted(drawn - folders.keys()):
            errors.append(f"{doc_path}: error: the drawing shows {f}/, the layers block does not")
        for f in sorted(folders.keys() - drawn):
            errors.append(f"{doc_path}: error: the layers block lists {f}/, the drawing does not")


def qt_header_root(candidates):
    """The folder that holds QtCore/, QtWidgets/, ...: among the given include
    folders (and their parents), else in the usual places."""
    found = []
    for c in map(Path, candidates):
        found += [c, c.parent] if c.name.startswith("Qt") else [c]
    found += sorted(Path("/usr/include").glob("*/qt6")) + [Path("/usr/include/qt6")]
    return next((p for p in found if (p / "QtCore" / "QObject").is_file()), None)


def qt_modules_by_header(root):
    """header name -> the Qt modules that ship it (QtGui and QtWidgets both ship qaction.h)."""
    by_header = {}
    for module_dir in root.iterdir():
        if module_dir.is_dir() and MODULE_RE.match(module_dir.name):
            for entry in os.scandir(module_dir):
                if entry.is_file():
                    by_header.setdefault(entry.name, set()).add(module_dir.name)
    return by_header


def modules_of(path, by_header):
    first = path.split("/", 1)[0]
    if "/" in path and MODULE_RE.match(first):
        return {first}
    return by_header.get(path, set())


def target_folder(src, includer, quote, path):
    """The folder under src/ that an include reaches, '' for outside src/, None for
    neither (a system or Qt header). The includer's own folder comes first for
    "quoted" includes, as the compiler searches it first."""
    candidates = ([includer.parent / path] if quote else []) + [src / path]
    for c in candidates:
        if c.is_file():
            rel = os.path.relpath(os.path.normpath(c), src)
            return "" if rel.startswith("..") else rel.split(os.sep, 1)[0]
    norm = os.path.normpath(path)
    if norm.startswith(".."):
        rel = os.path.relpath(os.path.normpath(includer.parent / path), src)
        return "" if rel.startswith("..") else rel.split(os.sep, 1)[0]
    first = norm.split(os.sep, 1)[0]
    return first if "/" in norm and (src / first).is_dir() else None


def check_sources(root, order, by_header, allowed, errors, notes):
    src = root / "src"
    folders = order.allowed
    present = {p.name for p in src.iterdir() if p.is_dir()}
    for f in sorted(present - folders.keys()):
        errors.append(f"src/{f}/: error: a folder that the ```layers block in {DOC} does not list")
    for f in sorted(folders.keys() - present):
        errors.append(f"{DOC}: error: the ```layers block lists {f}/, which src/ does not have")
    used = set()
    count = 0
    for file in sorted(src.rglob("*")):
        if not file.is_file() or file.suffix not in SOURCE_SUFFIXES:
            continue
        rel = file.relative_to(root).as_posix()
        parts = file.relative_to(src).parts
        if len(parts) < 2:
            errors.append(f"{rel}: error: a file outside the folders of src/")
            continue
        folder = parts[0]
        if folder in NO_OPERATOR:
            text = file.read_text(encoding="utf-8", errors="replace")
            for m in ANSWERS_RE.finditer(text):
                n = text.count("\n", 0, m.start()) + 1
                errors.append(
                    f"{rel}:{n}: error: a class in {folder}/ answers the technician's boxes "
                    f"(Operator); a run there decides by a RunPolicy value and is told (Notices)"
                )
        with open(file, encoding="utf-8", errors="replace") as lines:
            for n, line in enumerate(lines, 1):
                if folder != JUDGES and JUDGE_RE.search(line.split("//")[0]):
                    errors.append(f"{rel}:{n}: error: a reply judged again in {folder}/: read "
                                  f"Transaction::check, the transport's verdict")
                if folder not in SENDERS and SEND_RE.search(line.split("//")[0]):
                    errors.append(f"{rel}:{n}: error: a request sent past its run in {folder}/: "
                                  f"send through a UnitRun, which names the unit once")
                m = INCLUDE_RE.match(line)
                if not m:
                    continue
                count += 1
                quote, path = m.group(1) == '"', m.group(2).strip()
                written = f'"{path}"' if quote else f"<{path}>"
                broken = rule_broken(src, file, folder, quote, path, order, by_header)
                if not broken:
                    continue
                message = f"#include {written}: {broken}"
                if (rel, path) in allowed:
                    used.add((rel, path))
                    notes.append(f"{rel}:{n}: note: {message} [allowed for now: ALLOWED in {ME}]")
                else:
                    errors.append(f"{rel}:{n}: error: {message}")
    for rel, path in sorted(allowed - used):
        errors.append(
            f"{rel}: error: ALLOWED in {ME} lists #include \"{path}\", which breaks no rule "
            f"there any more: delete the entry"
        )
    return count


def rule_broken(src, file, folder, quote, path, order, by_header):
    folders = order.allowed
    target = target_folder(src, file, quote, path)
    if target == "":
        return "reaches outside src/ (an include in src/ names a header in src/ or a library)"
    if target is not None:
        if target == folder or target in folders.get(folder, ()):
            return None
        may = ", ".join(f"{f}/" for f in sorted(folders.get(folder, ()))) or "no other folder"
        if target not in folders:
            where = "in no line of the order"
        elif folder in folders[target]:
            where = "above it"
        else:
            where = "beside it"
        return (
            f"{folder}/ may not include {target}/, which is {where}; includes point down only "
            f"({DOC}, Layers: {folder}/ may include {may})"
        )
    modules = modules_of(path, by_header)
    if not modules or any(m not in order.modules or folder in order.modules[m] for m in modules):
        return None
    module = sorted(modules)[0]
    who = ", ".join(f"{f}/" for f in sorted(order.modules[module])) or "no folder"
    return f"a {module} header, and only {who} may use {module} ({DOC}, Layers)"


def run(root, qt_root, allowed):
    """(errors, notes, includes checked) for the tree at root."""
    errors, notes = [], []
    doc_path = root / DOC
    drawing, block, block_line = read_layers_section(doc_path, errors)
    if block is None:
        return errors, notes, 0
    order = parse_block(doc_path.relative_to(root), block, block_line, errors)
    check_order(doc_path.relative_to(root), order, drawing, errors)
    count = check_sources(root, order, qt_modules_by_header(qt_root), allowed, errors, notes)
    return errors, notes, count


def plant(root, rel, line_text):
    """Puts a line first in a file of the copy; returns 'file:1:' as a report names it."""
    f = root / rel
    f.parent.mkdir(parents=True, exist_ok=True)
    text = f.read_text(encoding="utf-8") if f.exists() else ""
    f.write_text(line_text + "\n" + text, encoding="utf-8")
    return f"{rel}:1:"


def self_test(root, qt_root):
    """Plants one fault of each kind in a copy of src/ and the document and expects
    each one reported, with its file and line; the pristine copy must pass."""
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        copy = Path(tmp)
        shutil.copytree(root / "src", copy / "src")
        (copy / "docs").mkdir()
        shutil.copy(root / DOC, copy / DOC)
        errors, _, _ = run(copy, qt_root, ALLOWED)
        if errors:
            failures.append("the unchanged copy fails:\n  " + "\n  ".join(errors))
        # Headers that every folder may use, and a folder's own header, pass.
        plant(copy, "src/startup/TextFile.cpp", "#include <QtNetwork/QTcpSocket>")
        plant(copy, "src/sheet/Sheet.cpp", "#include <qaction.h>")  # QtGui ships it too
        plant(copy, "src/table/Editor.cpp", '#include "Editor.h"')
        plant(copy, "src/extra/Extra.cpp", "#include <QString>")
        expected = [
            (plant(copy, "src/transport/Transport.h", '#include "ui/MainWindow.h"'),
             "transport/ may not include ui/, which is above it"),
            (plant(copy, "src/modbus/Pdu.cpp", '#include "link/Crc.h"'),
             "modbus/ may not include link/, which is beside it"),
            (plant(copy, "src/startup/TextFile.cpp", '#include "../sim/SimModel.h"'),
             "startup/ may not include sim/, which is above it"),
            (plant(copy, "src/table/Editor.cpp", '#include "scan/Scanner.h"'),
             "table/ may not include scan/, which is beside it"),
            (plant(copy, "src/table/CsvTable.cpp", "#include <QWidget>"),
             "a QtWidgets header, and only app/, ui/ may use QtWidgets"),
            (plant(copy, "src/sheet/Sheet.cpp", "#  include <QtWidgets/QDialog>"),
             "a QtWidgets header"),
            (plant(copy, "src/cli/Sheet.cpp", "#include <QPrinter>"),
             "a QtPrintSupport header, and only app/, ui/ may use QtPrintSupport"),
            (plant(copy, "src/link/Link.cpp", "#include <qcolor.h>"),
             "a QtGui header, and only app/, cli/, sheet/, ui/ may use QtGui"),
            ("src/extra/", "a folder that the ```layers block"),
            (plant(copy, "src/commstest/CommsTest.cpp", '#include "../../tests/support/Chunk.h"'),
             "reaches outside src/"),
            (plant(copy, "src/line/LineRun.cpp", "class Yes : public Operator {};"),
             "a class in line/ answers the technician's boxes"),
            (plant(copy, "src/cli/Terminal.h", "struct Yes final\n    : Notices, public Operator {"),
             "a class in cli/ answers the technician's boxes"),
            (plant(copy, "src/table/BulkRun.cpp", "bool b = checkReply(t, pdu).confirmed();"),
             "a reply judged again in table/"),
            (plant(copy, "src/cli/Commands.cpp", "auto t = s.transport().transact(2, pdu);"),
             "a request sent past its run in cli/"),
        ]
        # An allowed include passes; an entry that matches nothing is stale.
        plant(copy, "src/link/Crc.cpp", '#include "transport/Transport.h"')
        allowed = ALLOWED | {("src/link/Crc.cpp", "transport/Transport.h"),
                             ("src/modbus/Pdu.h", "ui/Gone.h")}
        expected.append(("src/modbus/Pdu.h: error: ALLOWED", "delete the entry"))
        errors, _, _ = run(copy, qt_root, allowed)
        for where, what in expected:
            if not any(e.startswith(where) and what in e for e in errors):
                failures.append(f"not reported: {where} ... {what}")
        if len(errors) != len(expected):
            reports = "\n  ".join(errors)
            failures.append(f"{len(errors)} reports for {len(expected)} faults:\n  {reports}")
        # The order itself: a cycle, a missing step down, a folder the drawing lacks.
        doc = copy / DOC
        text = doc.read_text(encoding="utf-8")
        doc.write_text(text.replace("modbus:     startup", "modbus:     startup transport"))
        errors, _, _ = run(copy, qt_root, ALLOWED)
        if not any("modbus/ and transport/ may include each other" in e for e in errors):
            failures.append("a cycle in the order was not reported")
        doc.write_text(text.replace("sim:        startup", "sim:        link"))
        errors, _, _ = run(copy, qt_root, ALLOWED)
        if not any("sim/ may include link/, which may include startup/, but sim/ may not" in e
                   for e in errors):
            failures.append("an order not closed downwards was not reported")
        doc.write_text(text.replace("startup:\n", "startup:\nextra:\n"))
        errors, _, _ = run(copy, qt_root, ALLOWED)
        if not any("lists extra/, the drawing does not" in e for e in errors):
            failures.append("a folder missing from the drawing was not reported")
    for f in failures:
        print(f"self-test: {f}")
    print("self-test: " + ("FAILED" if failures else f"{len(expected) + 3} planted faults found"))
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", type=Path)
    parser.add_argument("--qt-include", action="append", default=[])
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    args.root = args.root or Path(__file__).resolve().parent.parent.parent
    qt_root = qt_header_root(args.qt_include)
    if qt_root is None:
        print("Qt headers not found: pass --qt-include with the QtCore include folder")
        return 2
    if args.self_test:
        return self_test(args.root, qt_root)
    errors, notes, count = run(args.root, qt_root, ALLOWED)
    for line in notes + errors:
        print(line)
    print(
        f"{count} includes checked against {DOC} (Layers): {len(errors)} against the order, "
        f"{len(notes)} allowed for now"
    )
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
