"""Backups end to end through the real ZynUpdate.exe, with the update on a loopback server."""
import os
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
import updates  # noqa: E402
import zyn  # noqa: E402
from update_server import UpdateServer  # noqa: E402

PROGRAM_FOLDER = "D:\\CAD\\Update"
PROGRAM = {name: open(os.path.join(zyn.BUILD, name), "rb").read() for name in ("ZynUpdate.exe", "unzip32.dll")}
PROGRAM_FILES = {PROGRAM_FOLDER + "\\" + name: data for name, data in PROGRAM.items()}
DLL = PROGRAM["unzip32.dll"]  # a real DLL, so that a helper program can keep it loaded
# The update carries a new updater too: the same programs, longer by a few bytes that nothing reads.
INSTALLED = {"D:\\CAD\\Ver3.5": updates.ver_text("ravaZAZ", "3.5", 1), "D:\\CAD\\bin\\zyncad.dll": DLL,
             "D:\\CAD\\bin\\ZynCad.exe": b"main 1\r\n", "D:\\CAD\\表示\\表.txt": "形鋼\r\n".encode("cp932"),
             **PROGRAM_FILES}
UPDATED = {"D:\\CAD\\Ver3.5": updates.ver_text("ravaZAZ", "3.5", 2), "D:\\CAD\\bin\\zyncad.dll": DLL + b"\x002",
           "D:\\CAD\\bin\\ZynCad.exe": b"main 1\r\n",  # unchanged: no backup
           "D:\\CAD\\表示\\表.txt": "形鋼\r\n断面\r\n".encode("cp932"), "D:\\CAD\\new\\a.csv": b"added",
           **{name: data + b"\0new" for name, data in PROGRAM_FILES.items()}}


def cad_tree(root="D:\\CAD"):
    """Every file under root but the settings, rollback logs, lists of added files and work records."""
    tree = {}
    for folder, _, files in os.walk(zyn.linux_path(root)):
        for name in files:
            windows = "D:\\" + os.path.relpath(os.path.join(folder, name), zyn.DRIVE_D).replace("/", "\\")
            if not re.search(r"\\ZynUpdate\.(ini|LOG\d+|ADD\d+|RUN\d+)$", windows):
                tree[windows] = zyn.read_file(windows)
    return tree


def logs(folder=PROGRAM_FOLDER):
    return sorted(n for n in os.listdir(zyn.linux_path(folder)) if re.search(r"\.(LOG|ADD|RUN)\d", n))


def lay_out(test, installed, update, adjust_offsets=True, folder=PROGRAM_FOLDER, clear=True):
    if clear:
        zyn.clear_drive()
    for name, content in installed.items():
        zyn.write_file(name, content)
    server = UpdateServer(zyn.DRIVE_D).start()
    test.addCleanup(server.stop)
    members = {name[3:].replace("\\", "/"): data for name, data in update.items()}
    updates.publish(zyn.linux_path("D:\\srv"), "3.5", 2, members, adjust_offsets=adjust_offsets)
    url = server.url("srv/")
    return zyn.install_program(folder, settings={"FixDirUrl": url, "FixFileName": "UPD", "DoviFixDirUrl": url,
                                                 "DoviFixFileName": "UPD"})


def restore_through_the_dialog(program):
    program.click(program.wait_dialog(), 1001)  # 更新前の状態に復元
    program.expect_box("1回の復元が可能です")
    program.click(program.wait_dialog(), 1005)  # 実行
    program.expect_box("復元に成功しました", timeout=60)


