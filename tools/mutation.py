#!/usr/bin/env python3
"""Plants faults one at a time and tells which of them the tests catch.

Each fault (a mutant) is one small edit of one line of src/: a comparison flipped or made
inclusive, an if's condition dropped, a constant off by one, a statement removed, a return value
negated. They are drawn at random (a seed repeats a draw) from the C++ files a change touched
(git diff against a base) or from the files and folders named. The checkout is never edited: the
tree is copied beside it (its own build folders; nothing in them points back here; ccache makes
the first build cheap). Each mutant is built there and the quick suite is run against it with a
time limit: of the quick suite, the tests that run the mutated line (a test that never runs a line
cannot tell a fault in it; a coverage build of the copy, each quick test run alone, says which
do), or the whole quick suite for a line no test runs. A mutant that does not compile is not
counted and another is drawn. It prints the kill ratio and each survivor as file:line and mutation.

    tools/mutation.py [--count 20] [--seed 1] [--files src/table src/link/Link.cpp] [--base main]
"""
import argparse
import glob
import hashlib
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time

COMPARISON_FLIP = {"==": "!=", "!=": "==", "<": ">=", ">": "<=", "<=": ">", ">=": "<"}
COMPARISON_INCLUSIVE = {"<": "<=", ">": ">="}


def git(repo, *args):
    return subprocess.run(["git", "-C", repo, *args], check=True, capture_output=True,
                          text=True).stdout


def masked(line, in_comment):
    """The line with comments and string or character literals blanked out (same length), so
    that nothing inside them is mutated; and whether a block comment runs on."""
    out, i, n = [], 0, len(line)
    while i < n:
        if in_comment:
            end = line.find("*/", i)
            if end < 0:
                out.append(" " * (n - i))
                return "".join(out), True
            out.append(" " * (end + 2 - i))
            i, in_comment = end + 2, False
        elif line.startswith("//", i):
            out.append(" " * (n - i))
            break
        elif line.startswith("/*", i):
            in_comment = True
        elif line[i] in "\"'":
            quote, j = line[i], i + 1
            while j < n and line[j] != quote:
                j += 2 if line[j] == "\\" else 1
            out.append(" " * (min(j, n - 1) + 1 - i))
            i = j + 1
        else:
            out.append(line[i])
            i += 1
    return "".join(out)[:n].ljust(n), in_comment


def balanced_end(text, start):
    """Index of the ')' closing the '(' at start, or -1 if it is not on this line."""
    depth = 0
    for k in range(start, len(text)):
        depth += {"(": 1, ")": -1}.get(text[k], 0)
        if depth == 0:
            return k
    return -1


def other_system_lines(lines):
    """The line numbers inside a branch of #ifdef _WIN32 (or #ifndef) that this system does not
    compile: a fault planted there would never be built."""
    here_windows = os.name == "nt"
    stack, skipped = [], set()  # stack: whether each open #if's current branch is compiled
    for no, line in enumerate(lines, 1):
        d = line.strip()
        if re.match(r"#\s*if", d):
            m = re.match(r"#\s*if(n?)def\s+_WIN32\b|#\s*if\s+(!?)\s*defined\s*\(?\s*_WIN32", d)
            if m:
                negated = bool(m.group(1) or m.group(2))
                stack.append(here_windows != negated)
            else:
                stack.append("?")  # any other condition: both branches taken as compiled
        elif re.match(r"#\s*else", d) and stack:
            stack[-1] = "?" if stack[-1] == "?" else not stack[-1]
        elif re.match(r"#\s*endif", d) and stack:
            stack.pop()
        elif not all(stack):
            skipped.add(no)
    return skipped


def block_kinds(codes):
    """For each line, the kind of the innermost block it starts in ("switch", "loop" or
    "other"), and whether its first token closes that block."""
    stack, pending, kinds = [], "", []
    for code in codes:
        kinds.append((stack[-1] if stack else None, code.strip().startswith("}")))
        for ch in code:
            if ch == "{":
                kind = ("switch" if re.search(r"\bswitch\s*\(", pending) else
                        "loop" if re.search(r"\b(for|while|do)\b", pending) else "other")
                stack.append(kind)
                pending = ""
            elif ch == "}":
                if stack:
                    stack.pop()
                pending = ""
            elif ch == ";":
                pending = ""
            else:
                pending += ch
        pending += " "
    return kinds


def ends_its_block(kinds, codes, no, statement):
    """Whether statement ("break" or "continue") on line no is the last of the switch or loop
    it leaves: removing it cannot change what the code does."""
    own = {"break": "switch", "continue": "loop"}[statement]
    if kinds[no - 1][0] != own:
        return False
    for k in range(no, len(codes)):
        if codes[k].strip():
            return kinds[k][1] and codes[k].strip().startswith("}")
    return False


