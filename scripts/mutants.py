#!/usr/bin/env python3
"""Mutation testing: how many small faults in the product sources does the suite catch?

Applies one fault at a time to a copy of the sources (flipped comparison, && and ||
swapped, negated condition, swapped return value, removed call statement, constant
changed by one), rebuilds, runs the suite with ctest --stop-on-failure, and records
whether some test failed (killed, with the test's name) or none did (survived).

A fixed seed draws the sample: a folder at a time in turn, so every folder is
represented, and within a folder a kind of fault at random, then one of its places. A mutant that
does not compile (warnings are errors) is skipped and the next candidate of its folder
drawn instead. The same seed on the same sources gives the same sample.

    scripts/mutants.py                 # 60 mutants, seed 1, into build-mutants/
    scripts/mutants.py --count 100 --seed 7
    scripts/mutants.py --list          # print the sample's candidates only

Results go to <work>/results.json, one record per mutant, written as they come, so
an interrupted run continues where it stopped with --resume."""
import argparse
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PRODUCT_FOLDERS = ["framework", "common", "app", "discovery", "transfer", "extract", "backup", "unzip32", "release",
                   "publish"]
SOURCE_SUFFIXES = (".cpp", ".h")
KEYWORDS = {"return", "if", "while", "for", "switch", "delete", "case", "else", "do", "sizeof",
            "static_assert", "throw", "new", "using", "typedef", "goto", "break", "continue"}


def masked(lines):
    """Each line with comments and the insides of string and character literals blanked,
    so that mutations only touch code. Preprocessor lines are blanked whole."""
    result, in_block = [], False
    for line in lines:
        out, i = [], 0
        if not in_block and line.lstrip().startswith("#"):
            result.append(" " * len(line))
            continue
        while i < len(line):
            if in_block:
                end = line.find("*/", i)
                stop = len(line) if end < 0 else end + 2
                out.append(" " * (stop - i))
                in_block, i = end < 0, stop
            elif line.startswith("//", i):
                out.append(" " * (len(line) - i))
                i = len(line)
            elif line.startswith("/*", i):
                in_block = True
            elif line[i] in "\"'":
                quote, j = line[i], i + 1
                while j < len(line) and line[j] != quote:
                    j += 2 if line[j] == "\\" else 1
                out.append(quote + " " * (min(j, len(line)) - i - 1) + (quote if j < len(line) else ""))
                i = j + 1
            else:
                out.append(line[i])
                i += 1
        result.append("".join(out)[:len(line)])
    return result


def matching_paren(text, open_index):
    depth = 0
    for i in range(open_index, len(text)):
        depth += {"(": 1, ")": -1}.get(text[i], 0)
        if depth == 0:
            return i
    return -1


SWAPS = [
    (r"==", "!=", "flip"), (r"!=", "==", "flip"),
    (r" < ", " <= ", "flip"), (r" <= ", " < ", "flip"), (r" > ", " >= ", "flip"), (r" >= ", " > ", "flip"),
    (r"&&", "||", "logic"), (r"\|\|", "&&", "logic"),
]
RETURNS = {"TRUE": "FALSE", "FALSE": "TRUE", "true": "false", "false": "true", "0": "1", "1": "0"}
CALL_STATEMENT = re.compile(r"^\s*((?:[A-Za-z_]\w*(?:::|\.|->))*[A-Za-z_]\w*)\s*\(.*\)\s*;\s*$")


def line_mutants(code, original):
    """(operator, column, old text, new text) for one masked line."""
    for pattern, replacement, operator in SWAPS:
        for m in re.finditer(pattern, code):
            yield operator, m.start(), m.group(0), replacement
    for m in re.finditer(r"\b(if|while)\s*\(", code):
        open_index = m.end() - 1
        close = matching_paren(code, open_index)
        if close > 0:
            inner = original[open_index + 1:close]
            yield "negate", open_index, "(" + inner + ")", "(!(" + inner + "))"
    for m in re.finditer(r"\breturn\s+(TRUE|FALSE|true|false|0|1)\s*;", code):
        value = m.group(1)
        yield "return", m.start(1), value, RETURNS[value]
    call = CALL_STATEMENT.match(code)
    if call and call.group(1).split("::")[-1] not in KEYWORDS \
            and matching_paren(code, code.index("(", call.end(1))) == code.rindex(")"):
        start = call.start(1)
        yield "remove-call", start, original[start:].rstrip("\r\n"), "(void)0;"
    for m in re.finditer(r"(?<![\w.])(\d+)(?![\w.])", code):
        yield "constant", m.start(), m.group(1), str(int(m.group(1)) + 1)


