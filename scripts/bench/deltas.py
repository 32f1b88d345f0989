"""The delta table of the benchmark: our binary deltas (release/Delta.h, through the zyndelta
driver under Wine) against bsdiff, xdelta3 and zstd --patch-from on the same file pairs,
generated from fixed seeds into <build>/bench/deltas:
  dll    a DLL of about 354 KB built twice by mingw-w64, one function's body changed so that
         the code after it moves
  table  a steel table of 2.7 MB in code page 932, 1 % of its rows edited
  model  8 MB of random bytes, 20 of its 4 KiB blocks rewritten
The limit: our delta at most 1.25 times the smallest of the three tools' plus 2 KB.
--large MB adds a pair of that size (random bytes, blocks rewritten, 1 MB inserted) for the
creation's time and peak memory, and the application's, which stays flat.
scripts/bench.sh --deltas-only runs this with Wine set up and zyndelta built."""
import argparse
import os
import random
import shutil
import subprocess
import sys
import zlib

BUILD = os.environ["ZYN_BUILD"]
DATA = os.path.join(BUILD, "bench", "deltas")
TOOLS = {"bsdiff": "bsdiff", "xdelta3": "xdelta3", "zstd": "zstd"}  # command: Debian package


def ensure_tools():
    missing = [package for command, package in TOOLS.items() if not shutil.which(command)]
    if missing:
        sys.exit("deltas: %s missing: scripts/bench.sh installs them (scripts/setup.sh %s)"
                 % (" ".join(missing), " ".join(missing)))


# ---- the pairs


def dll_source(functions, sections, changed=None):
    """A library's C source: a table of sections in .rdata and functions that call earlier
    ones and read the table, as a CAD's DLL does; changed gets a longer body."""
    rng = random.Random(354)
    lines = ["#include <stdio.h>", "#include <string.h>",
             "struct Section { const char* name; double h, b, t1, t2, area, weight; };",
             "static const struct Section kSections[%d] = {" % sections]
    for i in range(sections):
        h, b = rng.randrange(100, 900), rng.randrange(50, 400)
        lines.append('  {"%s-%dx%dx%d", %d, %d, %.1f, %.1f, %.2f, %.2f},' % (
            rng.choice("HCLTP"), h, b, i, h, b, rng.uniform(4, 20), rng.uniform(6, 30), h * b / 97.0, h * b / 123.0))
    lines.append("};")
    for i in range(functions):
        n1, n2, n3 = rng.randrange(1, 97), rng.randrange(3, 13), rng.randrange(100, 9000)
        callee = "f%d(n / 2 + %d, p)" % (rng.randrange(i), n2) if i else "0"
        row = "kSections[(n * %d + %d) %% %d]" % (n1, n2, sections)
        kind = i % 4
        if kind == 0:
            body = "double s = %d; for (int i = 0; i < n; ++i) s += %s.area * %d; return s + %s;" % (n3, row, n2, callee)
        elif kind == 1:
            cases = " ".join("case %d: r += %d * n + %s.weight; break;" % (c, rng.randrange(1000), row)
                             for c in range(rng.randrange(4, 9)))
            body = "double r = %d; switch (n %% %d) { %s default: r -= %d; } return r + %s;" % (
                n3, n2 + 3, cases, n1, callee)
        elif kind == 2:
            body = ('char buf[64]; snprintf(buf, sizeof(buf), "%%s %d-%%d", %s.name, n); '
                    'return (double)strlen(buf) * %d + (p ? p[0] : 0) + %s;' % (n3, row, n1, callee))
        else:
            body = ("double a = n, b = %d.5; for (int i = 0; i < %d; ++i) { a = a * %d.25 + b; b = b / %d.0 + %s.h; } "
                    "return a + b - %s;" % (n1, n2, n1 % 7 + 1, n2, row, callee))
        if i == changed:
            body = ("if (n == %d) { double t = 0; for (int j = 0; j < n; ++j) t += kSections[j %% %d].t1 * j; "
                    "return t - %d; } " % (n3 + 7, sections, n1)) + body
        lines.append("__declspec(dllexport) double f%d(int n, const char* p) { %s }" % (i, body))
    return "\n".join(lines) + "\n"


def build_dll(source, folder, target):
    """Built under the same name in the same folder each time, as a rebuild is: the linker
    derives the DLL's image base from its name. Without a time stamp, so that every run
    measures the same bytes."""
    c_file, dll = os.path.join(folder, "model.c"), os.path.join(folder, "model.dll")
    with open(c_file, "w") as f:
        f.write(source)
    subprocess.run(["x86_64-w64-mingw32-gcc", "-O2", "-s", "-shared", "-Wl,--no-insert-timestamp", "-o", dll,
                    c_file], check=True)
    os.replace(dll, target)


