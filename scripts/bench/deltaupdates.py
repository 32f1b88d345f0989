"""The benchmark's delta updates: two releases published by the real ZynPublish.exe, once with a delta
archive from the installed revision (--previous) and once without, installed by the real ZynUpdate.exe
-AUTO over links of 100 and 10 Mbit/s. Sets, made once into <build>/bench/<set>:
  pairs  the delta table's three file pairs (a rebuilt DLL, an edited steel table, a model library with
         blocks rewritten), with a Ver file and a file that stays
  r200d  the r200 release, 5 % of its files changed slightly: three runs of 16 bytes rewritten in each
Both server folders hold only the files changed since the installed revision, as a release built on the
last one does; the delta one adds the delta archive that the signed manifest announces."""
import base64
import os
import random
import shutil
import statistics
import subprocess
import time

import deltas
import zyn

BUILD = os.environ["ZYN_BUILD"]
DATA = os.path.join(BUILD, "bench")
KEY = os.path.join(DATA, "publisher.key")
RATES = {"100 Mbit/s": 12_500_000, "10 Mbit/s": 1_250_000}
PAIR_NAMES = {"dll": "bin/zyncad.dll", "table": "データ/形鋼.csv", "model": "lib/model.lib"}
RELEASES = {"pairs": "the three pairs", "r200d": "r200, 5 % changed"}


def zynpublish(*words):
    run = subprocess.run(["wine", os.path.join(BUILD, "ZynPublish.exe")] + list(words), capture_output=True)
    if run.returncode != 0:
        raise RuntimeError("ZynPublish %s: %s" % (" ".join(words), (run.stdout + run.stderr).decode("utf-8", "replace")))


def public_key():
    """The PublicKey setting for the publisher's key: X and Y of CNG's private key blob, after its 8-byte
    header."""
    with open(KEY, "rb") as f:
        return base64.b64encode(f.read()[8:72]).decode()


def link_tree(source, target):
    """target gets source's files as hard links: the trees share their bytes."""
    for folder, _, names in os.walk(source):
        os.makedirs(os.path.join(target, os.path.relpath(folder, source)), exist_ok=True)
        for name in names:
            os.link(os.path.join(folder, name), os.path.join(target, os.path.relpath(folder, source), name))


def change_slightly(path, rng):
    """Three runs of 16 bytes rewritten: a corrected figure or a patched constant."""
    with open(path, "r+b") as f:
        data = bytearray(f.read())
        for _ in range(3):
            at = rng.randrange(len(data) - 16)
            data[at:at + 16] = bytes(rng.randrange(0x30, 0x7a) for _ in range(16))
        f.seek(0)
        f.write(data)


