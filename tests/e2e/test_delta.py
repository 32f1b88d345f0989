"""Delta releases end to end: the real ZynPublish.exe writes, beside the whole archive, one of binary deltas
from the last release, for a rebuilt DLL, an edited steel table and a model library with a few blocks
rewritten; the real ZynUpdate.exe installs from it byte for byte, and falls back to the whole archive when an
installed file is not the one its delta was made against, or the delta archive is not the signed one."""
import os
import sys
import unittest

from cryptography.hazmat.primitives.asymmetric import ec

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "bench"))
import deltas  # noqa: E402
import zyn  # noqa: E402
from test_backup import restore_through_the_dialog  # noqa: E402
from test_publish import lay_out, public_key, publish, tree  # noqa: E402
from test_silent import silent  # noqa: E402
from update_server import UpdateServer  # noqa: E402

PAIRS = {"dll": "CAD/bin/zyncad.dll", "table": "CAD/データ/形鋼.csv", "model": "CAD/lib/model.lib"}
DELTAS = "UPD350_1.DLT"
FALLBACK = "差分更新ﾌｧｲﾙを使用できないため、更新ﾌｧｲﾙ全体をﾀﾞｳﾝﾛｰﾄﾞします"


def pair_trees():
    """The last release's tree and the new one, from the benchmark's three pairs, a file that stays and one
    that comes."""
    old = {"CAD/Ver3.5": b"(No.1)\r\n", "CAD/bin/same.dll": b"unchanged"}
    new = dict(old, **{"CAD/Ver3.5": b"(No.2)\r\n", "CAD/bin/added.txt": b"new file"})
    for name in deltas.generate():
        for files, suffix in ((old, ".old"), (new, ".new")):
            with open(os.path.join(deltas.DATA, name + suffix), "rb") as f:
                files[PAIRS[name]] = f.read()
    return old, new


def installed():
    """The installed tree without the program, its backups and a restore's safety copies."""
    return {name: data for name, data in tree("D:\\CAD").items()
            if ".BAK" not in name and not name.endswith(".ORG") and not name.startswith("Update")}


class DeltaRelease(unittest.TestCase):
    def setUp(self):
        zyn.clear_drive()
        self.server = UpdateServer(zyn.DRIVE_D).start()
        self.addCleanup(self.server.stop)
        old, new = pair_trees()
        lay_out("D:\\pub\\r1", old)
        lay_out("D:\\pub\\r2", new)
        for folder in ("D:\\srv", "D:\\log"):
            os.makedirs(zyn.linux_path(folder))
        self.assertEqual(publish("keygen", "D:\\pub\\k.key")[0], 0)
        for revision, previous in ((1, []), (2, ["--previous", "D:\\pub\\r1"])):
            code, output = publish("release", "--server", "D:\\srv", "--version", "3.5", "--revision", str(revision),
                                   "--key", "D:\\pub\\k.key", "--product", "ravaZAZ",
                                   "--files", "D:\\pub\\r%d" % revision, *previous)
            self.assertEqual(code, 0, output)
        self.served = tree("D:\\srv")
        self.old = {name[4:]: data for name, data in old.items()}
        self.new = {name[4:]: data for name, data in dict(new, **{"CAD/Ver3.5": self.served["Ver3.5"]}).items()}
        lay_out("D:\\", old)
        key = ec.derive_private_key(int.from_bytes(zyn.read_file("D:\\pub\\k.key")[-32:], "big"), ec.SECP256R1())
        url = self.server.url("srv/")
        self.exe = zyn.install_program(settings={"FixDirUrl": url, "FixFileName": "UPD", "AppName": "ravaZAZ",
                                                 "DoviFixDirUrl": url, "DoviFixFileName": "UPD",
                                                 "PublicKey": public_key(key), "DoviPublicKey": public_key(key)})

    def downloaded(self):
        return [path.rsplit("/", 1)[1] for path, _ in self.server.requests if path.endswith((".DLT", ".EXE"))]

    def update_silently(self):
        """The update's exit code and the lines of its log that tell of the fallback."""
        code, lines = silent(self, self.exe, ["-HOME", "D:\\CAD"])
        return code, [line for line in lines if FALLBACK in line]

    def test_a_delta_update_is_exact_and_small_and_one_restore_gives_back_the_old_tree(self):
        manifest = self.served["Ver3.5.sig"].decode().splitlines()
        self.assertEqual(manifest[-2].split(" ")[:2], ["delta=" + DELTAS, "1"])
        self.assertLess(len(self.served[DELTAS]), 0.08 * len(self.served["UPD350.EXE"]))
        with zyn.Program(self.exe, ["-AUTO", "-HOME", "D:\\CAD"]) as program:
            self.assertEqual(program.run_to_end([("合番", "Yes"), ("更新に成功しました", "OK")], others="first"), 0)
        self.assertEqual(installed(), self.new)
        self.assertEqual(self.downloaded(), [DELTAS])
        self.assertFalse([name for name in tree("D:\\tmp") if name.endswith(".DLT")])  # used up
        with zyn.Program(self.exe, ["-HOME", "D:\\CAD"]) as program:
            restore_through_the_dialog(program)
        self.assertEqual(installed(), self.old)

    def test_a_locally_changed_installed_file_falls_back_to_the_whole_archive(self):
        table = "D:\\" + PAIRS["table"].replace("/", "\\")
        zyn.write_file(table, zyn.read_file(table).replace(b"SS400", b"SS490", 1))
        code, noted = self.update_silently()
        self.assertEqual((code, self.downloaded(), installed()), (0, [DELTAS, "UPD350.EXE"], self.new))
        self.assertEqual(len(noted), 1, noted)
        self.assertIn("差分の元のﾌｧｲﾙと異なります", noted[0])

    def test_a_delta_archive_that_is_not_the_signed_one_is_never_applied(self):
        damaged = bytearray(self.served[DELTAS])
        damaged[len(damaged) // 2] ^= 1
        zyn.write_file("D:\\srv\\" + DELTAS, bytes(damaged))
        code, noted = self.update_silently()
        self.assertEqual((code, self.downloaded(), installed()), (0, [DELTAS, "UPD350.EXE"], self.new))
        self.assertEqual(len(noted), 1, noted)


if __name__ == "__main__":
    unittest.main()
