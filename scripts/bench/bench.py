"""The speed and memory benchmark that scripts/bench.sh runs (see the README): the real
program and its operations against the native tools on the same data in the same run.

Every timed process (Wine's server, the display, the program, the driver, curl, unzip,
cp and the native steps) runs on one CPU; this script and the update server on another.
Data sets, generated once into <build>/bench:
  r200  2,000 files of 100 KB, half random, half text
  r10k  10,000 files of 1 KB, the same mix
  r400  400 files of 256 KiB, all random: large incompressible files
  r1g   one file of 1 GB, half random, half text (peak memory; run once)
Each is installed as an older revision under D:\\bench\\<set>\\CAD, and its update is a
self-extracting archive whose members mirror the installation from the drive root."""
import argparse
import fcntl
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import threading
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "e2e"))
import deltas  # noqa: E402
import deltaupdates  # noqa: E402
import updates  # noqa: E402  the tests' update layout: the stub and the Ver text
import zyn  # noqa: E402  the tests' window facts and drive D:

BUILD = zyn.BUILD
DATA = os.path.join(BUILD, "bench")
SETS = {"r200": (2000, 100_000), "r10k": (10_000, 1000), "r400": (400, 1 << 18), "r1g": (1, 1 << 30)}
RANDOM_ONLY = {"r400"}
RATE = 12_500_000  # 100 Mbit/s
MB = 1_000_000


def settle():
    """Writes back what earlier steps left in the page cache, which a timed step's first
    fsync would otherwise pay for; the cache stays warm."""
    subprocess.run(["sync"], check=True)


def run_pinned(cpu, args, **kwargs):
    return subprocess.run(["taskset", "-c", str(cpu)] + args, check=True, **kwargs)


# ---- data


