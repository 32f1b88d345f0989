"""Signed releases end to end: the real ZynPublish.exe makes them, release after release (Authenticode-signed
too), the real ZynUpdate.exe installs them, and refuses every forgery with a message of its own and the
installation unchanged."""
import base64
import datetime
import hashlib
import io
import os
import pathlib
import shutil
import subprocess
import sys
import unittest
import zipfile

from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, utils

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
import zyn  # noqa: E402
from test_backup import restore_through_the_dialog  # noqa: E402
from update_server import UpdateServer  # noqa: E402

BASE = {"CAD/Ver3.5": b"(No.1)\r\n", "CAD/bin/a.dll": b"a1", "CAD/bin/b.dll": b"b1", "CAD/\u8868\u793a/k.txt": b"k"}
NEW = dict(BASE, **{"CAD/Ver3.5": b"(No.2)\r\n", "CAD/bin/a.dll": b"a2", "CAD/\u8868\u793a/\u8868.txt": b"new"})
REFUSED = "更新情報の署名を検証できませんでした\n更新は行いません (%s)"
KEYS = ["version", "revision", "ver-sha256", "file", "length", "sha256", "expires", "product"]


def publish(*args):
    """ZynPublish.exe run with args; its exit code and its output (stdout and stderr)."""
    run = subprocess.run(["wine", os.path.join(zyn.BUILD, "ZynPublish.exe")] + list(args), capture_output=True,
                         timeout=120)
    return run.returncode, (run.stdout + run.stderr).decode("utf-8", "replace")


def lay_out(root, files):
    for name, data in files.items():
        zyn.write_file(root + "\\" + name.replace("/", "\\"), data)