def make_trees(name, folder):
    """folder/old: the installed tree; folder/new: the next revision's, sharing the files that stay."""
    old, new = os.path.join(folder, "old"), os.path.join(folder, "new")
    if name == "pairs":
        os.makedirs(old)
        for pair in deltas.generate():
            for tree, end in ((old, ".old"), (new, ".new")):
                os.makedirs(os.path.dirname(os.path.join(tree, PAIR_NAMES[pair])), exist_ok=True)
                shutil.copyfile(os.path.join(deltas.DATA, pair + end), os.path.join(tree, PAIR_NAMES[pair]))
        with open(os.path.join(old, "bin", "same.dll"), "wb") as f:
            f.write(b"\x90" * 100_000)
        os.link(os.path.join(old, "bin", "same.dll"), os.path.join(new, "bin", "same.dll"))
    else:  # r200d: the r200 set's installed tree
        link_tree(os.path.join(DATA, "r200", "old"), old)
        link_tree(old, new)
        rng = random.Random(200)
        for i in range(0, 2000, 20):
            member = os.path.join(new, "data", "%03d" % (i // 100), "%05d.%s" % (i, "txt" if i % 2 else "bin"))
            shutil.copyfile(member, member + ".tmp")  # no longer the installed file's bytes
            os.replace(member + ".tmp", member)
            change_slightly(member, rng)
    for tree, revision in ((old, 1), (new, 2)):
        if os.path.exists(os.path.join(tree, "Ver3.5")):  # a link to another tree's
            os.remove(os.path.join(tree, "Ver3.5"))
        with open(os.path.join(tree, "Ver3.5"), "wb") as f:
            f.write(("ravaZAZ Ver3.5 更新内容 (No.%d)\r\n" % revision).encode("cp932"))


def prepare(name):
    """<build>/bench/<name>/old, and srv/<name>-full and srv/<name>-delta as ZynPublish leaves them."""
    folder = os.path.join(DATA, name)
    done = os.path.join(folder, "done")
    # The manifests expire after 180 days: published again well before.
    if os.path.exists(done) and time.time() - os.path.getmtime(done) < 90 * 86400:
        return
    print("publishing %s ..." % name, flush=True)
    shutil.rmtree(folder, ignore_errors=True)
    if not os.path.exists(KEY):
        zynpublish("keygen", deltas.windows_path(KEY))
    make_trees(name, os.path.join(folder, "trees"))
    # The publisher's trees mirror the installation from the drive root: D:\bench\<name>\CAD.
    for tree in ("old", "new"):
        link_tree(os.path.join(folder, "trees", tree), os.path.join(folder, "pub", tree, "bench", name, "CAD"))
    os.rename(os.path.join(folder, "trees", "old"), os.path.join(folder, "old"))
    pub = lambda tree: deltas.windows_path(os.path.join(folder, "pub", tree))  # noqa: E731
    release = ["release", "--version", "3.5", "--key", deltas.windows_path(KEY), "--product", "ravaZAZ"]
    for kind in ("full", "delta"):
        server = os.path.join(DATA, "srv", "%s-%s" % (name, kind))
        shutil.rmtree(server, ignore_errors=True)
        os.makedirs(server)
        previous = ["--previous", pub("old")] if kind == "delta" else []
        zynpublish(*release, "--server", deltas.windows_path(server), "--revision", "2", "--files", pub("new"),
                   "--base", pub("old"), *previous)
    open(done, "w").close()


def wire_bytes(name, kind):
    """The archive that the update downloads: the whole one, or the delta archive."""
    server = os.path.join(DATA, "srv", "%s-%s" % (name, kind))
    archive = [n for n in os.listdir(server) if n.endswith(".DLT")] if kind == "delta" else ["UPD350.EXE"]
    return os.path.getsize(os.path.join(server, archive[0]))


def updates(whole_update, cpu, port, add):
    """Each set's whole update, full and delta, at each rate: add((set, "<kind> <rate>"), seconds)."""
    for name in RELEASES:
        for kind in ("full", "delta"):
            for rate_name, rate in RATES.items():
                seconds, _ = whole_update(cpu, name, port, "rate=%d/%s-%s" % (rate, name, kind), public_key())
                # The whole archive stays in the temporary folder; the delta archive never does.
                whole = os.path.exists(zyn.linux_path("D:\\bench\\%s\\tmp\\UPD350_2.EXE" % name))
                if whole != (kind == "full"):
                    raise RuntimeError("%s: the %s update %s the whole archive" % (
                        name, kind, "downloaded" if whole else "did not download"))
                add((name, "%s %s" % (kind, rate_name)), seconds)


def print_table(samples):
    head = ("release", "link", "full: bytes", "full: whole update", "delta: bytes", "delta: whole update", "ratio")
    rows = []
    for name, title in RELEASES.items():
        for rate_name in RATES:
            full = statistics.median(samples[(name, "full " + rate_name)])
            delta = statistics.median(samples[(name, "delta " + rate_name)])
            rows.append((title, rate_name, "%.0f KB" % (wire_bytes(name, "full") / 1000),
                         "%.2f s" % full, "%.1f KB" % (wire_bytes(name, "delta") / 1000), "%.2f s" % delta,
                         "%.1fx faster" % (full / delta)))
    print("\ndelta updates: medians of the whole update (-AUTO, start to success box)")
    deltas.print_rows(head, rows)