def text_corpus(size=8 << 20):
    rng = random.Random(7)
    words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(5000)]
    text = " ".join(rng.choice(words) + ("\r\n" if rng.random() < 0.1 else "") for _ in range(size // 5))
    return text.encode()[:size]


def file_bytes(index, size, revision, corpus):
    """Even files random, odd ones text; another revision gives other bytes."""
    if index % 2 == 0:
        return os.urandom(size)
    out, at = bytearray(), (index * 7919 + revision * 104729) % len(corpus)
    while len(out) < size:
        piece = corpus[at:at + size - len(out)]
        out += piece
        at = (at + len(piece)) % len(corpus)
    return bytes(out)


def member_chunks(index, size, revision, corpus, chunk=16 << 20):
    """A file as pieces; one larger than a piece is half random, half text."""
    if size <= chunk:
        yield file_bytes(index, size, revision, corpus)
        return
    for start in range(0, size, chunk):
        n = min(chunk, size - start)
        yield file_bytes(0 if start < size // 2 else 1, n, revision + start, corpus)


def generate(name, corpus):
    """<build>/bench/<name>/old: the installed tree; srv/<name>: Ver3.5 and UPD350.EXE."""
    count, size = SETS[name]
    folder, done = os.path.join(DATA, name), os.path.join(DATA, name, "done")
    if os.path.exists(done):
        return
    print("generating %s ..." % name, flush=True)
    shutil.rmtree(folder, ignore_errors=True)
    cad = "bench/%s/CAD" % name
    old = os.path.join(folder, "old")
    for folder_number in range((count + 99) // 100):
        os.makedirs(os.path.join(old, "data", "%03d" % folder_number))
    with open(os.path.join(old, "Ver3.5"), "wb") as f:
        f.write(updates.ver_text("ravaZAZ", "3.5", 1))
    srv = os.path.join(DATA, "srv", name)
    os.makedirs(srv, exist_ok=True)
    with open(os.path.join(srv, "Ver3.5"), "wb") as f:
        f.write(updates.ver_text("ravaZAZ", "3.5", 2))
    with open(os.path.join(srv, "UPD350.EXE"), "wb") as out:
        out.write(updates.STUB)
        with zipfile.ZipFile(out, "a", zipfile.ZIP_DEFLATED, compresslevel=6 if size < MB else 1) as archive:
            archive.writestr(cad + "/Ver3.5", updates.ver_text("ravaZAZ", "3.5", 2))
            for i in range(count):
                # A hundred files a folder: under Wine each new name is looked up by reading its whole folder.
                member = "data/%03d/%05d.%s" % (i // 100, i, "txt" if i % 2 else "bin")
                with open(os.path.join(old, member), "wb") as installed, archive.open(cad + "/" + member, "w") as new:
                    parity = 0 if name in RANDOM_ONLY else i  # even files random
                    for old_piece, new_piece in zip(member_chunks(parity, size, 1, corpus),
                                                    member_chunks(parity, size, 2, corpus)):
                        installed.write(old_piece)
                        new.write(new_piece)
    open(done, "w").close()


# ---- the installation on drive D:


def place(name, port, folder=None, keys=None):
    """Installs the older revision afresh, with the program, its settings (with keys, the publisher's public
    key) and a data manager; the server's folder is the set's unless given."""
    base = zyn.linux_path("D:\\bench\\" + name)
    shutil.rmtree(base, ignore_errors=True)
    os.makedirs(os.path.join(base, "tmp"))
    subprocess.run(["cp", "-a", os.path.join(DATA, name, "old"), os.path.join(base, "CAD")], check=True)
    settings = {"FixDirUrl": "http://127.0.0.1:%d/%s/" % (port, folder or name), "FixFileName": "UPD", "Timeout": 60}
    if keys:
        settings["PublicKey"] = keys
    exe = zyn.install_program("D:\\bench\\%s\\CAD\\Update" % name, settings)
    shutil.copy(os.path.join(BUILD, "tools", "ZynImpDataManager.exe"), os.path.join(base, "CAD"))
    # The server's files in the page cache, as a server has them after its first client: the native
    # reference, which follows, would otherwise read them warm after the program read them cold.
    served = os.path.join(DATA, "srv", (folder or name).split("/")[-1])
    for entry in os.listdir(served):
        with open(os.path.join(served, entry), "rb") as f:
            while f.read(1 << 24):
                pass
    settle()
    return base, exe


def windows_paths(name):
    base = "D:\\bench\\%s\\" % name
    return base + "tmp\\UPD350_2.EXE", base + "tmp\\ZynUpdate\\", base + "CAD\\Update\\ZynUpdate.chm"


# ---- the real program and its operations


class PeakMemory(threading.Thread):
    """VmHWM of the Linux process whose command line starts with the Windows path given."""

    def __init__(self, exe):
        super().__init__(daemon=True)
        self.exe, self.peak_kb, self.stop = exe.encode(), 0, threading.Event()
        self.start()

    def run(self):
        pid = None
        while not self.stop.is_set():
            if pid is None:
                pid = next((p for p in os.listdir("/proc") if p.isdigit() and self.cmdline(p).startswith(self.exe)), None)
            else:
                try:
                    with open("/proc/%s/status" % pid) as f:
                        hwm = next(line for line in f if line.startswith("VmHWM:"))
                    self.peak_kb = max(self.peak_kb, int(hwm.split()[1]))
                except (OSError, StopIteration):
                    pid = None
            time.sleep(0.02)

    @staticmethod
    def cmdline(pid):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                return f.read()
        except OSError:
            return b""


class Helper:
    """The tests' window helper, pinned with the program it starts."""

    def __init__(self, cpu):
        self.process = subprocess.Popen(["taskset", "-c", str(cpu), "wine", os.path.join(BUILD, "tools", "winhelper.exe")],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def call(self, *words):
        self.process.stdin.write((" ".join(str(w) for w in words) + "\n").encode("cp932"))
        self.process.stdin.flush()
        result = json.loads(self.process.stdout.readline().decode("utf-8") or '{"error": "helper ended"}')
        if not result.get("ok"):
            raise RuntimeError("window helper: %s for %r" % (result.get("error"), words))
        return result

    def close(self):
        self.call("quit")
        self.process.wait(10)


def whole_update(cpu, name, port, folder=None, keys=None):
    """The real ZynUpdate.exe -AUTO: seconds from its start to its success box, and its peak KB."""
    base, exe = place(name, port, folder, keys)
    helper = Helper(cpu)
    try:
        for variable in ("TMP", "TEMP"):
            helper.call("setenv", variable, "D:\\bench\\%s\\tmp" % name)
        # Wine starts its desktop with the first window of a session; on Windows the shell
        # is always there. Asking for the windows starts it before the time runs.
        helper.call("windows")
        memory = PeakMemory(exe)
        start = time.perf_counter()
        helper.call("start", '"%s" -AUTO -HOME D:\\bench\\%s\\CAD' % (exe, name))
        done, deadline = None, start + 900
        while not helper.call("exitcode", 0)["exited"]:
            if time.perf_counter() > deadline:
                helper.call("kill")
                raise RuntimeError("%s: still running after 900 s" % name)
            boxes = [w for w in map(zyn.Window, helper.call("windows")["windows"]) if w.is_message_box and w.buttons]
            if boxes and "合番" in boxes[0].text:
                helper.call("click", boxes[0].hwnd, zyn.IDYES)
            elif boxes and "更新に成功しました" in boxes[0].text:
                done = done or time.perf_counter()
                helper.call("click", boxes[0].hwnd, zyn.IDOK)
            elif boxes:
                helper.call("kill")
                raise RuntimeError("%s: unexpected box %r" % (name, boxes[0].text))
            time.sleep(0.03)
        memory.stop.set()
        memory.join()
        if done is None:
            raise RuntimeError("%s: the update did not succeed (exit code %s)" % (name, helper.call("exitcode", 0)["code"]))
        # The data manager that a successful update starts writes its record into the CAD
        # folder; the next placement must not delete that folder while it does.
        record = os.path.join(base, "CAD", "ZynImpDataManager.args")
        while not os.path.exists(record) and time.perf_counter() < deadline:
            time.sleep(0.05)
        return done - start, memory.peak_kb
    finally:
        helper.close()


def operations(cpu, name, url, phases):
    """Seconds of each of the dialog's operations, each run by the driver after the one before."""
    update_file, work, help_file = windows_paths(name)
    times = {}
    for phase in phases:
        settle()
        out = run_pinned(cpu, ["wine", os.path.join(BUILD, "zynbench.exe"), url, update_file, work, help_file, phase],
                         stdout=subprocess.PIPE).stdout.decode("cp932", "replace")
        words = out.split()
        if len(words) != 3 or words[0] != phase or words[2] != "1":
            raise RuntimeError("%s: %s" % (name, out))
        times[phase] = float(words[1])
    return times


# ---- the same work natively


def timed(cpu, args):
    """Seconds and peak KB (VmHWM, as the program's) of a native tool."""
    settle()
    start, peak_kb = time.perf_counter(), 0
    process = subprocess.Popen(["taskset", "-c", str(cpu)] + args, stdout=subprocess.DEVNULL)
    while process.poll() is None:
        try:
            with open("/proc/%d/status" % process.pid) as f:
                peak_kb = max(peak_kb, int(next(line for line in f if line.startswith("VmHWM:")).split()[1]))
        except (OSError, StopIteration):
            pass
        time.sleep(0.005)
    if process.returncode not in (0, 1):  # unzip warns of the stub with 1
        raise RuntimeError("%s failed" % args)
    return time.perf_counter() - start, peak_kb


def native_steps(kind, work, cad):
    """Run pinned by the native reference: what the program's operation does, done directly."""
    files = [os.path.relpath(os.path.join(d, n), work) for d, _, names in os.walk(work) for n in names]
    start = time.perf_counter()
    for name in files:
        target = os.path.join(cad, name)
        if kind in ("inuse", "restore"):  # an exclusive open proves nobody holds it
            fd = os.open(target, os.O_RDWR)
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            os.close(fd)
    for name in files:
        target = os.path.join(cad, name)
        if kind == "inuse":
            continue
        source = os.path.join(work, name) if kind == "replace" else target + ".BAK1"
        shutil.copyfile(target, target + (".BAK1" if kind == "replace" else ".ORG"))
        with open(source, "rb") as src, open(target + ".tmp", "wb") as dst:
            shutil.copyfileobj(src, dst, 1 << 20)
            dst.flush()
            os.fsync(dst.fileno())
        os.replace(target + ".tmp", target)
        if kind == "restore":
            os.remove(source)
    return time.perf_counter() - start


def native(cpu, name, port, kinds=("inuse", "replace", "restore")):
    """The native tools on the same data: curl, unzip, cp -a and the file phases' own steps."""
    base = zyn.linux_path("D:\\bench\\" + name)
    archive, work, cad = os.path.join(base, "tmp", "UPD350.EXE"), os.path.join(base, "tmp", "work"), zyn.DRIVE_D
    url = "http://127.0.0.1:%d/%s/UPD350.EXE" % (port, name)
    result = {}
    result["download"], result["download_kb"] = timed(cpu, ["curl", "-sf", "-o", archive, url])
    result["extract"], _ = timed(cpu, ["unzip", "-qo", archive, "-d", work])
    result["copy"], _ = timed(cpu, ["cp", "-a", work + "/.", cad])
    if not kinds:
        return result
    place(name, port)
    subprocess.run(["unzip", "-qo", os.path.join(DATA, "srv", name, "UPD350.EXE"), "-d", work])
    script = [sys.executable, os.path.abspath(__file__), "--native-steps"]
    for kind in kinds:
        settle()
        out = run_pinned(cpu, script + [kind, work, cad], stdout=subprocess.PIPE).stdout
        result[kind] = float(out)
    return result


# ---- the table


def row(table, phase, now, ref, target, met, unit="s"):
    """now and ref: lists of samples (or None); met judges the medians."""
    def cell(samples):
        if not samples:
            return "-"
        return "%.2f / %.2f %s" % (min(samples), statistics.median(samples), unit) if unit == "s" \
            else "%.0f / %.0f %s" % (min(samples), statistics.median(samples), unit)
    mnow = statistics.median(now)
    mref = statistics.median(ref) if ref else None
    ratio = "%.2fx" % (mnow / mref) if mref else ""
    verdict = "-" if met is None else "yes" if met(mnow, mref) else "NO"
    table.append((phase, cell(now), cell(ref), ratio, target, verdict))


def print_table(table, runs):
    head = ("phase", "now (min / median)", "native reference (min / median)", "ratio", "target", "met")
    print("\n%d runs; ratio of the medians" % runs)
    deltas.print_rows(head, table)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cpu", type=int, required=True, help="the CPU of every timed process")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--skip-1g", action="store_true", help="leave out the 1 GB case")
    parser.add_argument("--delta-updates-only", action="store_true", help="only the full and delta updates")
    args = parser.parse_args()

    corpus = text_corpus()
    for name in SETS:
        if name != "r1g" or not args.skip_1g:
            generate(name, corpus)
    for name in deltaupdates.RELEASES:
        deltaupdates.prepare(name)
    server = subprocess.Popen([sys.executable, os.path.join(HERE, "server.py"), os.path.join(DATA, "srv")],
                              stdout=subprocess.PIPE)
    port = int(server.stdout.readline())
    samples = {}

    def add(key, value):
        samples.setdefault(key, []).append(value)

    try:
        for run in range(args.runs):
            print("run %d of %d ..." % (run + 1, args.runs), flush=True)
            deltaupdates.updates(whole_update, args.cpu, port, add)
            if args.delta_updates_only:
                continue
            for name, file_phases, bare in (("r200", ["inuse", "replace", "restore"], []),
                                            ("r10k", ["inuse"], ["bare-open", "bare-create"])):
                place(name, port)
                url = "http://127.0.0.1:%d/%s/UPD350.EXE" % (port, name)
                for phase, seconds in operations(args.cpu, name, url, ["download", "extract"] + file_phases + bare).items():
                    add((name, phase), seconds)
                for phase, value in native(args.cpu, name, port, file_phases).items():
                    add((name, "native " + phase), value)
            seconds, peak = whole_update(args.cpu, "r200", port)
            add(("r200", "whole"), seconds)
            add(("r200", "peak"), peak / 1000)
            add(("r400", "whole"), whole_update(args.cpu, "r400", port)[0])
            reference = native(args.cpu, "r400", port, ())
            add(("r400", "native whole"), reference["download"] + reference["extract"] + reference["copy"])
            place("r200", port)
            url = "http://127.0.0.1:%d/rate=%d/r200/UPD350.EXE" % (port, RATE)
            add(("r200", "limited"), operations(args.cpu, "r200", url, ["download"])["download"])
        if not args.skip_1g and not args.delta_updates_only:
            print("the 1 GB case ...", flush=True)
            seconds, peak = whole_update(args.cpu, "r1g", port)
            add(("r1g", "whole"), seconds)
            add(("r1g", "peak"), peak / 1000)
            reference = native(args.cpu, "r1g", port, ())
            add(("r1g", "native whole"), reference["download"] + reference["extract"] + reference["copy"])
            add(("r1g", "native peak"), reference["download_kb"] / 1000)
    finally:
        server.kill()
        server.wait()

    deltaupdates.print_table(samples)
    if args.delta_updates_only:
        return
    s = lambda name, key: samples[(name, key)]  # noqa: E731
    size = os.path.getsize(os.path.join(DATA, "srv", "r200", "UPD350.EXE"))
    native_whole = [d + e + c for d, e, c in zip(s("r200", "native download"), s("r200", "native extract"),
                                                s("r200", "native copy"))]
    table = []
    row(table, "whole r200 update (-AUTO)", s("r200", "whole"), native_whole, "at most 2x", lambda n, r: n <= 2 * r)
    row(table, "whole r400 update (-AUTO), random", s("r400", "whole"), s("r400", "native whole"), "at most 2x",
        lambda n, r: n <= 2 * r)
    speed = size / statistics.median(s("r200", "download")) / MB
    row(table, "download, loopback (%.0f MB)" % (size / MB), s("r200", "download"), s("r200", "native download"),
        "at least 120 MB/s (now %.0f MB/s)" % speed, lambda n, r: speed >= 120)
    row(table, "download at 100 Mbit/s", s("r200", "limited"), [size / RATE], "at most 1.05x", lambda n, r: n <= 1.05 * r)
    row(table, "extraction r200 (DLL)", s("r200", "extract"), s("r200", "native extract"), "at most 1x",
        lambda n, r: n <= r)
    row(table, "extraction r10k (DLL)", s("r10k", "extract"), s("r10k", "native extract"), "at most 1.5x",
        lambda n, r: n <= 1.5 * r)
    row(table, "  Wine alone: creating those files", s("r10k", "bare-create"), s("r10k", "native extract"),
        "(the floor under extraction)", None)
    row(table, "file-in-use check, 10,000 files", s("r10k", "inuse"), s("r10k", "native inuse"), "under 0.5 s",
        lambda n, r: n < 0.5)
    row(table, "  Wine alone: opening those files", s("r10k", "bare-open"), s("r10k", "native inuse"),
        "(the floor under the check)", None)
    row(table, "replacement with backups r200", s("r200", "replace"), s("r200", "native replace"), "at most 1.3x",
        lambda n, r: n <= 1.3 * r)
    row(table, "restore r200 (the dialog's)", s("r200", "restore"), s("r200", "native restore"), "at most 1.3x",
        lambda n, r: n <= 1.3 * r)
    row(table, "peak memory of the program, r200", s("r200", "peak"), s("r200", "native download_kb") and
        [kb / 1000 for kb in s("r200", "native download_kb")], "at most 64 MB", lambda n, r: n <= 64, "MB")
    if not args.skip_1g:
        row(table, "whole 1 GB update (-AUTO)", s("r1g", "whole"), s("r1g", "native whole"), "(for reference)", None)
        row(table, "peak memory of the program, 1 GB", s("r1g", "peak"), s("r1g", "native peak"), "at most 64 MB",
            lambda n, r: n <= 64, "MB")
    print_table(table, args.runs)
    print("every sample, in run order (seconds; peaks in MB, *_kb in KB):")
    for (name, key), values in sorted(samples.items()):
        print("  %s %s: %s" % (name, key, " ".join("%.2f" % v for v in values)))
    print("native references: curl, unzip, cp -a; the file phases' steps in Python; peak memory's is curl's")
    print("Wine alone: the same files' bare Win32 calls in a loop (create, write, time and close; an exclusive "
          "open and close), without the program")


if __name__ == "__main__":
    if sys.argv[1:2] == ["--native-steps"]:
        print(native_steps(*sys.argv[2:5]))
    else:
        main()