def tree(root):
    top = pathlib.Path(zyn.linux_path(root))
    return {str(path.relative_to(top)): path.read_bytes() for path in top.rglob("*") if path.is_file()}


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
        self.assertEqual((code, "never overwritten" in output), (1, True), output)
        # ZynPublish's key file is CNG's private key blob: d is its last 32 bytes.
        self.key = ec.derive_private_key(int.from_bytes(zyn.read_file("D:\\pub\\k.key")[-32:], "big"), ec.SECP256R1())
        self.release(1, "--files", "D:\\pub\\base")
        self.first = tree("D:\\srv")
        self.release(2, "--files", "D:\\pub\\new", "--base", "D:\\pub\\base", "--notes", "D:\\pub\\notes.txt")
        self.genuine = tree("D:\\srv")
        lay_out("D:\\", BASE)
        self.exe = self.install(public_key(self.key))

    def release(self, revision, *args, code=0, message="signed", signed=True):
        key = ["--key", "D:\\pub\\k.key", "--product", "ravaZAZ"] if signed else []
        result = publish("release", "--server", "D:\\srv", "--version", "3.5", "--revision", str(revision), *key, *args)
        self.assertEqual((result[0], message in result[1]), (code, True), result[1])
        return result[1]

    def install(self, keys, mode_0_keys=None):
        url = self.server.url("srv/")
        settings = {"FixDirUrl": url, "FixFileName": "UPD", "AppName": "ravaZAZ", "DoviFixDirUrl": url,
                    "DoviFixFileName": "UPD"}
        return zyn.install_program(settings=dict(settings, PublicKey=mode_0_keys or keys, DoviPublicKey=keys)
                                   if keys else settings)

    def update(self):
        with zyn.Program(self.exe, ["-AUTO", "-HOME", "D:\\CAD"]) as program:
            program.run_to_end([("合番", "Yes"), ("更新に成功しました", "OK")], others="first")
        return {name: data for name, data in tree("D:\\CAD").items() if ".BAK" not in name and "Update" not in name}

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
        ver = self.genuine["Ver3.5"]
        self.assertEqual(ver, "(No.1)\r\n(No.2)\r\n・形鋼の断面を追加\r\n".encode("cp932"))
        # What changed, and the installed Ver file as the server has it: installed, the revision is the server's.
        self.assertEqual(members, dict({name: data for name, data in NEW.items() if BASE.get(name) != data},
                                       **{"CAD/Ver3.5": ver}))
        self.assertEqual(self.first["Ver3.5.sig"][:23], b"version=3.5\nrevision=1\n")
        zyn.write_file("D:\\x\\UPD350.EXE", self.genuine["UPD350.EXE"])  # run by hand, it extracts beside itself
        subprocess.run(["wine", zyn.linux_path("D:\\x\\UPD350.EXE")], capture_output=True, timeout=60, check=True)
        self.assertEqual(tree("D:\\x"), dict(members, **{"UPD350.EXE": self.genuine["UPD350.EXE"]}))
        self.assertEqual(self.update(), {name[4:]: data for name, data in dict(NEW, **{"CAD/Ver3.5": ver}).items()})
        self.check(0)
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
            ({"Ver3.5.sig": signed(product="ホルビア")}, "製品不一致"),  # one key, two products
            ({"Ver3.5.sig": sign([f for f in fields if f[0] != "product"], self.key)}, "署名ﾌｧｲﾙ形式不正"),
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
        shutil.copytree(os.path.join(zyn.BUILD, "tools"), zyn.linux_path("D:\\tools"))
        lay_out("D:\\pub\\long", {"CAD/Ver3.5": b"", "CAD/" + "d" * 200 + "/" + "f" * 60: b"x"})
        lay_out("D:\\pub\\emoji", {"CAD/Ver3.5": b"", "CAD/\U0001F600.txt": b"x"})
        lay_out("D:\\pub\\twice", dict(NEW, **{"CAD/old/VER3.5": b""}))
        lay_out("D:\\pub\\nover", {"CAD/a.dll": b"x"})
        lay_out("D:\\pub\\less", {name: data for name, data in NEW.items() if name != "CAD/bin/b.dll"})
        zyn.write_file("D:\\pub\\no.txt", b"see No.5)\n")
        zyn.write_file("D:\\pub\\huge.txt", b"x" * 140000)
        new, exitcode = ["--files", "D:\\pub\\new"], "D:\\tools\\exitcode.exe"
        fields = [tuple(line.split("=", 1)) for line in self.genuine["Ver3.5.sig"].decode().splitlines()[:-1]]
        cases = [  # what the server holds instead, the revision, the options, what the message says
            ({}, 3, ["--files", "D:\\pub\\none"], "does not exist"),
            ({}, 3, new + ["--key", "D:\\pub\\notes.txt"], "cannot read a private key"),
            ({}, 2, new, "revision 2 is not above revision 2"),
            ({}, 3, ["--files", "D:\\pub\\long"], "does not fit in 260 bytes"),
            ({}, 3, ["--files", "D:\\pub\\emoji"], "cannot be written in code page 932"),
            ({}, 3, ["--files", "D:\\pub\\twice"], "one Ver3.5 file, the installed one; it holds CAD/Ver3.5, CAD/old/V"),
            ({}, 3, ["--files", "D:\\pub\\nover"], "it holds none"),
            ({}, 3, new + ["--notes", "D:\\pub\\no.txt"], "must not contain"),
            ({}, 3, new + ["--notes", "D:\\pub\\huge.txt"], "more than the 131070 that clients read: shorten"),
            ({}, 3, new + ["--base", "D:\\pub\\new"], "nothing to publish"),
            ({}, 3, new + ["--expires", "0"], "from 1 to 730 days"),
            ({}, 3, new + ["--expires", "731"], "from 1 to 730 days"),
            ({}, 3, new + ["--product", ""], "--product and --key go together"),
            ({}, 3, new + ["--product", "ravaZAZ "], "no blank at either end"),
            ({"Ver3.5": self.genuine["Ver3.5"] + b"(No.999999999)\r\n"}, 3, new, "is not the text that Ver3.5.sig"),
            ({"Ver3.5.sig": sign(fields, ec.generate_private_key(ec.SECP256R1()))}, 3, new, "not this key's manifest"),
            ({"UPD350.EXE": b"x"}, 3, new + ["--base", "D:\\pub\\base"], "is not the archive that Ver3.5.sig signs"),
            ({"Ver3.5a": b"(No.1)\r\n"}, 3, new, "versions 3.5 and 3.5a cannot share a server folder"),
            ({}, 3, new + ["--sign-command", exitcode + " 3 {}"], "the sign command failed (exit code 3)"),
            ({}, 3, new + ["--sign-command", "echo junk>>{}"], "the updater could not read the archive"),
            ({}, 3, new + ["--sign-command", exitcode], "must name the archive as {}"),
            ({}, 3, new, "give --key", "unsigned"),  # unsigned over signed
            ({"Ver3.5.sig": None}, 3, ["--files", "D:\\pub\\less", "--base", "D:\\pub\\base"],
             "only a signed release (--key) can delete files, and these are gone since the base: CAD/bin/b.dll",
             "unsigned"),
        ]
        for served, revision, args, message, *unsigned in cases:
            self.serve(dict(self.genuine, **served))
            self.release(revision, *args, code=1, message=message, signed=not unsigned)
            served = {name: data for name, data in dict(self.genuine, **served).items() if data is not None}
            self.assertEqual(tree("D:\\srv"), served)
        # A manifest that cannot be replaced (another program holds it): the files replaced before it are put back.
        self.serve(self.genuine)
        holder = subprocess.Popen(["wine", "D:\\tools\\holdfile.exe", "D:\\srv\\Ver3.5.sig", "120", "read"],
                                  stdout=subprocess.PIPE)
        self.addCleanup(lambda: (holder.kill(), holder.wait(), holder.stdout.close()))
        self.assertEqual(holder.stdout.readline().strip(), b"held")
        self.release(3, *new, code=1, message="cannot replace D:\\srv\\Ver3.5.sig (error 32): the folder is as it was")
        self.assertEqual(tree("D:\\srv"), self.genuine)
        holder.kill()
        holder.wait()
        # The first signed release over unsigned ones signs the Ver file as found, saying so.
        self.serve(dict(self.genuine, **{"Ver3.5.sig": None}))
        self.assertIn("no manifest to check it against", self.release(3, *new))

    def test_each_release_builds_on_the_last_and_names_the_files_it_removes(self):
        lay_out("D:\\pub\\old", dict(BASE, **{"CAD/old/f%03d.dat" % i: b"o" for i in range(250)}))
        r3 = {name: data for name, data in NEW.items() if name not in ("CAD/bin/b.dll", "CAD/表示/k.txt")}
        lay_out("D:\\pub\\r3", r3)
        lay_out("D:\\pub\\r4", {name: data for name, data in r3.items() if name != "CAD/表示/表.txt"})
        lay_out("D:\\pub\\base4", {name: data for name, data in BASE.items() if name != "CAD/Ver3.5"})
        zyn.write_file("D:\\pub\\long.txt", b"x" * 70000)
        removed = ["CAD/bin/b.dll"] + ["CAD/old/f%03d.dat" % i for i in range(250)] + ["CAD/%95%5C%8E%A6/k.txt"]
        # Removed files are listed in the signed manifest, percent-encoded code page 932, after the product.
        output = self.release(3, "--files", "D:\\pub\\r3", "--base", "D:\\pub\\old", message="252 removed, signed")
        self.assertIn("refuse one beyond 4096", output)
        lines = zyn.read_file("D:\\srv\\Ver3.5.sig").decode().splitlines()
        self.assertEqual([line.split("=")[0] for line in lines], KEYS + ["remove", "signature"])
        self.assertEqual(lines[-2], "remove=" + ",".join(removed))
        # The next keeps them, with what the last one installed that the tree no longer has; its base lacks the
        # version's Ver file, which makes other revisions end up unlike.
        output = self.release(4, "--files", "D:\\pub\\r4", "--base", "D:\\pub\\base4", message="253 removed")
        self.assertIn("--base holds no Ver3.5 file", output)
        self.assertEqual(zyn.read_file("D:\\srv\\Ver3.5.sig").decode().splitlines()[-2],
                         "remove=" + ",".join(removed + ["CAD/%95%5C%8E%A6/%95%5C.txt"]))
        self.check(4)
        # The update takes the removed files away, backed up, and one restore brings them back.
        gone = {"bin\\b.dll": BASE["CAD/bin/b.dll"], "表示\\k.txt": BASE["CAD/表示/k.txt"]}
        after = self.update()
        self.assertEqual([name for name in gone if name in after], [])
        with zyn.Program(self.exe, ["-HOME", "D:\\CAD"]) as program:
            restore_through_the_dialog(program)
        self.assertEqual({name: zyn.read_file("D:\\CAD\\" + name) for name in gone}, gone)
        # A Ver file beyond what clients read loses its oldest entries.
        self.release(5, "--files", "D:\\pub\\r4", "--notes", "D:\\pub\\long.txt")
        output = self.release(6, "--files", "D:\\pub\\r4", "--notes", "D:\\pub\\long.txt")
        self.assertIn("more than the 131070 that clients read: its 5 oldest entries are left out", output)
        self.assertEqual(zyn.read_file("D:\\srv\\Ver3.5"), b"(No.6)\r\n" + b"x" * 70000 + b"\r\n")
        self.check(6)

    def test_an_authenticode_signed_archive_installs_with_and_without_keys(self):
        shutil.copytree(os.path.join(zyn.BUILD, "tools"), zyn.linux_path("D:\\tools"))
        work = zyn.linux_path("D:\\pub")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", work + "/cs.key",
                        "-out", work + "/cs.pem", "-days", "2", "-subj", "/CN=ZynPublish test",
                        "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
        # osslsigncode is a Linux program: the test's runlinux waits for it, its script reads D: as the drive.
        with open(work + "/sign.sh", "w") as script:
            script.write("#!/bin/sh\nf=$(printf '%%s' \"$1\" | sed -e 's|^D:|%s|' -e 's|\\\\|/|g')\n"
                         "osslsigncode sign -certs %s/cs.pem -key %s/cs.key -in \"$f\" -out \"$f.signed\" >&2 &&"
                         " mv \"$f.signed\" \"$f\"\necho $? > %s/sign.status\n" % (zyn.DRIVE_D, work, work, work))
        os.chmod(work + "/sign.sh", 0o755)
        r3 = dict(NEW, **{"CAD/bin/a.dll": b"a3"})
        lay_out("D:\\pub\\r3", r3)
        self.release(3, "--files", "D:\\pub\\r3", "--base", "D:\\pub\\base", "--sign-command",
                     "D:\\tools\\runlinux.exe D:\\pub\\sign.status Z:%s {}" % (work + "/sign.sh").replace("/", "\\"))
        archive = zyn.read_file("D:\\srv\\UPD350.EXE")
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", work + "/cs.pem", "-in",
                                   zyn.linux_path("D:\\srv\\UPD350.EXE")], capture_output=True)
        self.assertIn(b"Signature verification: ok", verified.stdout, verified.stdout + verified.stderr)
        manifest = zyn.read_file("D:\\srv\\Ver3.5.sig").decode()
        self.assertIn("\nsha256=%s\n" % hashlib.sha256(archive).hexdigest(), manifest)
        r3["CAD/Ver3.5"] = zyn.read_file("D:\\srv\\Ver3.5")
        for keys in (public_key(self.key), None):
            for folder in ("D:\\CAD", "D:\\tmp"):
                shutil.rmtree(zyn.linux_path(folder), ignore_errors=True)
            lay_out("D:\\", BASE)
            self.exe = self.install(keys)
            self.assertEqual(self.update(), {name[4:]: data for name, data in r3.items()})


if __name__ == "__main__":
    unittest.main()
