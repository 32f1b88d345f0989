"""Backups end to end through the real ZynUpdate.exe: an update from a loopback
server and its restore through the full dialog, and "-DELBAK" on the command line."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
import updates  # noqa: E402
import zyn  # noqa: E402
from update_server import UpdateServer  # noqa: E402

PROGRAM_FOLDER = "D:\\CAD\\Update"

INSTALLED = {
    "CAD\\Ver3.5": updates.ver_text("ravaZAZ", "3.5", 1),
    "CAD\\bin\\zyncad.dll": b"engine 1\r\n\x00\x01\x02",
    "CAD\\bin\\ZynCad.exe": b"main program 1\r\n",
    "CAD\\data\\steel.csv": "形鋼,H-200x100\r\n".encode("cp932"),
}
UPDATE = {
    "CAD/Ver3.5": updates.ver_text("ravaZAZ", "3.5", 2),
    "CAD/bin/zyncad.dll": b"engine 2\r\n\x00\x01\x02\x03",
    "CAD/bin/ZynCad.exe": b"main program 1\r\n",  # unchanged: no backup
    "CAD/data/steel.csv": "形鋼,H-200x100\r\n形鋼,H-250x125\r\n".encode("cp932"),
    "CAD/data/sections.csv": "新規断面\r\n".encode("cp932"),  # new to the installation
}


def cad_tree():
    """Every file under D:\\CAD outside the program folder: Windows name -> bytes."""
    root = zyn.linux_path("D:\\CAD")
    tree = {}
    for folder, _, files in os.walk(root):
        if folder.startswith(zyn.linux_path(PROGRAM_FOLDER)):
            continue
        for name in files:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                tree["D:\\" + os.path.relpath(path, zyn.DRIVE_D).replace("/", "\\")] = f.read()
    return tree


def logs():
    return sorted(n for n in os.listdir(zyn.linux_path(PROGRAM_FOLDER)) if ".LOG" in n)


class DialogUpdateAndRestore(unittest.TestCase):
    def setUp(self):
        zyn.clear_drive()
        for name, content in INSTALLED.items():
            zyn.write_file("D:\\" + name, content)
        server = UpdateServer(zyn.DRIVE_D).start()
        self.addCleanup(server.stop)
        updates.publish(zyn.linux_path("D:\\srv"), "3.5", 2, UPDATE)
        self.exe = zyn.install_program(PROGRAM_FOLDER, settings={"FixDirUrl": server.url("srv/"), "FixFileName": "UPD"})

    def test_update_then_restore_gives_back_every_byte(self):
        before = cad_tree()
        with zyn.Program(self.exe) as program:
            dialog = program.wait_dialog()
            program.click(dialog, 1000)  # 更新を確認
            program.expect_box("ﾘﾋﾞｼﾞｮﾝ[2]への更新ﾌｧｲﾙがあります")
            dialog = program.wait_dialog()
            program.click(dialog, 1005)  # 実行
            program.expect_box("合番が変更される可能性があります", "Yes")
            program.expect_box("更新に成功しました", timeout=60)
            dialog = program.wait_dialog()
            self.assertTrue(dialog.control(1009)["enabled"])  # a generation to delete now

            after = cad_tree()
            self.assertEqual(after["D:\\CAD\\bin\\zyncad.dll"], UPDATE["CAD/bin/zyncad.dll"])
            self.assertEqual(after["D:\\CAD\\data\\sections.csv"], UPDATE["CAD/data/sections.csv"])
            self.assertEqual(after["D:\\CAD\\bin\\zyncad.dll.BAK1"], INSTALLED["CAD\\bin\\zyncad.dll"])
            self.assertNotIn("D:\\CAD\\bin\\ZynCad.exe.BAK1", after)
            self.assertEqual(logs(), ["ZynUpdate.LOG1"])
            listed = zyn.read_file(PROGRAM_FOLDER + "\\ZynUpdate.LOG1").decode("cp932").split("\r\n")
            self.assertEqual(sorted(line for line in listed if line),
                             ["D:\\CAD\\Ver3.5.BAK1", "D:\\CAD\\bin\\zyncad.dll.BAK1", "D:\\CAD\\data\\steel.csv.BAK1"])

            program.click(dialog, 1001)  # 更新前の状態に復元
            program.expect_box("1回の復元が可能です")
            dialog = program.wait_dialog()
            self.assertIn("zyncad.dll.BAK1", dialog.text_of(1002))  # the pane shows the log
            program.click(dialog, 1005)
            program.expect_box("復元に成功しました", timeout=60)
            dialog = program.wait_dialog()
            self.assertFalse(dialog.control(1009)["enabled"])
            program.click(dialog, 1006)
            self.assertEqual(program.wait_exit(), 0)

        restored = cad_tree()
        self.assertEqual(logs(), [])
        self.assertFalse([name for name in restored if ".BAK" in name])
        # A restore knows only the backups: the added file stays, and safety copies lie beside.
        self.assertEqual(restored.pop("D:\\CAD\\data\\sections.csv"), UPDATE["CAD/data/sections.csv"])
        self.assertEqual(restored.pop("D:\\CAD\\bin\\zyncad.dll.ORG"), UPDATE["CAD/bin/zyncad.dll"])
        restored = {name: data for name, data in restored.items() if not name.endswith(".ORG")}
        self.assertEqual(restored, before)


def lay_out_generations(count, log_folder=PROGRAM_FOLDER, base="ZynUpdate"):
    """count generations of two backups each, written as an update leaves them."""
    for g in range(1, count + 1):
        lines = []
        for name in ("a.dll", "b.dll"):
            backup = "D:\\CAD\\bin\\%s.BAK%d" % (name, g)
            zyn.write_file(backup, "backup %d" % g)
            lines.append(backup)
        zyn.write_file("%s\\%s.LOG%d" % (log_folder, base, g), "".join(line + "\r\n" for line in lines))


class DeleteBackupsSwitch(unittest.TestCase):
    def setUp(self):
        zyn.clear_drive()
        zyn.write_file("D:\\CAD\\Ver3.5", updates.ver_text("ravaZAZ", "3.5", 1))
        zyn.write_file("D:\\CAD\\bin\\a.dll", "installed")
        zyn.write_file("D:\\CAD\\bin\\a.dll.ORG", "safety copy")
        self.exe = zyn.install_program(PROGRAM_FOLDER, settings={"FixDirUrl": "http://127.0.0.1:9/", "FixFileName": "UPD"})

    def test_every_generation_goes_without_a_question(self):
        lay_out_generations(3)
        zyn.write_file(PROGRAM_FOLDER + "\\ZynUpdate.LOG5", "D:\\CAD\\bin\\a.dll.BAK5\r\n")  # after a gap
        zyn.write_file("D:\\CAD\\bin\\a.dll.BAK5", "backup 5")
        with zyn.Program(self.exe, ["-DELBAK"]) as program:
            self.assertEqual(program.run_to_end([]), 0)
        self.assertEqual(logs(), ["ZynUpdate.LOG5"])
        self.assertEqual(sorted(cad_tree()), ["D:\\CAD\\Ver3.5", "D:\\CAD\\bin\\a.dll", "D:\\CAD\\bin\\a.dll.BAK5",
                                              "D:\\CAD\\bin\\a.dll.ORG"])

    def test_logs_follow_the_help_file(self):
        lay_out_generations(2, "D:\\Docs", "Manual")
        lay_out_generations(1)  # beside the program: not this run's logs
        with zyn.Program(self.exe, ["-H", "D:\\Docs\\Manual.chm", "-DELBAK"]) as program:
            self.assertEqual(program.run_to_end([]), 0)
        self.assertEqual(os.listdir(zyn.linux_path("D:\\Docs")), [])
        self.assertEqual(logs(), ["ZynUpdate.LOG1"])


class KilledInTheMiddle(unittest.TestCase):
    """The program dies while it replaces files; the generation it leaves still names
    every backup it made, so a restore through the program gives back every byte."""

    FILES = 400

    def test_restore_after_a_kill_gives_back_the_tree(self):
        zyn.clear_drive()
        installed = {"CAD\\Ver3.5": updates.ver_text("ravaZAZ", "3.5", 1)}
        update = {"CAD/Ver3.5": updates.ver_text("ravaZAZ", "3.5", 2)}
        for i in range(self.FILES):
            installed["CAD\\parts\\p%03d.dat" % i] = bytes([i % 251]) * 16384
            update["CAD/parts/p%03d.dat" % i] = bytes([(i + 1) % 251]) * 20000
        for name, content in installed.items():
            zyn.write_file("D:\\" + name, content)
        server = UpdateServer(zyn.DRIVE_D).start()
        self.addCleanup(server.stop)
        updates.publish(zyn.linux_path("D:\\srv"), "3.5", 2, update)
        exe = zyn.install_program(PROGRAM_FOLDER, settings={"FixDirUrl": server.url("srv/"), "FixFileName": "UPD"})
        before = cad_tree()

        log = zyn.linux_path(PROGRAM_FOLDER + "\\ZynUpdate.LOG1")
        with zyn.Program(exe, ["-AUTO"]) as program:
            program.expect_box("合番", "Yes")
            deadline = time.time() + 60
            polls = 0
            while not (os.path.exists(log) and zyn.read_file(PROGRAM_FOLDER + "\\ZynUpdate.LOG1").count(b"\n") >= 40):
                self.assertLess(time.time(), deadline, "the replacement never started: %r" % program.windows())
                polls += 1
                if polls % 100 == 0:  # a question in the way would otherwise cost the whole minute
                    boxes = [w for w in program.windows() if w.is_message_box]
                    self.assertEqual(boxes, [], "unexpected message box before the replacement")
                time.sleep(0.002)
            program.call("kill")
            program.wait_exit()
        listed = zyn.read_file(PROGRAM_FOLDER + "\\ZynUpdate.LOG1").count(b"\n")
        self.assertLess(listed, self.FILES, "the update ended before it was killed")
        self.assertNotEqual(cad_tree(), before)

        with zyn.Program(exe) as program:
            dialog = program.wait_dialog()
            program.click(dialog, 1001)  # 更新前の状態に復元
            program.expect_box("1回の復元が可能です")
            program.click(program.wait_dialog(), 1005)
            program.expect_box("復元に成功しました", timeout=60)
            program.click(program.wait_dialog(), 1006)
            self.assertEqual(program.wait_exit(), 0)

        # A kill between a backup copy and its log line leaves that copy unlisted beside an
        # untouched file; the installed files themselves must all be back.
        restored = {name: data for name, data in cad_tree().items()
                    if not name.endswith(".ORG") and not name.endswith(".BAK1")}
        self.assertEqual(restored, before)
        self.assertEqual(logs(), [])


if __name__ == "__main__":
    unittest.main()
