"""The networks and servers a customer's program meets, through the real program: the system's proxy asking for a
password (tinyproxy), TLS certificates from a throwaway CA (nginx), and servers that drip, trickle, swap texts or
announce a gigabyte. The prefix's registry is put back as it was after each test."""
import contextlib
import datetime
import hashlib
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
import updates  # noqa: E402
import zyn  # noqa: E402
from test_publish import public_key, sign  # noqa: E402
from update_server import UpdateServer  # noqa: E402

INTERNET_SETTINGS = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"
ROOT_CERTIFICATES = "HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\"
NOW = datetime.datetime.now(datetime.timezone.utc)
OPENED = "指定URL[%sVer3.5]を開けませんでした"


def reg(*args):
    subprocess.run(["wine", "reg"] + list(args), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def serving(process, ports):
    """Waits until every port accepts connections."""
    for port in ports:
        deadline = time.time() + 10
        while True:
            with socket.socket() as s:
                if s.connect_ex(("127.0.0.1", port)) == 0:
                    break
            assert process.poll() is None and time.time() < deadline, "port %d never opened" % port
            time.sleep(0.05)
    return process


@contextlib.contextmanager
def daemon(command, ports):
    process = serving(subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL), ports)
    try:
        yield
    finally:
        process.terminate()
        process.wait(10)


@contextlib.contextmanager
def system_proxy(port, bypass=None):
    """The prefix's system proxy set to 127.0.0.1:port (not for the hosts of bypass), with tinyproxy there asking for
    zyn / s3cret unless port is None (a proxy that is not there); the settings as they were afterwards."""
    folder = tempfile.mkdtemp()
    saved = os.path.join(folder, "saved.reg")
    reg("export", INTERNET_SETTINGS, "Z:" + saved.replace("/", "\\"), "/y")
    address = "127.0.0.1:%d" % (port or free_port())
    with open(os.path.join(folder, "tinyproxy.conf"), "w") as f:
        f.write("Port %d\nListen 127.0.0.1\nTimeout 30\nBasicAuth zyn s3cret\nAllow 127.0.0.1\nLogLevel Critical\n" % (port or 0))
    try:
        reg("add", INTERNET_SETTINGS, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "1", "/f")
        reg("add", INTERNET_SETTINGS, "/v", "ProxyServer", "/d", address, "/f")
        if bypass:
            reg("add", INTERNET_SETTINGS, "/v", "ProxyOverride", "/d", bypass, "/f")
        with daemon(["tinyproxy", "-d", "-c", os.path.join(folder, "tinyproxy.conf")], [port]) if port else \
                contextlib.nullcontext():
            yield address
    finally:
        for value in ("ProxyEnable", "ProxyServer", "ProxyOverride"):
            subprocess.run(["wine", "reg", "delete", INTERNET_SETTINGS, "/v", value, "/f"], capture_output=True)
        reg("import", "Z:" + saved.replace("/", "\\"))
        shutil.rmtree(folder)


def credentials(program, user, password):
    """Fills in the proxy's credentials dialog, or cancels it (user None); returns the dialog."""
    dialog = program.wait_window(lambda w: sum(c["class"].lower() == "edit" for c in w.controls.values()) >= 2,
                                 what="credentials dialog")
    if user is not None:
        edits = sorted(i for i, c in dialog.controls.items() if c["class"].lower() == "edit")
        hidden = next(i for i in edits if dialog.controls[i]["style"] & 0x20)  # ES_PASSWORD
        program.call("settext", dialog.hwnd, next(i for i in edits if i != hidden), user)
        program.call("settext", dialog.hwnd, hidden, password)
    program.click(dialog, zyn.IDCANCEL if user is None else zyn.IDOK)
    while any(w.hwnd == dialog.hwnd for w in program.windows()):
        time.sleep(0.05)
    return dialog


def certificate(name, key, issuer=None, issuer_key=None, days=(-1, 30)):
    """A certificate for name (a CA without issuer), valid over days around now."""
    subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, name)])
    builder = x509.CertificateBuilder().subject_name(subject).issuer_name(issuer.subject if issuer else subject) \
        .public_key(key.public_key()).serial_number(x509.random_serial_number()) \
        .not_valid_before(NOW + datetime.timedelta(days=days[0])).not_valid_after(NOW + datetime.timedelta(days=days[1]))
    if issuer:
        builder = builder.add_extension(x509.SubjectAlternativeName([x509.DNSName(name)]), False)
    else:
        builder = builder.add_extension(x509.BasicConstraints(ca=True, path_length=None), True)
    return builder.sign(issuer_key or key, hashes.SHA256())