def candidates(root):
    """Every mutant of every product source, grouped by folder, in a fixed order."""
    by_folder = {}
    for folder in PRODUCT_FOLDERS:
        found = []
        for name in sorted(os.listdir(os.path.join(root, folder))):
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            path = os.path.join(folder, name)
            with open(os.path.join(root, path), encoding="utf-8") as f:
                lines = f.read().split("\n")
            for number, (code, original) in enumerate(zip(masked(lines), lines), 1):
                for operator, column, old, new in line_mutants(code, original):
                    if original[column:column + len(old)] == old:
                        found.append({"file": path, "line": number, "column": column,
                                      "operator": operator, "old": old, "new": new})
        by_folder[folder] = found
    return by_folder


def draw(by_folder, seed):
    """Yields candidates in the seeded order: a folder at a time, in turn."""
    rng = random.Random(seed)
    queues = {}
    for folder in PRODUCT_FOLDERS:
        for mutant in by_folder[folder]:
            queues.setdefault(folder, {}).setdefault(mutant["operator"], []).append(mutant)
        for queue in queues.get(folder, {}).values():
            rng.shuffle(queue)
    while any(any(q.values()) for q in queues.values()):
        for folder in PRODUCT_FOLDERS:
            # An operator first, then one of its mutants: constants, which are many,
            # do not crowd out the rarer kinds.
            operators = sorted(o for o, queue in queues.get(folder, {}).items() if queue)
            if operators:
                yield queues[folder][rng.choice(operators)].pop(0)


def mutant_id(mutant):
    return "%(file)s:%(line)d:%(column)d:%(operator)s" % mutant


def apply(source_root, mutant):
    """Writes the mutant into the copy; returns the original text to put back."""
    path = os.path.join(source_root, mutant["file"])
    with open(path, encoding="utf-8", newline="") as f:
        text = f.read()
    lines = text.split("\n")
    line = lines[mutant["line"] - 1]
    column = mutant["column"]
    lines[mutant["line"] - 1] = line[:column] + mutant["new"] + line[column + len(mutant["old"]):]
    write_fresh(path, "\n".join(lines))
    return text


def write_fresh(path, text):
    """Writes and moves the time stamp forward, so that make rebuilds even within one second."""
    before = os.stat(path).st_mtime if os.path.exists(path) else 0
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)
    stamp = max(time.time(), before + 1)
    os.utime(path, (stamp, stamp))


def run(command, cwd, timeout):
    try:
        done = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout, text=True, errors="replace")
        return done.returncode, done.stdout
    except subprocess.TimeoutExpired as e:
        return None, (e.stdout or b"").decode("utf-8", "replace") if isinstance(e.stdout, bytes) else (e.stdout or "")


def first_failed_test(output):
    m = re.search(r"The following tests FAILED:\s*\n\s*\d+ - (\S+)", output)
    if m:
        return m.group(1)
    m = re.search(r"Test\s+#\d+: (\S+) \.+\**\s*(Failed|Timeout|Exception|Not Run|SEGFAULT)", output)
    return m.group(1) if m else "?"


def build(build_dir):
    code, output = run(["cmake", "--build", build_dir, "-j", str(os.cpu_count() or 2)], build_dir, 1800)
    return code == 0, output


