"""Backups end to end through the real ZynUpdate.exe, with the update on a loopback server."""
import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
import updates  # noqa: E402
import zyn  # noqa: E402
from update_server import UpdateServer  # noqa: E402

PROGRAM_FOLDER = "D:\\CAD\\Update"
with open(os.path.join(zyn.BUILD, "unzip32.dll"), "rb") as f:
    DLL = f.read()  # a real DLL, so that a helper program can keep it loaded
INSTALLED = {"D:\\CAD\\Ver3.5": updates.ver_text("ravaZAZ", "3.5", 1), "D:\\CAD\\bin\\zyncad.dll": DLL,
             "D:\\CAD\\bin\\ZynCad.exe": b"main 1\r\n", "D:\\CAD\\表示\\表.txt": "形鋼\r\n".encode("cp932")}
UPDATED = {"D:\\CAD\\Ver3.5": updates.ver_text("ravaZAZ", "3.5", 2), "D:\\CAD\\bin\\zyncad.dll": DLL + b"\x002",
           "D:\\CAD\\bin\\ZynCad.exe": b"main 1\r\n",  # unchanged: no backup
           "D:\\CAD\\表示\\表.txt": "形鋼\r\n断面\r\n".encode("cp932"), "D:\\CAD\\new\\a.csv": b"added"}


def cad_tree():
    tree = {}
    for folder, _, files in os.walk(zyn.linux_path("D:\\CAD")):
        for name in files:
            windows = "D:\\" + os.path.relpath(os.path.join(folder, name), zyn.DRIVE_D).replace("/", "\\")
            if not windows.startswith(PROGRAM_FOLDER):
                tree[windows] = zyn.read_file(windows)
    return tree


def logs():
    return sorted(n for n in os.listdir(zyn.linux_path(PROGRAM_FOLDER)) if ".LOG" in n)


