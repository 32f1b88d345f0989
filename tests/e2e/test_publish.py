"""Signed releases end to end: the real ZynPublish.exe makes them, the real ZynUpdate.exe installs them, and
refuses every forgery with a message of its own and the installation unchanged."""
import base64
import datetime
import io
import os
import shutil
import subprocess
import sys
import unittest
import zipfile

from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, utils

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
import zyn  # noqa: E402
from update_server import UpdateServer  # noqa: E402

BASE = {"CAD/Ver3.5": b"(No.1)\r\n", "CAD/bin/a.dll": b"a1", "CAD/bin/b.dll": b"b1", "CAD/\u8868\u793a/k.txt": b"k"}
NEW = dict(BASE, **{"CAD/Ver3.5": b"(No.2)\r\n", "CAD/bin/a.dll": b"a2", "CAD/\u8868\u793a/\u8868.txt": b"new"})
REFUSED = "更新情報の署名を検証できませんでした\n更新は行いません (%s)"


def publish(*args):
    """ZynPublish.exe run with args; its exit code and its output (stdout and stderr)."""
    run = subprocess.run(["wine", os.path.join(zyn.BUILD, "ZynPublish.exe")] + list(args), capture_output=True,
                         timeout=120)
    return run.returncode, (run.stdout + run.stderr).decode("utf-8", "replace")


def lay_out(root, files):
    for name, data in files.items():
        zyn.write_file(root + "\\" + name.replace("/", "\\"), data)


def tree(root):
    top = zyn.linux_path(root)
    return {os.path.relpath(os.path.join(d, n), top): open(os.path.join(d, n), "rb").read()
            for d, _, names in os.walk(top) for n in names}


def public_key(private):
    numbers = private.public_key().public_numbers()
    return base64.b64encode(numbers.x.to_bytes(32, "big") + numbers.y.to_bytes(32, "big")).decode()


def sign(fields, private):
    """A manifest made without ZynPublish: the fields in order, signed by Python's cryptography package."""
    body = "".join("%s=%s\n" % field for field in fields).encode()
    r, s = utils.decode_dss_signature(private.sign(body, ec.ECDSA(hashes.SHA256())))
    return body + b"signature=" + base64.b64encode(r.to_bytes(32, "big") + s.to_bytes(32, "big")) + b"\n"