def steel_table(rng_seed, rows, edited=()):
    """A code-page-932 table of steel sections: name, designation, dimensions, area, weight,
    grade, standard and a remark; the edited rows get other figures or another remark."""
    rng, edits = random.Random(rng_seed), random.Random(rng_seed + 1)
    kinds = [("H形鋼", "H"), ("溝形鋼", "[ "), ("等辺山形鋼", "L"), ("不等辺山形鋼", "L"), ("角形鋼管", "□"),
             ("円形鋼管", "○"), ("リップ溝形鋼", "C"), ("平鋼", "FB"), ("CT形鋼", "CT"), ("I形鋼", "I")]
    grades = ["SS400", "SM490A", "SN400B", "SN490B", "STKR400", "BCR295", "STK400"]
    remarks = ["", "", "", "受注生産", "在庫品", "特寸", "旧規格品（参考）", "ロール予定あり"]
    edited = set(edited)
    out = ["形鋼種別,呼称,H,B,t1,t2,断面積(cm2),単位質量(kg/m),材質,規格,備考"]
    for row in range(rows):
        name, mark = rng.choice(kinds)
        h, b = rng.randrange(50, 1000, 25), rng.randrange(25, 400, 25)
        t1, t2 = rng.choice([4.5, 5, 6, 6.5, 7, 8, 9, 10, 12]), rng.choice([6, 8, 9, 10, 11, 12, 14, 16, 19, 22])
        area = (h * t1 + 2 * b * t2) / 100
        grade, remark = rng.choice(grades), rng.choice(remarks)
        if row in edited:  # a corrected figure, a new grade or remark
            change = edits.randrange(3)
            area = area * 1.0125 if change == 0 else area
            grade = edits.choice(grades) if change == 1 else grade
            remark = "改訂%d" % edits.randrange(1, 9) if change == 2 else remark
        out.append("%s,%s-%dx%dx%sx%s,%d,%d,%s,%s,%.2f,%.1f,%s,JIS G 3192,%s" % (
            name, mark, h, b, t1, t2, h, b, t1, t2, area, area * 0.785, grade, remark))
    return ("\r\n".join(out) + "\r\n").encode("cp932")