def suite(build_dir, test_timeout):
    return run(["ctest", "--stop-on-failure", "--timeout", str(test_timeout)], build_dir, 3600)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=60, help="mutants to measure (default 60)")
    parser.add_argument("--work", default=os.path.join(ROOT, "build-mutants"), help="copy, build and results")
    parser.add_argument("--list", action="store_true", help="print the first candidates of the draw and stop")
    parser.add_argument("--resume", action="store_true", help="keep the results already in the work folder")
    parser.add_argument("--only", nargs="+", metavar="ID", help="measure just these mutants (ids as results give them)")
    parser.add_argument("--from", dest="checkout", default=ROOT, help="the checkout to measure (default: this one)")
    parser.add_argument("--test-timeout", type=int, default=120, help="seconds; a test that takes longer kills")
    args = parser.parse_args()

    if args.list:
        for mutant in list(draw(candidates(args.checkout), args.seed))[:args.count]:
            print("%-40s %s -> %s" % (mutant_id(mutant), mutant["old"].strip(), mutant["new"].strip()))
        return 0

    source_root = os.path.join(args.work, "src")
    build_dir = os.path.join(args.work, "build")
    results_path = os.path.join(args.work, "results.json")
    if os.environ.get("ZYN_MUTANTS_ENV") != build_dir:
        return prepare_and_reenter(args, source_root, build_dir)

    results = []
    if args.resume and os.path.exists(results_path):
        with open(results_path) as f:
            results = json.load(f)
    done = {r["id"] for r in results}

    ok, output = build(build_dir)
    code, output = suite(build_dir, args.test_timeout) if ok else (1, output)
    if code != 0:
        print(output[-4000:])
        print("mutants: the unmutated suite does not pass; nothing measured")
        return 1

    measured = sum(1 for r in results if r["status"] in ("killed", "survived"))
    sample = draw(candidates(source_root), args.seed)
    if args.only:
        sample = [m for m in sample if mutant_id(m) in args.only]
    for mutant in sample:
        if measured >= args.count and not args.only:
            break
        identity = mutant_id(mutant)
        if identity in done:
            continue
        started = time.time()
        original = apply(source_root, mutant)
        try:
            ok, output = build(build_dir)
            if not ok:
                status, killer = "unbuildable", None
            else:
                code, output = suite(build_dir, args.test_timeout)
                status = "survived" if code == 0 else "killed"
                killer = None if code == 0 else ("timeout" if code is None else first_failed_test(output))
        finally:
            write_fresh(os.path.join(source_root, mutant["file"]), original)
        record = dict(mutant, id=identity, status=status, killer=killer, seconds=round(time.time() - started))
        results.append(record)
        if status != "unbuildable":
            measured += 1
        with open(results_path, "w") as f:
            json.dump(results, f, indent=1, ensure_ascii=False)
        print("%3d %-9s %-45s %s -> %s  %s" % (measured, status, identity, mutant["old"].strip()[:40],
                                               mutant["new"].strip()[:40], killer or ""), flush=True)
    build(build_dir)  # leave the copy's build unmutated
    summarise(results)
    return 0


def summarise(results):
    measured = [r for r in results if r["status"] in ("killed", "survived")]
    killed = [r for r in measured if r["status"] == "killed"]
    print("\nmutants: %d measured, %d killed, %d survived (%.0f %% killed); %d did not build"
          % (len(measured), len(killed), len(measured) - len(killed),
             100.0 * len(killed) / max(1, len(measured)), len(results) - len(measured)))
    for r in measured:
        if r["status"] == "survived":
            print("  survived: %-45s %s -> %s" % (r["id"], r["old"].strip()[:50], r["new"].strip()[:50]))


def prepare_and_reenter(args, source_root, build_dir):
    """Copies the tracked sources, configures a build of its own, and runs this script
    again inside that build's Wine environment (its own prefix, drive D: and display)."""
    if not args.resume and os.path.exists(args.work):
        shutil.rmtree(args.work)
    # A file that differs from the checkout (a mutant left by an interrupted run) is written
    # afresh, with a new time stamp, so that the build takes it.
    files = subprocess.run(["git", "ls-files"], cwd=args.checkout, stdout=subprocess.PIPE, text=True,
                           check=True).stdout.split()
    for name in files:
        copy = os.path.join(source_root, name)
        with open(os.path.join(args.checkout, name), "rb") as f:
            data = f.read()
        if not os.path.exists(copy) or open(copy, "rb").read() != data:
            os.makedirs(os.path.dirname(copy), exist_ok=True)
            shutil.copy2(os.path.join(args.checkout, name), copy)
            stamp = time.time() + 1
            os.utime(copy, (stamp, stamp))
    # A mutant that makes a test hang is killed by the limit, not by the suite's own longer one.
    tests_cmake = os.path.join(source_root, "tests", "CMakeLists.txt")
    with open(tests_cmake) as f:
        text = f.read()
    limited = re.sub(r"\bTIMEOUT \d+", "TIMEOUT %d" % args.test_timeout, text)
    if limited != text:
        write_fresh(tests_cmake, limited)
    subprocess.run([os.path.join(ROOT, "scripts", "setup.sh")], check=True)
    subprocess.run([os.path.join(source_root, "scripts", "build.sh"), build_dir], check=True,
                   stdout=subprocess.DEVNULL)
    script = ('source "%s/scripts/wine-env.sh"; trap zyn_wine_stop EXIT; "%s" "%s" %s'
              % (source_root, sys.executable, os.path.abspath(__file__),
                 " ".join('"%s"' % a for a in sys.argv[1:] if a != "--resume") + " --resume"))
    env = dict(os.environ, ZYN_BUILD=build_dir, ZYN_MUTANTS_ENV=build_dir, DISPLAY="")
    return subprocess.run(["bash", "-c", script], env=env).returncode


if __name__ == "__main__":
    # Ended from outside, a run still puts back the file it mutated.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