class SignedRelease(unittest.TestCase):
    def setUp(self):
        zyn.clear_drive()
        self.server = UpdateServer(zyn.DRIVE_D).start()
        self.addCleanup(self.server.stop)
        lay_out("D:\\pub\\base", BASE)
        lay_out("D:\\pub\\new", NEW)
        os.makedirs(zyn.linux_path("D:\\srv"))
        zyn.write_file("D:\\pub\\notes.txt", "・形鋼の断面を追加\n".encode("utf-8"))
        self.assertEqual(publish("keygen", "D:\\pub\\k.key")[0], 0)
        code, output = publish("keygen", "D:\\pub\\k.key")  # never overwritten
        self.assertEqual((code, "never overwritten" in output), (1, True))
        # ZynPublish's key file is CNG's private key blob: d is its last 32 bytes.
        self.key = ec.derive_private_key(int.from_bytes(zyn.read_file("D:\\pub\\k.key")[-32:], "big"), ec.SECP256R1())
        self.release(1, "--files", "D:\\pub\\base")
        self.first = tree("D:\\srv")
        self.release(2, "--files", "D:\\pub\\new", "--base", "D:\\pub\\base", "--notes", "D:\\pub\\notes.txt")
        self.genuine = tree("D:\\srv")
        lay_out("D:\\", BASE)
        self.exe = self.install(public_key(self.key))

    def release(self, revision, *args, code=0, message="signed"):
        result = publish("release", "--server", "D:\\srv", "--version", "3.5", "--revision", str(revision),
                         "--key", "D:\\pub\\k.key", *args)
        self.assertEqual((result[0], message in result[1]), (code, True), result[1])

    def install(self, keys, mode_0_keys=None):
        url = self.server.url("srv/")
        return zyn.install_program(settings={"FixDirUrl": url, "FixFileName": "UPD", "PublicKey": mode_0_keys or keys,
                                             "DoviFixDirUrl": url, "DoviFixFileName": "UPD", "DoviPublicKey": keys})

    def serve(self, files):
        shutil.rmtree(zyn.linux_path("D:\\srv"))
        for name, data in files.items():
            if data is not None:
                zyn.write_file("D:\\srv\\" + name, data)

    def check(self, code, mode=()):
        with zyn.Program(self.exe, list(mode) + ["-CHECK", "-HOME", "D:\\CAD"]) as program:
            self.assertEqual(program.run_to_end(), code)

    def test_a_signed_update_installs_exactly_the_changed_files(self):
        with zipfile.ZipFile(io.BytesIO(self.genuine["UPD350.EXE"])) as archive:
            members = {i.filename.encode("cp437").decode("cp932"): archive.read(i) for i in archive.infolist()}
        self.assertEqual(members, {name: data for name, data in NEW.items() if BASE.get(name) != data})
        self.assertEqual(self.genuine["Ver3.5"], "(No.1)\r\n(No.2)\r\n・形鋼の断面を追加\r\n".encode("cp932"))
        self.assertEqual(self.first["Ver3.5.sig"][:23], b"version=3.5\nrevision=1\n")
        zyn.write_file("D:\\x\\UPD350.EXE", self.genuine["UPD350.EXE"])  # run by hand, it extracts beside itself
        subprocess.run(["wine", zyn.linux_path("D:\\x\\UPD350.EXE")], capture_output=True, timeout=60, check=True)
        self.assertEqual(tree("D:\\x"), dict(members, **{"UPD350.EXE": self.genuine["UPD350.EXE"]}))
        with zyn.Program(self.exe, ["-AUTO", "-HOME", "D:\\CAD"]) as program:
            program.run_to_end([("合番", "Yes"), ("更新に成功しました", "OK")], others="first")
        installed = {name: data for name, data in tree("D:\\CAD").items() if ".BAK" not in name and "Update" not in name}
        self.assertEqual(installed, {name[4:]: data for name, data in NEW.items()})
        self.serve(self.first)  # an older signed release replayed: nothing newer
        self.check(0)

    def test_every_forgery_is_refused_and_nothing_changes(self):
        self.check(2)
        ver, manifest = self.genuine["Ver3.5"], self.genuine["Ver3.5.sig"]
        fields = [tuple(line.split("=", 1)) for line in manifest.decode().splitlines()[:-1]]

        def signed(key=self.key, **changes):
            return sign([(k, changes.get(k.replace("-", "_"), v)) for k, v in fields], key)

        other = ec.generate_private_key(ec.SECP256R1())
        past = (datetime.datetime.now(datetime.timezone.utc) - datetime.timedelta(minutes=1)).strftime("%Y-%m-%dT%H:%M:%SZ")
        # A manifest made without ZynPublish verifies with the second of two keys. Mode 1 reads its own keys
        # (mode 0 has none that fit here).
        self.exe = self.install(public_key(other) + "," + public_key(self.key), mode_0_keys=public_key(other))
        self.serve(dict(self.genuine, **{"Ver3.5.sig": signed(notes="x")}))
        self.check(2, ["-DOVI"])
        cases = [  # what the server holds instead, the reason shown
            ({"Ver3.5": ver + b"x"}, "更新内容不一致"),
            ({"Ver3.5": ver.replace(b"No.2", b"No.3")}, "ﾘﾋﾞｼﾞｮﾝ不一致"),
            ({"Ver3.5.sig": manifest.replace(b"length=", b"length=1")}, "署名不一致"),
            ({"Ver3.5.sig": signed(ec.generate_private_key(ec.SECP256R1()))}, "署名不一致"),
            ({"Ver3.5.sig": signed(version="3.6")}, "ﾊﾞｰｼﾞｮﾝ不一致"),
            ({"Ver3.5.sig": signed(expires=past)}, "有効期限切れ"),
            ({"Ver3.5.sig": signed(file="UPD360.EXE")}, "更新ﾌｧｲﾙ名不一致"),
            ({"Ver3.5.sig": b"j" * (1 << 20)}, "署名ﾌｧｲﾙ形式不正"),
            ({"Ver3.5.sig": None}, "署名ﾌｧｲﾙなし"),
        ]
        installed = tree("D:\\CAD")
        for changes, reason in cases:
            self.serve(dict(self.genuine, **changes))
            self.check(0, ["-DOVI"])
            with zyn.Program(self.exe, ["-DOVI", "-HOME", "D:\\CAD"]) as program:
                self.assertEqual(program.expect_box("(%s)" % reason).text, REFUSED % reason)
                program.call("command", program.wait_dialog().hwnd, zyn.IDCANCEL)
                self.assertEqual(program.wait_exit(), 0)
        update = self.genuine["UPD350.EXE"]
        for forged in (update[:-1] + bytes([update[-1] ^ 1]), update + b"x" * 1000):  # one byte altered, too long
            self.serve(dict(self.genuine, **{"UPD350.EXE": forged}))
            with zyn.Program(self.exe, ["-DOVI", "-AUTO", "-HOME", "D:\\CAD"]) as program:
                program.run_to_end([("更新ﾌｧｲﾙが署名された内容と一致しません", "OK"), ("更新を中断しました", "OK")])
        with zyn.Program(self.exe, ["-DOVI", "-AUTO", "-HOME", "D:\\CAD"]) as program:  # unattended: nothing either
            program.run_to_end(others="first")
        self.assertEqual(program.boxes[-1].text, "更新を中断しました")
        self.assertEqual(tree("D:\\CAD"), installed)
        self.assertEqual(os.listdir(zyn.linux_path("D:\\tmp")), [])
        self.exe = zyn.install_program(settings={"FixDirUrl": self.server.url("srv/"), "FixFileName": "UPD"})
        self.check(2)  # without a key, releases are taken unsigned as ever
        self.exe = self.install(public_key(other) + "," + public_key(self.key), mode_0_keys=public_key(other))
        zyn.write_file("D:\\tmp\\UPD350_2.EXE", b"forged")  # a kept file that is not the release is fetched again
        self.serve(self.genuine)
        with zyn.Program(self.exe, ["-DOVI", "-AUTO", "-HOME", "D:\\CAD"]) as program:
            program.run_to_end([("既に更新ﾌｧｲﾙ", "No"), ("更新に成功しました", "OK")], others="first")
        self.assertEqual(zyn.read_file("D:\\tmp\\UPD350_2.EXE"), update)

    def test_the_publisher_refuses_bad_input_and_leaves_the_folder_as_it_was(self):
        lay_out("D:\\pub\\long", {"CAD/" + "d" * 200 + "/" + "f" * 60: b"x"})
        lay_out("D:\\pub\\emoji", {"CAD/\U0001F600.txt": b"x"})
        zyn.write_file("D:\\pub\\no.txt", b"see No.5)\n")
        cases = [  # the revision, the options, what the message says
            (3, ["--files", "D:\\pub\\none"], "does not exist"),
            (3, ["--files", "D:\\pub\\new", "--key", "D:\\pub\\notes.txt"], "cannot read a private key"),
            (2, ["--files", "D:\\pub\\new"], "revision 2 is not above revision 2"),
            (3, ["--files", "D:\\pub\\long"], "does not fit in 260 bytes"),
            (3, ["--files", "D:\\pub\\emoji"], "cannot be written in code page 932"),
            (3, ["--files", "D:\\pub\\new", "--notes", "D:\\pub\\no.txt"], "must not contain"),
            (3, ["--files", "D:\\pub\\new", "--base", "D:\\pub\\new"], "no file to publish"),
            (3, ["--files", "D:\\pub\\new", "--key", ""], "give --key"),  # unsigned over signed
        ]
        for revision, args, message in cases:
            self.release(revision, *args, code=1, message=message)
            self.assertEqual(tree("D:\\srv"), self.genuine)


if __name__ == "__main__":
    unittest.main()