def model_library(size, rewritten, seed, insert=0):
    """Random bytes, then the same with some 4 KiB blocks rewritten and insert bytes put in
    the middle."""
    rng = random.Random(seed)
    old = b"".join(rng.randbytes(min(1 << 24, size - at)) for at in range(0, size, 1 << 24))
    new = bytearray(old)
    for block in rng.sample(range(size // 4096), rewritten):
        new[block * 4096:(block + 1) * 4096] = rng.randbytes(4096)
    if insert:
        new[size // 2:size // 2] = rng.randbytes(insert)
    return old, bytes(new)


def generate():
    """The three pairs as <name>.old and <name>.new, made once."""
    os.makedirs(DATA, exist_ok=True)
    pairs = ["dll", "table", "model"]
    if all(os.path.exists(os.path.join(DATA, name + ".new")) for name in pairs):
        return pairs
    functions, sections = 480, 1900
    build_dll(dll_source(functions, sections), DATA, os.path.join(DATA, "dll.old"))
    build_dll(dll_source(functions, sections, changed=functions * 2 // 5), DATA, os.path.join(DATA, "dll.new"))
    rows = 36000
    edited = random.Random(932).sample(range(rows), rows // 100)
    write(os.path.join(DATA, "table.old"), steel_table(27, rows))
    write(os.path.join(DATA, "table.new"), steel_table(27, rows, edited))
    old, new = model_library(8 << 20, 20, 8)
    write(os.path.join(DATA, "model.old"), old)
    write(os.path.join(DATA, "model.new"), new)
    return pairs


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


# ---- the tools


def deflated_size(path):
    with open(path, "rb") as f:
        packer = zlib.compressobj(9, zlib.DEFLATED, -15, 9)
        return len(packer.compress(f.read()) + packer.flush())


def pinned(cpu):
    return ["taskset", "-c", str(cpu)] if cpu is not None else []


def tool_sizes(old, new, cpu):
    """Each tool at its best settings: bsdiff; xdelta3 -9, with and without its secondary
    compressor; zstd at its highest level with a window covering the old file."""
    out = os.path.join(DATA, "tool.patch")
    window = max(10, (max(os.path.getsize(old), os.path.getsize(new)) - 1).bit_length() + 1)
    runs = {"bsdiff": [["bsdiff", old, new, out]],
            "xdelta3": [["xdelta3", "-9", "-S", "djw", "-e", "-f", "-s", old, new, out],
                        ["xdelta3", "-9", "-e", "-f", "-s", old, new, out]],
            "zstd": [["zstd", "-q", "-f", "--ultra", "-22", "--single-thread", "--long=%d" % window,
                      "--patch-from=" + old, new, "-o", out]]}
    sizes = {}
    for tool, commands in runs.items():
        for command in commands:
            subprocess.run(pinned(cpu) + command, check=True, stderr=subprocess.DEVNULL)
            sizes[tool] = min(sizes.get(tool, 1 << 62), os.path.getsize(out))
    os.remove(out)
    return sizes


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def driver(cpu, *words):
    """One run of zyndelta: the words it printed."""
    args = pinned(cpu) + ["wine", os.path.join(BUILD, "zyndelta.exe")] + list(words)
    process = subprocess.Popen(args, stdout=subprocess.PIPE)
    output = process.communicate()[0].decode("cp932", "replace").split()
    if process.returncode != 0 or not output or output[0] != words[0]:
        raise RuntimeError("zyndelta %s: %s" % (" ".join(words), " ".join(output)))
    return output


def ours(name, old, new, cpu, window=None):
    """Our delta made and applied: sizes, seconds and peak KB; the result must be the new file."""
    delta, made = os.path.join(DATA, name + ".delta"), os.path.join(DATA, name + ".made")
    words = [windows_path(old), windows_path(new), windows_path(delta)] + ([str(window)] if window else [])
    _, make_seconds, size, make_peak, read_peak = driver(cpu, "make", *words)
    _, apply_seconds, result, apply_peak = driver(cpu, "apply", windows_path(old), windows_path(delta), windows_path(made))
    with open(made, "rb") as a, open(new, "rb") as b:
        if result != "0" or a.read() != b.read():
            raise RuntimeError("%s: the applied delta is not the new file" % name)
    os.remove(made)
    return {"size": int(size), "make": float(make_seconds), "apply": float(apply_seconds),
            "make_kb": int(make_peak) - int(read_peak), "make_peak_kb": int(make_peak), "apply_kb": int(apply_peak)}


def kb(n):
    return "%.1f KB" % (n / 1000)


def print_rows(head, rows):
    """A Markdown table, its columns as wide as their widest cell."""
    widths = [max(len(r[i]) for r in rows + [head]) for i in range(len(head))]
    for r in [head, tuple("-" * w for w in widths)] + rows:
        print("| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |")


def print_table(rows):
    print_rows(("pair", "new file", "deflated", "ours", "bsdiff", "xdelta3", "zstd", "ours / smallest",
                "1.25 x smallest + 2 KB", "held", "make", "apply"), rows)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cpu", type=int, help="the CPU of every timed process")
    parser.add_argument("--large", type=int, default=0, metavar="MB", help="also a pair of this size, for memory")
    parser.add_argument("--window", type=int, help="our window in bytes (default the library's)")
    args = parser.parse_args()
    ensure_tools()
    rows, held = [], True
    for name in generate():
        old, new = os.path.join(DATA, name + ".old"), os.path.join(DATA, name + ".new")
        tools = tool_sizes(old, new, args.cpu)
        our = ours(name, old, new, args.cpu, args.window)
        smallest = min(tools.values())
        limit = 1.25 * smallest + 2048
        held = held and our["size"] <= limit
        rows.append((name, kb(os.path.getsize(new)), kb(deflated_size(new)), kb(our["size"]), kb(tools["bsdiff"]),
                     kb(tools["xdelta3"]), kb(tools["zstd"]), "%.2f" % (our["size"] / smallest), kb(limit),
                     "yes" if our["size"] <= limit else "NO", "%.2f s" % our["make"], "%.2f s" % our["apply"]))
        print("%s: ours %d bytes (bsdiff %d, xdelta3 %d, zstd %d); make %.2f s, %d KB beyond the two files; "
              "apply %.2f s, peak %d KB" % (name, our["size"], tools["bsdiff"], tools["xdelta3"], tools["zstd"],
                                            our["make"], our["make_kb"], our["apply"], our["apply_kb"]), flush=True)
    print()
    print_table(rows)
    print("sizes in KB of 1000 bytes; xdelta3 -9, the smaller of -S djw and its default; zstd --ultra -22 "
          "--single-thread --long; make and apply: our delta under Wine, for reference")
    if args.large:
        size = args.large << 20
        old, new = (os.path.join(DATA, "large%d.%s" % (args.large, end)) for end in ("old", "new"))
        if not os.path.exists(new):
            pair = model_library(size, 20, 256, insert=1 << 20)
            write(old, pair[0])
            write(new, pair[1])
        our = ours("large%d" % args.large, old, new, args.cpu, args.window)
        print("%d MB pair: delta %d bytes; make %.1f s, peak %d MB (%d MB beyond the two files read whole); "
              "apply %.1f s, peak %d MB" % (args.large, our["size"], our["make"], our["make_peak_kb"] // 1024,
                                            our["make_kb"] // 1024, our["apply"], our["apply_kb"] // 1024))
    return 0 if held else 1


if __name__ == "__main__":
    sys.exit(main())