def lay_out(test, installed, update, adjust_offsets=True):
    zyn.clear_drive()
    for name, content in installed.items():
        zyn.write_file(name, content)
    server = UpdateServer(zyn.DRIVE_D).start()
    test.addCleanup(server.stop)
    members = {name[3:].replace("\\", "/"): data for name, data in update.items()}
    updates.publish(zyn.linux_path("D:\\srv"), "3.5", 2, members, adjust_offsets=adjust_offsets)
    return zyn.install_program(PROGRAM_FOLDER, settings={"FixDirUrl": server.url("srv/"), "FixFileName": "UPD"})


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
        with zyn.Program(self.exe) as program:
            program.click(program.wait_dialog(), 1000)  # 更新を確認
            program.expect_box("ﾘﾋﾞｼﾞｮﾝ[2]への更新ﾌｧｲﾙがあります")
            program.click(program.wait_dialog(), 1005)
            program.expect_box("合番が変更される可能性があります", "Yes")
            program.expect_box("更新に成功しました", timeout=60)
            backups = {name + ".BAK1": INSTALLED[name] for name in INSTALLED if "ZynCad.exe" not in name}
            self.assertEqual(cad_tree(), dict(UPDATED, **backups))
            self.assertEqual(logs(), ["ZynUpdate.LOG1"])

            restore_through_the_dialog(program)
            self.assertFalse(program.wait_dialog().control(1009)["enabled"])  # no generation to delete
            program.click(program.wait_dialog(), 1006)
            self.assertEqual(program.wait_exit(), 0)
        # A restore knows only the backups: the added file stays, safety copies lie beside.
        safety = {name + ".ORG": UPDATED[name] for name in INSTALLED if "ZynCad.exe" not in name}
        restored = dict(INSTALLED, **safety, **{"D:\\CAD\\new\\a.csv": b"added"})
        self.assertEqual((cad_tree(), logs()), (restored, []))

        # "-DELBAK" deletes every generation up to a gap, without a question; safety copies stay.
        for g in (1, 2, 3, 5):
            backups = ["D:\\CAD\\bin\\%s.BAK%d" % (name, g) for name in ("a", "b")]
            for backup in backups:
                zyn.write_file(backup, "backup")
            zyn.write_file("%s\\ZynUpdate.LOG%d" % (PROGRAM_FOLDER, g), "".join(b + "\r\n" for b in backups))
        with zyn.Program(self.exe, ["-DELBAK"]) as program:
            self.assertEqual(program.run_to_end([]), 0)
        restored.update({"D:\\CAD\\bin\\a.BAK5": b"backup", "D:\\CAD\\bin\\b.BAK5": b"backup"})
        self.assertEqual((cad_tree(), logs()), (restored, ["ZynUpdate.LOG5"]))

    def test_files_held_by_other_programs_stop_the_update_until_they_end(self):
        with zyn.Program(self.exe, ["-AUTO", "-H", "D:\\Missing\\Manual.chm"]) as program:  # no folder for the log
            self.assertEqual(program.run_to_end([("合番", "Yes"), ("復元ﾛｸﾞﾌｧｲﾙ[D:\\Missing\\Manual.LOG1]をｵｰﾌﾟﾝできません", "OK"),
                                                 ("更新を中断しました", "OK")]), 0)
        self.assertEqual(cad_tree(), INSTALLED)
        shutil.copytree(os.path.join(zyn.BUILD, "tools"), zyn.linux_path("D:\\tools"))
        # The DLL named in lower case: its users are found whatever the case.
        holders = [subprocess.Popen(["wine", "D:\\tools\\%s.exe" % tool, path, "120"], stderr=subprocess.DEVNULL)
                   for tool, path in [("holdfile", "D:\\CAD\\bin\\ZynCad.exe")] + [("loaddll", "d:\\cad\\bin\\zyncad.dll")] * 2]
        self.addCleanup(lambda: [holder.kill() for holder in holders])
        deadline = time.time() + 60  # a second holdfile fails (exit code 1) once the first holds the file
        while subprocess.run(["wine", "D:\\tools\\holdfile.exe", "D:\\CAD\\bin\\ZynCad.exe", "0"]).returncode != 1:
            self.assertLess(time.time(), deadline)
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
        zyn.write_file("D:\\tmp\\ZynUpdate\\CAD\\stale.dat", "left over")
        with zyn.Program(self.exe, ["-AUTO"]) as program:
            box = in_use_box(program, "No")
            for holder in holders:
                holder.kill()
                holder.wait()
            program.answer(box, "Retry")
            self.assertEqual(program.run_to_end([("更新に成功しました", "OK"), ("ホルビアの起動に失敗しました", "OK")]), 0)
        self.assertEqual({n: d for n, d in cad_tree().items() if ".BAK1" not in n}, UPDATED)

    def test_a_restore_after_a_kill_gives_back_the_tree(self):  # the log a kill leaves names every backup
        installed = {"D:\\CAD\\parts\\p%03d" % i: bytes([i % 251]) * 16384 for i in range(400)}
        update = {name: data + b"2" for name, data in installed.items()}
        installed["D:\\CAD\\Ver3.5"] = INSTALLED["D:\\CAD\\Ver3.5"]
        exe = lay_out(self, installed, update)
        log = PROGRAM_FOLDER + "\\ZynUpdate.LOG1"
        with zyn.Program(exe, ["-AUTO"]) as program:
            program.expect_box("合番", "Yes")
            deadline = time.time() + 60
            while not (os.path.exists(zyn.linux_path(log)) and zyn.read_file(log).count(b"\n") >= 40):
                self.assertLess(time.time(), deadline, "the replacement never started: %r" % program.windows())
                time.sleep(0.002)
            program.call("kill")
            program.wait_exit()
        self.assertLess(zyn.read_file(log).count(b"\n"), 400, "the update ended before it was killed")
        with zyn.Program(exe) as program:
            restore_through_the_dialog(program)
        # A kill between a backup and its log line may leave that backup unlisted beside an untouched file.
        restored = {name: data for name, data in cad_tree().items() if not name.endswith((".ORG", ".BAK1"))}
        self.assertEqual((restored, logs()), (installed, []))


if __name__ == "__main__":
    unittest.main()
