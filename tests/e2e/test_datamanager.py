"""The data-manager program after an update: started only after a successful
update, from the CAD folder, with " -NAME dovi"; in the unattended run always, in
product mode 1 when the user says Yes."""
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

RECORD = "D:\\CAD\\ZynImpDataManager.args"  # written by the stand-in when it runs


def lay_out_installation():
    zyn.clear_drive()
    zyn.write_file("D:\\CAD\\Ver3.5", "ravaZAZ Ver3.5 (No.3)\r\n")
    shutil.copy(os.path.join(zyn.BUILD, "tools", "ZynImpDataManager.exe"), zyn.linux_path("D:\\CAD"))
    # Nothing listens on the discard port: the update cannot succeed.
    return zyn.install_program(settings={"FixDirUrl": "http://127.0.0.1:9/zyn/", "FixFileName": "UPD"})


class UnattendedRun(unittest.TestCase):
    def test_aborted_update_starts_nothing(self):
        exe = lay_out_installation()
        with zyn.Program(exe, ["-AUTO", "-HOME", "D:\\CAD"]) as program:
            self.assertEqual(program.run_to_end(others="first"), 0)
            texts = [box.text for box in program.boxes]
        self.assertEqual(texts[-1], "更新を中断しました")
        self.assertNotIn("ホルビアの起動に失敗しました。", texts)
        time.sleep(1)  # a wrongly started stand-in would have written its record by now
        self.assertFalse(zyn.exists(RECORD))


class AfterASuccessfulUpdate(unittest.TestCase):
    """A real update from the loopback server, then the start of the stand-in."""

    def setUp(self):
        zyn.clear_drive()
        self.server = UpdateServer(zyn.DRIVE_D).start()
        self.addCleanup(self.server.stop)
        zyn.write_file("D:\\CAD\\Ver3.5", updates.ver_text("ravaZAZ", "3.5", 1))
        zyn.write_file("D:\\CAD\\bin\\a.dll", b"old")
        updates.publish(zyn.linux_path("D:\\srv"), "3.5", 2,
                        {"CAD/bin/a.dll": b"new", "CAD/Ver3.5": updates.ver_text("ravaZAZ", "3.5", 2)})
        url = self.server.url("srv/")
        self.settings = {"FixDirUrl": url, "FixFileName": "UPD", "DoviFixDirUrl": url, "DoviFixFileName": "UPD",
                         "7qvFixDirUrl": url, "7qvFixFileName": "UPD"}

    def install(self, with_stand_in=True):
        if with_stand_in:
            shutil.copy(os.path.join(zyn.BUILD, "tools", "ZynImpDataManager.exe"), zyn.linux_path("D:\\CAD"))
        return zyn.install_program(settings=self.settings)

    def recorded_command_line(self, timeout=10):
        deadline = time.time() + timeout
        while not zyn.exists(RECORD) and time.time() < deadline:
            time.sleep(0.1)
        return zyn.read_file(RECORD).decode("cp932")

    def test_unattended_update_starts_the_data_manager_and_logs_it(self):
        exe = self.install()
        # The reader of the diagnostic log, as the console program would create it.
        reader = subprocess.Popen(["wine", os.path.join(zyn.BUILD, "tools", "slotreader.exe"), "3"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(reader.kill)
        self.assertEqual(reader.stdout.readline().strip(), b"ready")
        with zyn.Program(exe, ["-AUTO", "-HOME", "D:\\CAD"]) as program:
            self.assertEqual(program.run_to_end([("合番", "Yes"), ("更新に成功しました", "OK")]), 0)
        self.assertEqual(zyn.read_file("D:\\CAD\\bin\\a.dll"), b"new")
        self.assertEqual(self.recorded_command_line(), "D:\\CAD\\ZynImpDataManager.exe -NAME dovi")
        log, _ = reader.communicate(timeout=30)
        self.assertEqual(log.decode("cp932").splitlines(),
                         ["RixCmdExecute CmdLine=[D:\\CAD\\ZynImpDataManager.exe -NAME dovi] cmd_mode=1 wait_flg=0 "
                          "nRet=0 dwExitCode=0"])

    def test_unattended_simple_mode_asks_nothing_and_keeps_no_backup(self):
        exe = self.install()
        with zyn.Program(exe, ["-AUTO", "-7QV", "-HOME", "D:\\CAD"]) as program:
            self.assertEqual(program.run_to_end([("更新に成功しました", "OK")]), 0)
        self.assertEqual(zyn.read_file("D:\\CAD\\bin\\a.dll"), b"new")
        self.assertFalse(zyn.exists("D:\\CAD\\bin\\a.dll.BAK1"))
        self.assertFalse(zyn.exists("D:\\CAD\\Update\\ZynUpdate.LOG1"))
        self.assertEqual(self.recorded_command_line(), "D:\\CAD\\ZynImpDataManager.exe -NAME dovi")

    def test_mode_1_asks_and_closes_after_a_started_data_manager(self):
        exe = self.install()
        with zyn.Program(exe, ["-DOVI", "-HOME", "D:\\CAD"]) as program:
            dialog = program.wait_window(lambda w: w.is_main_dialog and w.control(1005)["enabled"],
                                         what="simple dialog with 実行")
            self.assertEqual(program.boxes, [])  # mode 1 does not announce the update
            program.click(dialog, 1005)
            program.expect_box("更新に成功しました")
            question = program.expect_box("ホルビアを起動しますか？", "Yes")
            self.assertEqual(question.buttons, [zyn.IDYES, zyn.IDNO])
            self.assertFalse(question.has_icon)
            self.assertEqual(program.wait_exit(), 0)  # the dialog closed by itself
        self.assertEqual(self.recorded_command_line(), "D:\\CAD\\ZynImpDataManager.exe -NAME dovi")

    def test_mode_1_keeps_the_dialog_when_the_start_fails_or_is_declined(self):
        exe = self.install(with_stand_in=False)
        with zyn.Program(exe, ["-DOVI", "-HOME", "D:\\CAD"]) as program:
            dialog = program.wait_window(lambda w: w.is_main_dialog and w.control(1005)["enabled"],
                                         what="simple dialog with 実行")
            program.click(dialog, 1005)
            program.expect_box("更新に成功しました")
            program.expect_box("ホルビアを起動しますか？", "Yes")
            program.expect_box("ホルビアの起動に失敗しました。")
            dialog = program.wait_dialog()
            self.assertFalse(dialog.control(1005)["enabled"])  # the update has run: only 終了 is left
            program.click(dialog, 1006)
            self.assertEqual(program.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main()
