"""What a customer's Windows sees of the program: the manifest and version resource of the shipped
files, where the dialogs open, the texts on a system whose code page is not 932, a user who may not
write the installation, temporary folders that a user name or a long path gives, and what else than
the update may lie in its work folder."""
import contextlib
import os
import pwd
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
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


PLAIN_USER = "zynplain"
NEED_RIGHTS = "ｲﾝｽﾄｰﾙ先[D:\\CAD\\]に書き込む権限がありません\n%sには管理者権限が必要です"
UPDATED = [("合番", "Yes"), ("更新に成功しました", "OK"), ("ホルビアの起動に失敗しました", "OK")]


def tree(root="D:\\"):
    """Every file under root (a Windows folder) and its bytes."""
    top = zyn.linux_path(root)
    names = [os.path.relpath(os.path.join(folder, name), top) for folder, _, names in os.walk(top) for name in names]
    return {name: zyn.read_file(os.path.join(root, name).replace("/", "\\")) for name in names}


def elevated_arguments():
    """The arguments of each running copy that the program started for elevation."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError), open("/proc/%s/cmdline" % pid, "rb") as cmdline:
            words = cmdline.read().decode().split("\0")
            if words[0] == "D:\\CAD\\Update\\ZynUpdate.exe" and "-ELEVATED" in words:
                found.append(" ".join(words[1:]).strip())
    return found


@contextlib.contextmanager
def plain_user():
    """A Linux user who may read drive D: but not write it, running Wine in a prefix of its own: yields the
    user and the command that runs wine as that user. Afterwards the user, its prefix and server are gone."""
    subprocess.run(["userdel", PLAIN_USER], stderr=subprocess.DEVNULL)  # left by an interrupted run
    home = tempfile.mkdtemp(prefix="zynplain-")
    subprocess.run(["useradd", "-M", "-d", home, PLAIN_USER], check=True)
    user = pwd.getpwnam(PLAIN_USER)
    os.chown(home, user.pw_uid, user.pw_gid)
    prefix = os.path.join(home, "prefix")
    run = ["setpriv", "--reuid", PLAIN_USER, "--regid", PLAIN_USER, "--clear-groups", "env", "-i", "HOME=" + home,
           "WINEPREFIX=" + prefix, "LANG=ja_JP.UTF-8", "LC_ALL=ja_JP.UTF-8", "DISPLAY=" + os.environ["DISPLAY"],
           "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml=", "PATH=/usr/bin:/bin"]
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    try:
        subprocess.run(run + ["wine", "cmd", "/c", "exit"], **quiet)
        subprocess.run(run + ["wineserver", "-w"], **quiet)
        drive = os.path.join(prefix, "dosdevices", "d:")
        with contextlib.suppress(FileNotFoundError):
            os.remove(drive)
        os.symlink(zyn.DRIVE_D, drive)
        subprocess.run(run + ["wineserver", "-p"], **quiet)
        subprocess.run(run + ["wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N",
                              "/f"], **quiet)
        yield user, run + ["wine"]
    finally:
        subprocess.run(run + ["wineserver", "-k"], **quiet)
        time.sleep(0.5)
        subprocess.run(["userdel", PLAIN_USER], **quiet)
        shutil.rmtree(home, ignore_errors=True)
        shutil.rmtree("/tmp/.wine-%d" % user.pw_uid, ignore_errors=True)


class Installation(unittest.TestCase):
    """Where the update is extracted, and who may install it."""

    def setUp(self):
        zyn.clear_drive()
        zyn.write_file("D:\\CAD\\Ver3.5", updates.ver_text("ravaZAZ", "3.5", 1))
        zyn.write_file("D:\\CAD\\bin\\a.dll", "old")
        self.server = UpdateServer(zyn.DRIVE_D).start()
        self.addCleanup(self.server.stop)
        self.exe = zyn.install_program(settings={"FixDirUrl": self.server.url("srv/"), "FixFileName": "UPD"})
        self.publish(2)

    def publish(self, revision, **members):
        self.updated = {"CAD/bin/a.dll": b"new %d" % revision, "CAD/Ver3.5": updates.ver_text("ravaZAZ", "3.5", revision)}
        self.updated.update(members)
        updates.publish(zyn.linux_path("D:\\srv"), "3.5", revision, self.updated)

    def run_auto(self, answers, env=None, wine=("wine",), args=("-AUTO",), code=0):
        with zyn.Program(self.exe, list(args), env=env, wine=wine) as program:
            self.assertEqual(program.run_to_end(answers, others=None), code)
        return program

    def installed(self, name):
        return zyn.read_file("D:\\" + name.replace("/", "\\"))

    def test_a_user_who_may_not_write_the_installation_is_asked_for_rights_once(self):
        zyn.write_file("D:\\CAD\\bin\\a.dll.BAK1", "backup")
        zyn.write_file("D:\\CAD\\ro.dat", "read-only")
        self.publish(2, **{"CAD/ro.dat": b"new"})
        zyn.write_file("D:\\CAD\\Update\\ZynUpdate.LOG1", "D:\\CAD\\bin\\a.dll.BAK1\r\n")
        before = tree()
        exe = zyn.linux_path(self.exe)
        with plain_user() as (user, wine):
            os.makedirs(zyn.linux_path("D:\\usertmp"))
            os.chown(zyn.linux_path("D:\\usertmp"), user.pw_uid, user.pw_gid)
            env = {"TMP": "D:\\usertmp", "TEMP": "D:\\usertmp"}
            # Checked and downloaded with the user's rights; then the same arguments and the marker, run with
            # (what Wine takes for) administrator rights, which never ask again; then that run's result.
            # Refused (here: the program's file gone before it could start again), nothing more is tried.
            for args, answers, elevated, code in (
                    (["-AUTO"], [("合番", "Yes"), (NEED_RIGHTS % "更新", "OK"), ("更新を中断しました", "OK")],
                     '-AUTO -ELEVATED UPDATE -HOME D:\\CAD\\.', 0),
                    (["-DELBAK"], [(NEED_RIGHTS % "退避ﾌｧｲﾙの削除", "OK")], '-DELBAK -ELEVATED DELBAK -HOME D:\\CAD\\.', 1),
                    (["-AUTO"], [("合番", "Yes"), ("既に更新ﾌｧｲﾙ", "No"), (NEED_RIGHTS % "更新", "OK"),
                                 ("更新を中断しました", "OK")], None, 0)):
                with zyn.Program(self.exe, args, env=env, wine=wine) as program:
                    if elevated is None:
                        program.expect_box("合番", "Yes")
                        os.rename(exe, exe + ".away")
                        self.addCleanup(lambda: os.path.exists(exe + ".away") and os.rename(exe + ".away", exe))
                        answers = answers[1:]
                    box = program.wait_box(60)
                    while "権限" not in box.text:  # the questions before the elevated run
                        program.answer(box, answers.pop(0)[1])
                        box = program.wait_box(60)
                    self.assertEqual((box.text, box.pid != program.pid), (answers[0][0], elevated is not None))
                    if elevated:
                        self.assertEqual(elevated_arguments(), [elevated])
                    program.answer(box, answers.pop(0)[1])
                    self.assertEqual(program.run_to_end(answers), code)
                self.assertEqual(zyn.read_file("D:\\usertmp\\UPD350_2.EXE"), zyn.read_file("D:\\srv\\UPD350.EXE"))
            os.rename(exe + ".away", exe)
            # The dialog's restore goes the same way, its result told by the dialog.
            with zyn.Program(self.exe, [], env=env, wine=wine) as program:
                program.click(program.wait_dialog(), 1001)  # 更新前の状態に復元
                program.expect_box("1回の復元が可能です")
                program.click(program.wait_dialog(), 1005)  # 実行
                box = program.wait_box(60)
                self.assertEqual((box.text, box.pid != program.pid, elevated_arguments()),
                                 (NEED_RIGHTS % "復元", True, ["-ELEVATED RESTORE -HOME D:\\CAD\\."]))
                program.answer(box)
                program.expect_box("復元を中断しました")
                program.click(program.wait_dialog(), 1006)
                self.assertEqual(program.wait_exit(), 0)
            # What a killed run with rights left is not this user's to undo.
            zyn.write_file("D:\\CAD\\Update\\ZynUpdate.RUN2", "update\r\n")
            self.run_auto([(NEED_RIGHTS % "前回中断された作業の復旧", "OK"), ("更新を中断しました", "OK")], env=env, wine=wine)
            os.remove(zyn.linux_path("D:\\CAD\\Update\\ZynUpdate.RUN2"))
            # Where the user may write the CAD folder but not a file in it: that file is named, never as in use;
            # the user's own read-only file is neither.
            for folder in ("D:\\CAD", "D:\\CAD\\Update", "D:\\CAD\\Ver3.5", "D:\\CAD\\ro.dat"):
                os.chown(zyn.linux_path(folder), user.pw_uid, user.pw_gid)
            os.chmod(zyn.linux_path("D:\\CAD\\ro.dat"), 0o444)
            denied = "下記ﾌｧｲﾙを書き換える権限がありません\nD:\\CAD\\bin\\a.dll\n"
            program = self.run_auto([("合番", "Yes"), ("既に更新ﾌｧｲﾙ", "No"), (denied, "OK"), ("更新を中断しました", "OK")],
                                    env=env, wine=wine)
            self.assertEqual(program.boxes[2].text, denied)
        self.assertEqual({n: d for n, d in tree().items() if not n.startswith("usertmp")}, before)

    def test_temporary_folders_that_a_user_name_or_a_long_path_gives(self):
        # The longest path the installation takes, with the temporary name beside it below 260 bytes.
        deep = "CAD/" + "/".join(["d" * 49] * 4) + "/" + "f" * 45
        self.assertEqual(len("D:\\" + deep + ".ZYNNEW"), 259)
        for revision, temp, landed, members in (
                (3, "D:\\tmp\\𠮷田", "tmp/𠮷田", {}),  # outside code page 932: its short form
                (4, "D:\\tmp\\김민수", "tmp/김민수", {}),
                (5, "D:\\tmp\\𠮷nowhere", "~ZYNTMP", {}),  # no short form either: a folder of the program's own
                (6, "D:\\Users\\" + "u" * 20 + "\\AppData\\Local\\Temp", "Users/" + "u" * 20 + "/AppData/Local/Temp",
                 {deep: b"the longest covered"})):
            if not temp.endswith("nowhere"):
                os.makedirs(zyn.linux_path(temp))
            self.publish(revision, **members)
            self.run_auto(UPDATED, env={"TMP": temp, "TEMP": temp})
            self.assertEqual({name: self.installed(name) for name in self.updated}, self.updated, temp)
            self.assertTrue(os.path.exists(os.path.join(zyn.DRIVE_D, landed, "UPD350_%d.EXE" % revision)), temp)
            self.assertFalse(os.path.exists(zyn.linux_path("D:\\~ZYN")))  # the work folder goes with the update
        # An update's file where the installation has a folder is said to be that, with nothing to retry.
        zyn.write_file("D:\\CAD\\data\\sub\\x.txt", "x")
        self.publish(7, **{"CAD/data/sub": b"a file"})
        program = self.run_auto([("合番", "Yes"), ("下記はｲﾝｽﾄｰﾙ先ではﾌｫﾙﾀﾞのため、更新ﾌｧｲﾙで置き換えられません\n"
                                                   "D:\\CAD\\data\\sub\n", "OK"), ("更新を中断しました", "OK")])
        self.assertEqual((program.boxes[1].text.count("\n"), program.boxes[1].buttons), (2, [zyn.IDOK]))
        self.assertEqual(zyn.read_file("D:\\CAD\\data\\sub\\x.txt"), b"x")

    def test_only_the_archive_s_members_are_installed_as_extracted(self):
        work = "D:\\~ZYN\\CAD\\bin\\"
        tools = os.path.join(zyn.BUILD, "tools")
        before = tree("D:\\CAD")

        def hold(path, *how):
            holder = subprocess.Popen(["wine", os.path.join(tools, "holdfile.exe"), path, "120"] + list(how),
                                      stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            self.addCleanup(holder.kill)
            self.assertEqual(holder.stdout.readline().strip(), b"held")
            return holder

        # Left there before: a read-only file goes; one that another program holds, sharing reads, stops it.
        zyn.write_file(work + "planted.dll", "planted")
        os.chmod(zyn.linux_path(work + "planted.dll"), 0o444)
        zyn.write_file("D:\\~ZYN\\held.dat", "held")
        holder = hold("D:\\~ZYN\\held.dat", "read")
        self.run_auto([("合番", "Yes"), ("作業ﾌｫﾙﾀﾞ[D:\\~ZYN\\]を空にできませんでした", "OK"), ("更新を中断しました", "OK")])
        self.assertEqual(tree("D:\\CAD"), before)
        holder.kill()
        holder.wait()
        # Written to while the in-use box waits: the writer is refused; a file added meanwhile is not installed.
        holder = hold("D:\\CAD\\bin\\a.dll")
        with zyn.Program(self.exe, ["-AUTO"]) as program:
            program.expect_box("合番", "Yes")
            program.expect_box("既に更新ﾌｧｲﾙ", "No")
            box = program.wait_box(60)
            self.assertIn("下記ﾌｧｲﾙが使用されています", box.text)
            self.assertFalse(os.path.exists(zyn.linux_path(work + "planted.dll")))
            writer = subprocess.run(["wine", os.path.join(tools, "writefile.exe"), work + "a.dll", "rewritten"])
            zyn.write_file(work + "added.dll", "added")
            holder.kill()
            holder.wait()
            program.answer(box, "Retry")
            self.assertEqual(program.run_to_end(UPDATED[1:]), 0)
        self.assertEqual((writer.returncode, self.installed("CAD/bin/a.dll"), os.listdir(zyn.linux_path("D:\\CAD\\bin"))),
                         (1, b"new 2", ["a.dll", "a.dll.BAK1"]))


if __name__ == "__main__":
    unittest.main()
