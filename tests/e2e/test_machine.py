"""What a customer's Windows sees of the program: the manifest and version resource of the shipped
files, where the dialogs open, and the texts on a system whose code page is not 932."""
import contextlib
import os
import re
import struct
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
import updates  # noqa: E402
import zyn  # noqa: E402
from test_check import FULL_DIALOG  # noqa: E402
from update_server import UpdateServer  # noqa: E402

SCREEN = (1280, 1024)  # the virtual display that the scripts start
SHIPPED = ("ZynUpdate.exe", "ZynPublish.exe", os.path.join("publish", "ZynStub.exe"))
SUPPORTED_OS = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Vista, 7
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8, 8.1
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}  # 10 and 11


def pe_file(path):
    """A 64-bit PE file's count of symbols, and {(type, name): data} of its resources."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, symbols, optional = struct.unpack_from("<H8xIH", data, pe + 6)
    resource_rva = struct.unpack_from("<I", data, pe + 24 + 112 + 2 * 8)[0]  # PE32+ data directory 2

    def offset(rva):
        for n in range(sections):
            size, start, _, raw = struct.unpack_from("<4I", data, pe + 24 + optional + 40 * n + 8)
            if start <= rva < start + size:
                return raw + rva - start

    base = offset(resource_rva)

    def entries(directory):  # (name or id, offset of the subdirectory or leaf)
        count = sum(struct.unpack_from("<2H", data, base + directory + 12))
        return [struct.unpack_from("<2I", data, base + directory + 16 + 8 * n) for n in range(count)]

    found = {}
    for kind, names in entries(0):
        for name, languages in entries(names & 0x7FFFFFFF):
            rva, size = struct.unpack_from("<2I", data, base + entries(languages & 0x7FFFFFFF)[0][1])
            found[kind, name] = data[offset(rva):offset(rva) + size]
    return symbols, found


def version_strings(block):
    """Key -> text of every String of a VS_VERSIONINFO, and "fixed": its fixed file version."""
    found = {}

    def walk(start, end):
        while start + 6 < end:
            length, value_length, is_text = struct.unpack_from("<3H", block, start)
            key_end = next(i for i in range(start + 6, end, 2) if block[i:i + 2] == b"\0\0")
            key, value = block[start + 6:key_end].decode("utf-16-le"), (key_end + 5) & ~3
            if is_text and value_length:
                found[key] = block[value:value + 2 * value_length].decode("utf-16-le").rstrip("\0")
            elif key == "VS_VERSION_INFO":
                ms, ls = struct.unpack_from("<2I", block, value + 8)
                found["fixed"] = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
            walk((value + value_length * (1 + is_text) + 3) & ~3, start + length)
            start = (start + length + 3) & ~3

    walk(0, len(block))
    return found


def centre(rect):
    return (rect[0] + rect[2]) / 2, (rect[1] + rect[3]) / 2


@contextlib.contextmanager
def wine_session(lang, version):
    """Wine's server for the prefix restarted under lang, with Wine playing that Windows version for the program;
    afterwards the setting is removed and the server restarted as the scripts leave it."""
    def wine(*args):
        subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def restart(env):
        wine("wineserver", "-k")
        wine("wineserver", "-w")
        os.environ.update(env)
        wine("wineserver", "-p")
        wine("wine", "cmd", "/c", "exit")

    saved = {name: os.environ[name] for name in ("LANG", "LC_ALL")}
    key = "HKCU\\Software\\Wine\\AppDefaults\\ZynUpdate.exe"
    restart({"LANG": lang, "LC_ALL": lang})
    try:
        wine("wine", "reg", "add", key, "/v", "Version", "/d", version, "/f")
        yield
    finally:
        wine("wine", "reg", "delete", key, "/f")
        restart(saved)


class CustomerMachine(unittest.TestCase):
    def setUp(self):
        zyn.clear_drive()
        zyn.write_file("D:\\CAD\\Ver3.5", updates.ver_text("ravaZAZ", "3.5", 1))
        self.server = UpdateServer(zyn.DRIVE_D).start()
        self.addCleanup(self.server.stop)
        # Random bytes do not deflate: at about 50 KB/s the progress dialog stays a few seconds.
        self.updated = updates.ver_text("ravaZAZ", "3.5", 2, ["形鋼の断面を追加しました"])
        updates.publish(zyn.linux_path("D:\\srv"), "3.5", 2, {"CAD/bin/a.dat": os.urandom(150000),
                                                              "CAD/Ver3.5": self.updated}, notes=["形鋼の断面を追加しました"])
        self.exe = zyn.install_program(settings={"FixDirUrl": self.server.url("-/slow/srv/"), "FixFileName": "UPD"})

    def test_shipped_files_carry_their_manifest_and_version(self):
        with open(os.path.join(zyn.BUILD, "CMakeCache.txt")) as f:
            cache = f.read()
        version = re.search(r"^CMAKE_PROJECT_VERSION:\w+=(.+)$", cache, re.M).group(1)
        for name in SHIPPED:
            symbols, resources = pe_file(os.path.join(zyn.BUILD, name))
            elements = list(ElementTree.fromstring(resources[24, 1]).iter())  # RT_MANIFEST 1: the process's own
            tagged = lambda tag: [e for e in elements if e.tag.endswith("}" + tag)]  # noqa: E731
            self.assertEqual((tagged("requestedExecutionLevel")[0].get("level"),
                              [(e.get("name"), e.get("version")) for e in tagged("assemblyIdentity")],
                              [e.text for e in tagged("dpiAware") + tagged("dpiAwareness")],
                              {e.get("Id") for e in tagged("supportedOS")}),
                             ("asInvoker", [("Microsoft.Windows.Common-Controls", "6.0.0.0")],
                              ["true/pm", "PerMonitorV2,PerMonitor"], SUPPORTED_OS), name)
            strings = version_strings(resources[16, 1])
            self.assertEqual({key: strings.get(key) for key in ("fixed", "FileVersion", "ProductVersion")},
                             dict.fromkeys(("fixed", "FileVersion", "ProductVersion"), version), name)
            self.assertEqual(strings["OriginalFilename"], os.path.basename(name))
            self.assertTrue(all(strings.get(key) for key in ("CompanyName", "ProductName", "FileDescription",
                                                             "LegalCopyright")), strings)
            if re.search(r"^CMAKE_BUILD_TYPE:\w+=Release$", cache, re.M):  # stripped
                self.assertEqual(symbols, 0, name)

    def test_another_code_page_reads_the_same_and_windows_open_centred(self):
        # A system whose code page is 1252, playing Windows 10: the manifest's supported versions make it say so.
        with wine_session("C.UTF-8", "win10"), zyn.Program(self.exe) as program:
            dialog = program.wait_dialog()
            self.assertEqual((dialog.caption, {i: c["text"] for i, c in dialog.controls.items()}),
                             ("ravaZAZオンラインアップデート", {i: text for i, (text, _, _) in FULL_DIALOG.items()}))
            self.assertTrue(0 < dialog.rect[2] - dialog.rect[0] < SCREEN[0] and
                            0 < dialog.rect[3] - dialog.rect[1] < SCREEN[1], dialog.rect)
            for got, screen in zip(centre(dialog.rect), SCREEN):
                self.assertAlmostEqual(got, screen / 2, delta=1)
            program.click(dialog, 1000)  # 更新を確認
            program.expect_box("ﾘﾋﾞｼﾞｮﾝ[2]への更新ﾌｧｲﾙがあります")
            dialog = program.wait_dialog()
            self.assertEqual((dialog.control(1007)["text"], dialog.control(1002)["text"]),
                             ("専用CADﾌｫﾙﾀﾞ:D:\\CAD\\ 現ﾊﾞｰｼﾞｮﾝ:3.5(ﾘﾋﾞｼﾞｮﾝ.1)",
                              "更新内容は以下の通りです\r\n\r\n" + self.updated.decode("cp932")))
            program.call("move", dialog.hwnd, 100, 80)  # where the user put it
            dialog = program.wait_dialog()
            self.assertEqual(dialog.rect[:2], [100, 80])
            program.click(dialog, 1005)  # 実行
            program.expect_box("合番が変更される可能性があります", "Yes")
            progress = program.wait_window(lambda w: 1003 in w.controls and w.caption == "ﾀﾞｳﾝﾛｰﾄﾞ中",
                                           what="download's progress dialog")
            zyn.screenshot(os.path.join(zyn.BUILD, "cp1252-progress.png"))
            for got, over in zip(centre(progress.rect), centre(dialog.rect)):
                self.assertAlmostEqual(got, over, delta=1)
            program.expect_box("更新に成功しました", timeout=60)
            program.click(program.wait_dialog(), 1006)
            self.assertEqual(program.wait_exit(), 0)
        self.assertRegex(self.server.requests[-1][1], r" OS:10\.0\.\d+\(x64\) ")
        self.assertEqual(zyn.read_file("D:\\CAD\\Ver3.5"), self.updated)

        # Unattended, the progress dialog has no owner: it opens on the screen's centre.
        zyn.write_file("D:\\CAD\\Ver3.5", updates.ver_text("ravaZAZ", "3.5", 1))
        with zyn.Program(self.exe, ["-AUTO"]) as program:
            program.expect_box("合番", "Yes")
            program.expect_box("既に更新ﾌｧｲﾙ", "Yes")
            progress = program.wait_window(lambda w: 1003 in w.controls, what="progress dialog")
            for got, screen in zip(centre(progress.rect), SCREEN):
                self.assertAlmostEqual(got, screen / 2, delta=1)


if __name__ == "__main__":
    unittest.main()