class UpdateAndRestore(unittest.TestCase):
    def setUp(self):
        # Without adjusted offsets the extractor warns, and a warning is no failure.
        self.exe = lay_out(self, INSTALLED, UPDATED, adjust_offsets=False)

    def test_update_then_restore_through_the_dialog_gives_back_every_byte_and_backups_can_go(self):
        # A generation beyond a gap: an update numbered 1 must not make it the newest.
        zyn.write_file("D:\\CAD\\bin\\zyncad.dll.BAK2", "stray")
        zyn.write_file(PROGRAM_FOLDER + "\\ZynUpdate.LOG2", "D:\\CAD\\bin\\zyncad.dll.BAK2\r\n")
        with zyn.Program(self.exe) as program:
            program.click(program.wait_dialog(), 1000)  # 更新を確認
            program.expect_box("ﾘﾋﾞｼﾞｮﾝ[2]への更新ﾌｧｲﾙがあります")
            program.click(program.wait_dialog(), 1005)
            program.expect_box("合番が変更される可能性があります", "Yes")
            program.expect_box("前の世代が欠けているため復元できない退避ﾌｧｲﾙがあります\n%s\\ZynUpdate.LOG2\n"
                               "削除して更新を続行しますか？" % PROGRAM_FOLDER, "Yes")
            program.expect_box("更新に成功しました", timeout=60)
            program.click(program.wait_dialog(), 1006)
            self.assertEqual(program.wait_exit(), 0)
        backups = {name + ".BAK1": INSTALLED[name] for name in INSTALLED if "ZynCad.exe" not in name}
        aside = PROGRAM_FOLDER + "\\ZynUpdate.exe.ZYNOLD"  # the running program, if it had to be put aside
        self.assertEqual(({n: d for n, d in cad_tree().items() if n != aside}, logs()),
                         (dict(UPDATED, **backups), ["ZynUpdate.ADD1", "ZynUpdate.LOG1"]))

        with zyn.Program(self.exe) as program:  # the new updater brings the old one back
            restore_through_the_dialog(program)
            self.assertFalse(program.wait_dialog().control(1009)["enabled"])  # no generation to delete
            program.click(program.wait_dialog(), 1006)
            self.assertEqual(program.wait_exit(), 0)
        # The added file goes with the folder made for it, as it was not changed since; safety copies lie beside.
        safety = {name + ".ORG": UPDATED[name] for name in INSTALLED if "ZynCad.exe" not in name}
        restored = dict(INSTALLED, **safety)
        self.assertEqual(({n: d for n, d in cad_tree().items() if ".ZYNOLD" not in n}, logs()), (restored, []))
        self.assertFalse(os.path.exists(zyn.linux_path("D:\\CAD\\new")))

        # "-DELBAK" deletes every generation, beyond a gap too, without a question; safety copies stay.
        for g in (1, 2, 3, 5):
            backups = ["D:\\CAD\\bin\\%s.BAK%d" % (name, g) for name in ("a", "b")]
            for backup in backups:
                zyn.write_file(backup, "backup")
            zyn.write_file("%s\\ZynUpdate.LOG%d" % (PROGRAM_FOLDER, g), "".join(b + "\r\n" for b in backups))
        with zyn.Program(self.exe, ["-DELBAK"]) as program:
            self.assertEqual(program.run_to_end([]), 0)
        self.assertEqual((cad_tree(), logs()), (restored, []))  # and the updater put aside is gone

    def test_files_held_by_other_programs_stop_the_update_until_they_end(self):
        with zyn.Program(self.exe, ["-AUTO", "-H", "D:\\Missing\\Manual.chm"]) as program:  # no folder for the log
            self.assertEqual(program.run_to_end([("合番", "Yes"), ("復元ﾛｸﾞﾌｧｲﾙ[D:\\Missing\\Manual.LOG1]をｵｰﾌﾟﾝできません", "OK"),
                                                 ("更新を中断しました", "OK")]), 0)
        self.assertEqual(cad_tree(), INSTALLED)
        shutil.copytree(os.path.join(zyn.BUILD, "tools"), zyn.linux_path("D:\\tools"))
        # The DLL named in lower case: its users are found whatever the case.
        holders = [subprocess.Popen(["wine", "D:\\tools\\%s.exe" % tool, path, "120"], stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL)
                   for tool, path in [("holdfile", "D:\\CAD\\bin\\ZynCad.exe")] + [("loaddll", "d:\\cad\\bin\\zyncad.dll")] * 2]
        self.addCleanup(lambda: [holder.kill() for holder in holders])
        self.assertEqual(holders[0].stdout.readline().strip(), b"held")
        in_use = ["", "D:\\CAD\\bin\\ZynCad.exe", "D:\\CAD\\bin\\zyncad.dll (使用先:D:\\tools\\loaddll.exe "
                  "D:\\tools\\loaddll.exe)", "下記ﾌｧｲﾙが使用されています", "ｱﾌﾟﾘｹｰｼｮﾝを終了してから再試行ﾎﾞﾀﾝをｸﾘｯｸしてください"]

        def in_use_box(program, fetch_again):
            program.expect_box("合番", "Yes")
            again = program.expect_box("既に更新ﾌｧｲﾙ[D:\\tmp\\UPD350_2.EXE]が存在しています\n再度ﾀﾞｳﾝﾛｰﾄﾞしますか？", fetch_again)
            self.assertEqual((again.default_button, again.has_icon), (zyn.IDNO, True))
            for _ in range(30):  # Retry until both loaders have the DLL mapped
                box = program.wait_box(60)
                if box.text.count("loaddll") == 2:
                    break
                program.answer(box, "Retry")
            self.assertEqual((sorted(box.text.split("\n")), box.buttons), (sorted(in_use), [zyn.IDCANCEL, zyn.IDRETRY]))
            return box

        with zyn.Program(self.exe, ["-AUTO"]) as program:
            program.answer(in_use_box(program, "Yes"), "Cancel")
            self.assertEqual(program.run_to_end([("更新を中断しました", "OK")]), 0)
        self.assertEqual((cad_tree(), logs()), (INSTALLED, []))
        # The update file from before is used again, and a stale work folder is emptied first.
        os.remove(zyn.linux_path("D:\\srv\\UPD350.EXE"))
        zyn.write_file("D:\\~ZYN\\CAD\\stale.dat", "left over")
        with zyn.Program(self.exe, ["-AUTO"]) as program:
            box = in_use_box(program, "No")
            for holder in holders:
                holder.kill()
                holder.wait()
            program.answer(box, "Retry")
            self.assertEqual(program.run_to_end([("更新に成功しました", "OK"), ("ホルビアの起動に失敗しました", "OK")]), 0)
        self.assertEqual({n: d for n, d in cad_tree().items() if not n.endswith((".BAK1", ".ZYNOLD"))}, UPDATED)

    def test_a_kill_at_any_point_of_an_update_is_undone_at_the_next_start(self):
        installed = {"D:\\CAD\\parts\\p%03d" % i: bytes([i % 251]) * 16384 for i in range(300)}
        installed["D:\\CAD\\big.dll"] = b"%07d" % 7 * (6 << 20)
        update = {name: data + b"2" for name, data in installed.items()}
        installed.update(PROGRAM_FILES, **{"D:\\CAD\\Ver3.5": INSTALLED["D:\\CAD\\Ver3.5"]})
        exe = lay_out(self, installed, update)
        log = PROGRAM_FOLDER + "\\ZynUpdate.LOG1"
        backups = lambda: os.path.exists(zyn.linux_path(log)) and zyn.read_file(log).count(b"\n")  # noqa: E731
        with zyn.Program(exe, ["-AUTO"]) as program:
            program.expect_box("合番", "Yes")
            zyn.kill_when(program, PROGRAM_FOLDER, lambda _: backups() >= 40, "backups")
        self.assertIn("ZynUpdate.RUN1", logs(), "the update ended before it was killed")
        with zyn.Program(exe) as program:
            program.expect_box("前回中断された更新を元に戻しました")
            self.assertEqual((cad_tree(), logs()), (installed, []))
            program.click(program.wait_dialog(), 1006)

        # Killed while the large file is written beside it: the installed one stays whole.
        with zyn.Program(exe, ["-AUTO"]) as program:
            program.expect_box("合番", "Yes")
            program.expect_box("既に更新ﾌｧｲﾙ", "No")
            zyn.kill_when(program, "D:\\CAD", lambda names: "big.dll.ZYNNEW" in names, "its copy")
        self.assertIn(zyn.read_file("D:\\CAD\\big.dll"), (installed["D:\\CAD\\big.dll"], update["D:\\CAD\\big.dll"]))
        with zyn.Program(exe, ["-AUTO"]) as program:
            self.assertEqual(program.run_to_end([("前回中断された更新を元に戻しました", "OK"), ("合番", "Yes"), ("既に更新ﾌｧｲﾙ", "No"),
                                                 ("更新に成功しました", "OK"), ("ホルビアの起動に失敗しました", "OK")]), 0)
        with zyn.Program(exe) as program:
            restore_through_the_dialog(program)
        restored = {name: data for name, data in cad_tree().items() if not name.endswith(".ORG")}
        self.assertEqual((restored, logs()), (installed, []))

    def test_a_disk_that_fills_during_an_update_is_named_and_leaves_nothing_behind(self):
        zyn.clear_drive()
        installed = {"D:\\Full\\CAD\\s%02d" % i: b"%05d" % i * 4000 for i in range(10)}
        installed.update({"D:\\Full\\CAD\\big": b"b" * (2 << 20), "D:\\Full\\CAD\\Ver3.5": INSTALLED["D:\\CAD\\Ver3.5"]})
        update = {name: data + b"2" for name, data in installed.items() if "Ver" not in name}
        mount = zyn.linux_path("D:\\Full")
        os.makedirs(mount)
        room = sum(map(len, PROGRAM.values())) + sum(map(len, installed.values())) + (1 << 20)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % room, "tmpfs", mount]).returncode:
            self.skipTest("no small disk can be mounted here")
        self.addCleanup(subprocess.run, ["umount", mount])
        exe = lay_out(self, installed, update, folder="D:\\Full\\CAD\\Update", clear=False)
        with zyn.Program(exe, ["-AUTO"]) as program:
            # The backups are second names of the installed files; the new content fills the disk.
            self.assertEqual(program.run_to_end([("合番", "Yes"), ("ﾌｧｲﾙ[D:\\~ZYN\\Full\\CAD\\big]を[D:\\Full\\CAD"
                                                 "\\big]に更新できませんでした\nﾃﾞｨｽｸの空き容量が不足しています", "OK"),
                                                ("更新を中断しました", "OK")]), 0)
        program_files = {"D:\\Full\\CAD\\Update\\" + name: data for name, data in PROGRAM.items()}
        self.assertEqual((cad_tree("D:\\Full"), logs("D:\\Full\\CAD\\Update")), (dict(installed, **program_files), []))


if __name__ == "__main__":
    unittest.main()