def load_equivalents(path):
    """The reviewed faults that cannot change what the tool does: (file, what, line). The line
    is its text when no other line of the file reads the same, else "the line before >> its
    text" (the nearest line before it that is not blank). A changed line no longer matches, and
    its fault is drawn again until it is reviewed again."""
    found = set()
    if not os.path.isfile(path):
        return found
    with open(path, encoding="utf-8") as f:
        for row in f:
            if row.strip() and not row.startswith("#"):
                fields = [x.strip() for x in row.rstrip("\n").split(" | ")]
                if len(fields) < 4:
                    sys.exit(f"mutation: {path}: expected file | fault | line | why: {row}")
                # The line itself may hold " | " (a mask of flags); the reason may not.
                found.add((fields[0], fields[1], " | ".join(fields[2:-1])))
    return found


def line_key(lines, number):
    """How an equivalents row names line number (1-based) of a file's lines."""
    text = lines[number - 1].strip()
    if sum(1 for line in lines if line.strip() == text) == 1:
        return text
    before = next((l.strip() for l in reversed(lines[:number - 1]) if l.strip()), "")
    return f"{before} >> {text}"


def sites_of(path, rel):
    """Every mutation this file offers: (rel, line number, start, end, new text, what)."""
    sites, in_comment, prev = [], False, ";"
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    skipped = other_system_lines(lines)
    codes = []
    for line in lines:
        code, in_comment = masked(line, in_comment)
        codes.append(code)
    kinds = block_kinds(codes)
    for no, line in enumerate(lines, 1):
        if no in skipped:
            continue
        code = codes[no - 1]
        stripped = code.strip()
        if not stripped or stripped.startswith("#") or "static_assert" in code:
            prev = prev if not stripped else ";"
            continue
        # A statement starts after one ended, a block opened or closed, or a label.
        starts_statement = prev[-1:] in (";", "{", "}", ":") or prev.startswith("//")
        prev = stripped
        for m in re.finditer(r"(?<=[\w)\]] )(==|!=|<=|>=|<|>)(?= [\w(!*&:-])", code):
            op = m.group(1)
            sites.append((rel, no, m.start(), m.end(), COMPARISON_FLIP[op],
                          f"'{op}' flipped to '{COMPARISON_FLIP[op]}'"))
            if op in COMPARISON_INCLUSIVE:
                sites.append((rel, no, m.start(), m.end(), COMPARISON_INCLUSIVE[op],
                              f"'{op}' made '{COMPARISON_INCLUSIVE[op]}'"))
        for m in re.finditer(r"\b(if|while) \(", code):
            open_at = m.end() - 1
            close = balanced_end(code, open_at)
            if close > open_at + 1:
                cond = line[open_at + 1:close]
                if "=" in cond.replace("==", "").replace("!=", "").replace("<=", "").replace(
                        ">=", "") or ";" in cond:
                    continue  # an assignment or a declaration in the condition
                value = "true" if m.group(1) == "if" else "false"
                sites.append((rel, no, open_at + 1, close, value,
                              f"condition of {m.group(1)} dropped ({value})"))
        for m in re.finditer(r"(?<![\w.'])(\d+)(?![\w.'])", code):
            value = int(m.group(1))
            sites.append((rel, no, m.start(), m.end(), str(value + 1),
                          f"constant {value} made {value + 1}"))
            if value > 0:
                sites.append((rel, no, m.start(), m.end(), str(value - 1),
                              f"constant {value} made {value - 1}"))
        m = re.match(r"^(\s*)((?:[\w:.\->\[\]]+(?:\(.*\))?\s*(?:=|\+=|-=|\|=|<<)\s*.*|[\w:.\->]+\(.*\)|"
                     r"\+\+[\w.\->]+|[\w.\->]+\+\+|--[\w.\->]+|[\w.\->]+--|break|continue));\s*$",
                     code)
        if m and starts_statement and not re.match(r"\s*(return|const|auto|static|using|case|default|else)\b",
                              code) and not re.match(r"\s*[\w:<>]+\s+[\w&*]+\s*=", code):
            start, end = len(m.group(1)), len(line.rstrip())
            # A capacity hint changes no result, nor does the last break of a switch or
            # continue of a loop.
            hint = re.match(r"\s*[\w.\->]+(\.|->)(reserve|squeeze|shrink_to_fit)\(", code) or \
                re.search(r"=\s*(delete|default)\s*;\s*$", code)  # a declaration, not a statement
            if not hint and not (m.group(2) in ("break", "continue")
                                 and ends_its_block(kinds, codes, no, m.group(2))):
                sites.append((rel, no, start, end, ";", "statement removed"))
        m = re.match(r"^\s*return (.+);\s*$", code)
        if m and m.group(1).strip() not in ("{}", "std::nullopt"):
            expr_start = code.index("return ") + len("return ")
            expr_end = code.rindex(";")
            expr = line[expr_start:expr_end]
            if expr in ("true", "false"):
                new = "false" if expr == "true" else "true"
            elif re.search(r"==|!=|<|>|&&|\|\||^!|\.is\w+\(|\.has\w*\(|\.contains\(", expr):
                new = f"!({expr})"
            else:
                continue
            sites.append((rel, no, expr_start, expr_end, new, "return value negated"))
    return sites, lines