def manifest(key, version, revision, ver, update=b"x"):
    """A signed manifest for revision of version, whose Ver text is ver."""
    code = int(round(float(version) * 100))
    return sign([("version", version), ("revision", revision), ("ver-sha256", hashlib.sha256(ver).hexdigest()),
                 ("file", "UPD%d.EXE" % code), ("length", len(update)), ("sha256", hashlib.sha256(update).hexdigest()),
                 ("expires", (NOW + datetime.timedelta(days=30)).strftime("%Y-%m-%dT%H:%M:%SZ")),
                 ("product", "ravaZAZ")], key)


class Network(unittest.TestCase):
    def setUp(self):
        zyn.clear_drive()
        self.server = UpdateServer(zyn.DRIVE_D).start()
        self.addCleanup(self.server.stop)
        zyn.write_file("D:\\CAD\\Ver3.5", updates.ver_text("ravaZAZ", "3.5", 1))
        self.ver = updates.ver_text("ravaZAZ", "3.5", 2, ["形鋼の断面を追加しました"])
        updates.publish(zyn.linux_path("D:\\srv"), "3.5", 2, {"CAD/Ver3.5": self.ver, "CAD/bin/a.dll": b"new"},
                        notes=["形鋼の断面を追加しました"])

    def install(self, url, **settings):
        self.url = url
        return zyn.install_program(settings=dict({"FixDirUrl": url, "FixFileName": "UPD"}, **settings))

    def run_to_end(self, exe, args, boxes=(), code=0, timeout=30):
        with zyn.Program(exe, args) as program:
            self.assertEqual(program.run_to_end([(text, "OK") for text in boxes], timeout=timeout), code)
        self.assertEqual([box.text for box in program.boxes], list(boxes))

    def test_a_proxy_that_asks_for_a_password(self):
        port = free_port()
        exe = self.install(self.server.url("srv/"))
        with system_proxy(port) as proxy:
            # The dialog asks the Windows way; a cancel says so once, and a second check that gets through keeps
            # the credentials for the download.
            with zyn.Program(exe) as program:
                dialog = program.wait_dialog()
                program.click(dialog, 1000)
                credentials(program, None, None)
                self.assertEqual(program.expect_box("ﾌﾟﾛｷｼ").text, OPENED % self.url + "\nﾌﾟﾛｷｼ[%s]の認証が取り消されました" % proxy)
                dialog = program.wait_window(lambda w: w.is_main_dialog and w.enabled and not w.control(1000)["checked"])
                program.click(dialog, 1000)
                credentials(program, "zyn", "s3cret")
                program.expect_box("ﾘﾋﾞｼﾞｮﾝ[2]への更新ﾌｧｲﾙがあります")
                program.click(program.wait_window(lambda w: w.is_main_dialog and w.control(1005)["enabled"]), 1005)
                program.expect_box("合番", "Yes")
                program.expect_box("更新に成功しました")
                program.click(program.wait_dialog(), 1006)
                self.assertEqual(program.wait_exit(), 0)
            self.assertEqual(zyn.read_file("D:\\CAD\\bin\\a.dll"), b"new")
            # Unattended: asked the same way; a refused password or a cancel says so and stops the update.
            zyn.write_file("D:\\CAD\\Ver3.5", updates.ver_text("ravaZAZ", "3.5", 1))
            for password, cause in (("s3cret", None), ("wrong", "の認証に失敗しました"), (None, "の認証が取り消されました")):
                with zyn.Program(exe, ["-AUTO"]) as program:
                    credentials(program, password and "zyn", password)
                    self.assertEqual(program.run_to_end([("ﾌﾟﾛｷｼ", "OK")] if cause else [("合番", "Yes")], others="first"), 0)
                texts = [box.text for box in program.boxes]
                self.assertIn(OPENED % self.url + "\nﾌﾟﾛｷｼ[%s]%s" % (proxy, cause) if cause else "更新に成功しました", texts)
                self.assertEqual(texts[-1] == "更新を中断しました", bool(cause))
            # Scripts are never asked: the check says why it could not look.
            for args in (["-CHECK"], ["-VER"]):
                self.run_to_end(exe, args, [OPENED.replace("Ver3.5", "Ver3.6" if args == ["-VER"] else "Ver3.5")
                                            % self.url + "\nﾌﾟﾛｷｼ[%s]の認証が必要です" % proxy])
        with system_proxy(None) as proxy:  # one message, not "no update" as well
            self.run_to_end(exe, ["-CHECK"], [OPENED % self.url + "\nﾌﾟﾛｷｼ[%s]に接続できませんでした" % proxy])
        with system_proxy(None, "<local>;localhost;127.0.0.*"):  # a server the proxy is not for: no word of it
            self.run_to_end(self.install("http://127.0.0.1:%d/srv/" % free_port()), ["-CHECK"])

    def test_certificates_are_checked_and_their_faults_named(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        key = ec.generate_private_key(ec.SECP256R1())
        ca, stranger = certificate("Zyn Test CA", key), certificate("Zyn Stranger CA", key)
        leaves = {"trusted": certificate("localhost", key, ca, key), "expired": certificate("localhost", key, ca, key, (-9, -1)),
                  "wrong host": certificate("example.invalid", key, ca, key), "unknown CA": certificate("localhost", key, stranger, key),
                  "unknown issuer": certificate("localhost", key, stranger, key)}
        ports = {name: free_port() for name in leaves}
        with open(os.path.join(folder, "key.pem"), "wb") as f:
            f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()))
        servers = ""
        for name, leaf in leaves.items():
            path = os.path.join(folder, name.replace(" ", "_") + ".pem")
            with open(path, "wb") as f:
                # A gateway that inspects TLS sends its own CA along; without it the issuer is unknown.
                chain = [leaf] + {"unknown CA": [stranger], "unknown issuer": []}.get(name, [ca])
                f.write(b"".join(c.public_bytes(serialization.Encoding.PEM) for c in chain))
            servers += "server { listen 127.0.0.1:%d ssl; ssl_certificate %s; ssl_certificate_key %s/key.pem; root %s; }\n" % (
                ports[name], path, folder, zyn.DRIVE_D)
        with open(os.path.join(folder, "nginx.conf"), "w") as f:
            f.write("daemon off; master_process off; pid %s/nginx.pid; error_log %s/error.log;\n"
                    "events {}\nhttp { access_log off; %s}\n" % (folder, folder, servers))
        der = ca.public_bytes(serialization.Encoding.DER)
        trusted = ROOT_CERTIFICATES + hashlib.sha1(der).hexdigest().upper()
        reg("add", trusted, "/v", "Blob", "/t", "REG_BINARY", "/d", (b"\x20\0\0\0\x01\0\0\0" + len(der).to_bytes(4, "little") + der).hex(), "/f")
        self.addCleanup(reg, "delete", trusted, "/f")
        causes = {"expired": "ｻｰﾊﾞ証明書の有効期限が切れています", "wrong host": "ｻｰﾊﾞ証明書の名前がｻｰﾊﾞ名[localhost]と一致しません",
                  "unknown CA": "ｻｰﾊﾞ証明書の発行元が信頼されていません",
                  "unknown issuer": "ｻｰﾊﾞ証明書の発行元または失効を確認できませんでした"}
        with daemon(["nginx", "-c", os.path.join(folder, "nginx.conf"), "-p", folder], ports.values()):
            for name, port in ports.items():
                exe = self.install("https://localhost:%d/srv/" % port)
                self.run_to_end(exe, ["-CHECK"], [OPENED % self.url + "\n" + causes[name]] if name in causes else [],
                                0 if name in causes else 2)
            with zyn.Program(self.install("https://localhost:%d/srv/" % ports["trusted"]), ["-AUTO"]) as program:
                program.run_to_end([("合番", "Yes"), ("更新に成功しました", "OK")], others="first")
        self.assertEqual(zyn.read_file("D:\\CAD\\bin\\a.dll"), b"new")

    def test_hostile_servers_neither_hold_the_program_nor_reach_the_user(self):
        # A download trickling a byte a second fails after a minute, while the other attacks run beside it.
        os.makedirs(zyn.linux_path("D:\\tmp2"))
        zyn.write_file("D:\\CAD2\\Ver3.5", updates.ver_text("ravaZAZ", "3.5", 1))
        trickled = zyn.Program(zyn.install_program("D:\\CAD2\\Update", {"FixDirUrl": self.server.url("-/trickle,exe/srv/"),
                                                                        "FixFileName": "UPD", "Timeout": "3"}),
                               ["-AUTO"], env={"TMP": "D:\\tmp2", "TEMP": "D:\\tmp2"})
        self.addCleanup(trickled.close)
        trickled.expect_box("合番", "Yes")
        started = time.time()

        # Headers a line a second: each request ends at Timeout, and 終了 is heard meanwhile.
        exe = self.install(self.server.url("-/drip/srv/"), Timeout="2")
        with zyn.Program(exe) as program:
            program.click(program.wait_dialog(), 1000)
            program.expect_box(OPENED % self.url, timeout=8)
            program.expect_box("現在のﾊﾞｰｼﾞｮﾝの更新ﾌｧｲﾙはありません")
            program.click(program.wait_dialog(), 1000)
            time.sleep(0.5)
            dialog = program.wait_window(lambda w: w.is_main_dialog)
            self.assertEqual([dialog.control(i)["enabled"] for i in (1000, 1001, 1006, 1009)], [False, False, True, False])
            program.click(dialog, 1006)
            self.assertEqual(program.wait_exit(3), 0)
        with zyn.Program(exe, ["-AUTO"]) as program:
            program.run_to_end(others="first", timeout=15)

        # With keys: the pane shows the signed text, not what a second read would get; a manifest with anything
        # after a zero byte, or a gigabyte of it, is refused at once; -VER counts only signed versions.
        key = ec.generate_private_key(ec.SECP256R1())
        ver = self.ver + b"\0<a href=http://example.invalid/>"
        zyn.write_file("D:\\srv\\Ver3.5", ver)
        zyn.write_file("D:\\srv\\Evil", ver.replace(b"example", b"evil"))
        zyn.write_file("D:\\srv\\Ver3.5.sig", manifest(key, "3.5", 2, ver))
        exe = self.install(self.server.url("-/swap=Evil/srv/"), PublicKey=public_key(key))
        with zyn.Program(exe) as program:
            program.click(program.wait_dialog(), 1000)
            program.expect_box("ﾘﾋﾞｼﾞｮﾝ[2]への更新ﾌｧｲﾙがあります")
            dialog = program.wait_window(lambda w: w.is_main_dialog and w.control(1005)["enabled"])
            self.assertEqual(dialog.control(1002)["text"],
                             "更新内容は以下の通りです\r\n\r\n" + ver.replace(b"\0", b" ").decode("cp932"))
        exe = self.install(self.server.url("srv/"), PublicKey=public_key(key))
        for served, code in ((b"", 2), (b"\0junk", 0)):
            zyn.write_file("D:\\srv\\Ver3.5.sig", manifest(key, "3.5", 2, ver) + served)
            self.run_to_end(exe, ["-CHECK"], code=code)
        zyn.write_file("D:\\srv\\Ver3.5", self.ver)
        zyn.write_file("D:\\srv\\Ver3.5.sig", manifest(key, "3.5", 2, self.ver))
        for url, code in ((self.server.url("-/huge/srv/"), 0), (self.server.url("srv/"), 2)):
            self.run_to_end(self.install(url, PublicKey=public_key(key)), ["-CHECK"], code=code, timeout=4)
        self.run_to_end(self.install(self.server.url("-/huge/srv/")), ["-CHECK"], code=2, timeout=4)
        for version, text in (("3.6", updates.ver_text("ravaZAZ", "3.6", 1)), ("3.8", "(No.1)"), ("4.0", "<html>")):
            zyn.write_file("D:\\srv\\Ver" + version, text)
        zyn.write_file("D:\\srv\\Ver3.6.sig", manifest(key, "3.6", 1, updates.ver_text("ravaZAZ", "3.6", 1)))
        self.run_to_end(self.install(self.server.url("srv/"), PublicKey=public_key(key)), ["-VER"], code=360)
        self.run_to_end(self.install(self.server.url("srv/")), ["-VER"], code=400)

        trickled.expect_box("ｻｰﾊﾞからの転送が遅すぎるため更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞを中止しました", timeout=90)
        self.assertGreaterEqual(time.time() - started, 59)
        trickled.expect_box("更新を中断しました")
        self.assertEqual(trickled.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main()