# Built only for the other system: a fault planted there is never compiled here.
OTHER_SYSTEM = {"src/link/WinSerialPort.cpp"} if os.name != "nt" else {
    "src/link/QtSerialPortDevice.cpp", "src/link/PortIoctl.cpp"}


def candidate_files(repo, files, base):
    """The .cpp files of src/ named (a folder names all of its own) or touched since base, less
    those this system does not build."""
    return [f for f in named_or_changed(repo, files, base) if f not in OTHER_SYSTEM]


def named_or_changed(repo, files, base):
    if files:
        names = []
        for item in files:
            full = os.path.join(repo, item)
            if os.path.isdir(full):
                names += [os.path.relpath(os.path.join(full, f), repo)
                          for f in sorted(os.listdir(full)) if f.endswith(".cpp")]
            elif item.endswith(".cpp") and os.path.isfile(full):
                names.append(os.path.normpath(item))
            else:
                sys.exit(f"mutation: {item} is neither a .cpp file nor a folder")
        return names
    fork = git(repo, "merge-base", "HEAD", base).strip()
    changed = git(repo, "diff", "--name-only", fork).split()
    return sorted(f for f in changed if f.startswith("src/") and f.endswith(".cpp")
                  and os.path.isfile(os.path.join(repo, f)))


def copy_tree(repo, tree):
    """The checkout's files (tracked and new, as they are now) in tree. The copy's own build
    folder is kept between runs; a file already there with the same bytes is left as it is, any
    other is written anew (so that its time is newer than what was built from it)."""
    listed = {n for n in git(repo, "ls-files", "-z", "--cached", "--others",
                             "--exclude-standard").split("\0") if n}
    for root, dirs, files in os.walk(tree):
        rel_root = os.path.relpath(root, tree)
        if rel_root == ".":
            dirs[:] = [d for d in dirs if not d.startswith("build")]  # build/, build-coverage/
        for f in files:
            rel = os.path.normpath(os.path.join(rel_root, f))
            if rel not in listed:
                os.remove(os.path.join(root, f))
    for name in sorted(listed):
        src, dst = os.path.join(repo, name), os.path.join(tree, name)
        if os.path.islink(src) or not os.path.isfile(src):
            continue
        with open(src, "rb") as f:
            data = f.read()
        if os.path.isfile(dst):
            with open(dst, "rb") as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        with open(dst, "wb") as f:
            f.write(data)
        shutil.copymode(src, dst)


def run(cmd, cwd, env, timeout):
    """Runs cmd niced in its own process group; (ok, output). A time-out kills the group."""
    proc = subprocess.Popen(["nice", "-n", "10", *cmd], cwd=cwd, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=timeout)
        return proc.returncode == 0, out
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, 9)
        proc.communicate()
        return False, "timed out"


def tree_digest(tree, files):
    """A digest of the copy's sources and the files mutated: the coverage of one tree serves
    every run on it."""
    h = hashlib.sha1("\n".join(files).encode())
    for root, dirs, files in os.walk(tree):
        dirs[:] = sorted(d for d in dirs if not d.startswith("build") and d != ".git")
        for f in sorted(files):
            path = os.path.join(root, f)
            h.update(os.path.relpath(path, tree).encode() + b"\0")
            with open(path, "rb") as data:
                h.update(data.read())
    return h.hexdigest()[:16]


def launcher():
    """The compiler cache, when the machine has one: each fault's build, and its undoing in the
    next, then compiles only what the cache has not seen."""
    return ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []


def coverage_of(tree, files, quick, env, jobs):
    """For each line of files that a quick test runs: {rel: {line: [tests]}}, and each test's
    time. A coverage build of the copy; each quick test run alone, its counts read with gcov."""
    cov_build = os.path.join(tree, "build-coverage")
    ok, out = run(["cmake", "-S", tree, "-B", cov_build, "-DCMAKE_BUILD_TYPE=Debug",
                   "-DCMAKE_CXX_FLAGS=--coverage -O0 -g0", "-DCMAKE_EXE_LINKER_FLAGS=--coverage"]
                  + launcher(), tree, env, 600)
    if ok:
        ok, out = run(["cmake", "--build", cov_build, "-j", str(jobs)], tree, env, 7200)
    if not ok:
        sys.exit("mutation: the coverage build of the copy failed:\n" + out[-3000:])
    ran, times = {}, {}
    for test in sorted(quick):
        for old in glob.glob(os.path.join(cov_build, "**", "*.gcda"), recursive=True):
            os.remove(old)
        start = time.monotonic()
        run(["ctest", "-R", "^" + re.escape(test) + "$"], cov_build, env, 900)
        times[test] = time.monotonic() - start
        for rel in files:
            for gcda in glob.glob(os.path.join(cov_build, "CMakeFiles", "*", rel + ".gcda")):
                report = subprocess.run(["gcov", "--json-format", "--stdout", "-o",
                                         os.path.dirname(gcda), gcda], cwd=cov_build,
                                        capture_output=True, text=True).stdout
                for doc in filter(str.strip, report.splitlines()):
                    for f in json.loads(doc)["files"]:
                        if f["file"].endswith(rel):
                            for line in f["lines"]:
                                if line["count"] > 0:
                                    ran.setdefault(rel, {}).setdefault(
                                        str(line["line_number"]), []).append(test)
    return {"ran": ran, "times": times}


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--count", type=int, default=20)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--files", nargs="*", default=[], help="files or folders (default: changed)")
    ap.add_argument("--base", default="main", help="what a change is measured against")
    ap.add_argument("--work", help="where the copy goes (default: beside the checkout)")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--all-tests", action="store_true", help="the whole quick suite per mutant")
    ap.add_argument("--list", action="store_true", help="only print the faults that would be drawn")
    args = ap.parse_args()

    repo = git(".", "rev-parse", "--show-toplevel").strip()
    work = os.path.abspath(args.work or repo.rstrip("/") + ".mutation")
    tree = os.path.join(work, "tree") if args.work else work
    build = os.path.join(tree, "build")
    files = candidate_files(repo, [f.rstrip("/") for f in args.files], args.base)
    if not files:
        sys.exit("mutation: no C++ file of src/ to mutate")
    sites, texts = [], {}
    for rel in files:
        found, lines = sites_of(os.path.join(repo, rel), rel)
        sites += found
        texts[rel] = lines
    equivalents = load_equivalents(os.path.join(repo, "tools", "mutation-equivalents.txt"))
    reviewed = [s for s in sites if (s[0], s[5], line_key(texts[s[0]], s[1])) in equivalents]
    sites = [s for s in sites if s not in reviewed]
    random.Random(args.seed).shuffle(sites)
    print(f"mutation: {len(sites)} possible faults in {len(files)} files ({len(reviewed)} more "
          f"are reviewed as equivalent and not drawn); seed {args.seed}, {args.count} to plant; "
          f"the copy is {tree}", flush=True)

    if args.list:
        for rel, no, start, end, new, what in sites[:args.count]:
            line = texts[rel][no - 1]
            print(f"{rel}:{no}: {what}: {(line[:start] + new + line[end:]).strip()}")
        return 0
    env = dict(os.environ)
    # The copy sits as deep as the checkout, so that the compiler cache serves both.
    env.setdefault("CCACHE_BASEDIR", os.path.dirname(repo))
    env["CCACHE_NOHASHDIR"] = "1"
    env.setdefault("CCACHE_DIR", os.path.expanduser("~/.ccache"))
    copy_tree(repo, tree)
    ok, out = run(["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
                  + launcher(), tree, env, 600)
    if not ok:
        sys.exit("mutation: the copy does not configure:\n" + out)
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as f:
        if repo + "/" in f.read():
            sys.exit(f"mutation: the copy's build points back at {repo}")
    quick = subprocess.run(["ctest", "-N", "-LE", "slow"], cwd=build, capture_output=True,
                           text=True).stdout
    quick_names = sorted(set(re.findall(r"Test +#\d+: (\S+)", quick)))
    known = set(re.findall(r"^\.\.\. (\S+)", subprocess.run(
        ["cmake", "--build", build, "--target", "help"], capture_output=True, text=True).stdout,
        re.M))

    def targets_of(tests):  # each test's program (a target its name begins with); the CLI,
        names = [t.replace("/", "_") for t in tests]  # and the app for the app's test
        return sorted({k for k in known for n in names if n == k or n.startswith(k + "_")} |
                      {"qv840ctl"} | ({"qv840n"} if any(t.startswith("app/") for t in tests)
                                      else set()))

    everything = targets_of(quick_names)
    ok, out = run(["cmake", "--build", build, "-j", str(args.jobs), "--target", *everything],
                  tree, env, 7200)
    if not ok:
        sys.exit("mutation: the copy does not build unmutated:\n" + out[-3000:])
    for attempt in range(3):  # a timing test may fail once on a busy machine
        ok, out = run(["ctest", "-j", str(args.jobs), "-LE", "slow"], build, env, 1800)
        if ok:
            break
    if not ok:
        sys.exit("mutation: the quick suite fails unmutated:\n" + out[-3000:])
    # In the build folder, which the digest and the copy both pass over (without --work the
    # copy is the work folder itself).
    cached = os.path.join(build, f"coverage-{tree_digest(tree, files)}.json")
    if args.all_tests:
        coverage = {"ran": {}, "times": {}}
    elif os.path.isfile(cached):
        with open(cached, encoding="utf-8") as f:
            coverage = json.load(f)
    else:
        print("  the coverage of each quick test (once for this tree)...", flush=True)
        coverage = coverage_of(tree, files, quick_names, env, args.jobs)
        with open(cached, "w", encoding="utf-8") as f:
            json.dump(coverage, f)

    def plan(rel, no):
        """The tests to run for a fault on line no of rel, their targets and the time limit."""
        tests = sorted(coverage["ran"].get(rel, {}).get(str(no), [])) or quick_names
        targets = targets_of(tests)
        took = sum(coverage["times"].get(t, 30.0) for t in tests)  # in the slower coverage build
        return tests, targets, max(60.0, 2 * took / args.jobs + 30)

    def judge(tests, limit):
        """(whether the tests pass with the fault, the verdict). The quick tests first, the
        long ones only when those pass: a fault one of them catches costs no long test."""
        short = [t for t in tests if coverage["times"].get(t, 0) < 15]
        verdict = "survived"
        for group in (short, [t for t in tests if t not in short]):
            if not group:
                continue
            passed, out = run(["ctest", "-j", str(args.jobs), "-R",
                               "^(" + "|".join(map(re.escape, group)) + ")$"], build, env, limit)
            if out == "timed out":
                return False, "killed (time limit)"
            if not passed:
                # A failure counts when it comes again: a busy machine can fail a timing
                # test once without any fault. Every test of the group ran, so a fault that
                # fails one test for sure is not hidden behind another's passing flake. The
                # tests that failed are named again (a run that finds none of them is no pass).
                failed = re.findall(r"^\s*\d+ - (\S+) \(", out, re.M)
                again, out = (run(["ctest", "-R", "^(" + "|".join(map(re.escape, failed)) + ")$"],
                                  build, env, limit) if failed else (False, out))
                if not (again and "No tests were found" not in out):
                    return False, "killed"
                verdict = "survived (failed once, not again)"
        return True, verdict

    killed, survivors, planted, unbuildable = 0, [], 0, 0
    for rel, no, start, end, new, what in sites:
        if planted == args.count:
            break
        tests, targets, limit = plan(rel, no)
        lines = list(texts[rel])
        old_line = lines[no - 1]
        lines[no - 1] = old_line[:start] + new + old_line[end:]
        target_file = os.path.join(tree, rel)
        with open(target_file, "w", encoding="utf-8") as f:
            f.write("\n".join(lines))
        try:
            built, out = run(["cmake", "--build", build, "-j", str(args.jobs), "--target",
                              *targets], tree, env, 1800)
            if not built:
                unbuildable += 1
                continue
            planted += 1
            began = time.monotonic()
            passed, verdict = judge(tests, limit)
            print(f"  [{planted}/{args.count}] {rel}:{no}: {what}: {verdict} "
                  f"({time.monotonic() - began:.0f} s, {len(tests)} tests)", flush=True)
            if passed:
                survivors.append(f"{rel}:{no}: {what}\n      {old_line.strip()}\n"
                                 f"   -> {lines[no - 1].strip()}")
            else:
                killed += 1
        finally:
            with open(target_file, "w", encoding="utf-8") as f:
                f.write("\n".join(texts[rel]))
    print(f"\nmutation: {killed} of {planted} planted faults killed "
          f"({100.0 * killed / max(planted, 1):.0f} %), seed {args.seed}; "
          f"{unbuildable} drawn did not compile and were not counted")
    for s in survivors:
        print("  survived: " + s)
    return 0


if __name__ == "__main__":
    sys.exit(main())
