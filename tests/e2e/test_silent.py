"""-SILENT through the real ZynUpdate.exe with nobody at the screen: no window of any kind opens, the exit
code says how the update ended, and the log says what would have been shown."""
import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
import updates  # noqa: E402
import zyn  # noqa: E402
from test_backup import DLL, PROGRAM_FILES, cad_tree, lay_out  # noqa: E402

VER = {revision: updates.ver_text("ravaZAZ", "3.5", revision) for revision in (1, 2)}
INSTALLED = {"D:\\CAD\\Ver3.5": VER[1], "D:\\CAD\\bin\\zyncad.dll": DLL}
UPDATED = {"D:\\CAD\\Ver3.5": VER[2], "D:\\CAD\\bin\\zyncad.dll": DLL + b"2"}


def silent(test, exe, args=(), log="D:\\log\\run.log"):
    """Runs the program with -SILENT (and -LOG log unless None) to its end, failing if any window ever
    opens; its exit code and the new lines of the log, each without its time."""
    path = zyn.linux_path(log or "D:\\tmp\\ZynUpdate.log")
    before = os.path.getsize(path) if os.path.exists(path) else 0
    with zyn.Program(exe, ["-SILENT"] + list(args) + (["-LOG", log] if log else [])) as program:
        deadline = time.time() + 60
        while program.running():
            test.assertEqual(program.windows(), [])
            test.assertLess(time.time(), deadline)
            time.sleep(0.05)
        code = program.wait_exit(5)
    with open(path, "rb") as f:
        f.seek(before)
        lines = f.read().decode("utf-8").splitlines()
    test.assertTrue(all(line[4] == "-" and line[10] == "T" for line in lines), lines)  # ISO 8601 times
    return code, [line.split(" ", 1)[1] for line in lines]


class Silent(unittest.TestCase):
    def setUp(self):
        self.exe = lay_out(self, INSTALLED, UPDATED)
        os.makedirs(zyn.linux_path("D:\\log"))

    def test_each_ending_has_its_exit_code_and_the_log_says_why(self):
        settings = "D:\\CAD\\Update\\ZynUpdate.ini"
        good, ini = zyn.read_file("D:\\srv\\UPD350.EXE"), zyn.read_file(settings)
        shutil.copytree(os.path.join(zyn.BUILD, "tools"), zyn.linux_path("D:\\tools"))

        def hold_the_dll():
            holder = subprocess.Popen(["wine", "D:\\tools\\loaddll.exe", "D:\\CAD\\bin\\zyncad.dll", "60"],
                                      stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            self.addCleanup(holder.kill)
            self.assertEqual(holder.stdout.readline().strip(), b"held")
            return holder

        def another_copy():  # waiting at its question, it holds the installation
            copy = zyn.Program(self.exe, ["-AUTO"])
            copy.wait_box()
            return copy

        rows = [  # what the server or the machine does, the exit code, a line the log must hold
            ("the archive damaged", lambda: zyn.write_file("D:\\srv\\UPD350.EXE", good[:-60]), 40,
             "は正しい更新ｱｰｶｲﾌﾞではないため削除しました"),
            ("a DLL held by a program", hold_the_dll, 30, "(使用先:D:\\tools\\loaddll.exe)"),
            ("another copy at work", another_copy, 50, "別のZynUpdateが[D:\\CAD\\]を処理中です"),
            ("the server down", lambda: zyn.write_file(settings, ini.replace(b"http://127.0.0.1:", b"http://127.0.0.1:9")),
             20, "[CZynUpdateDlg::ReadUrlFile] 指定URL["),
        ]
        for what, arrange, code, line in rows:
            zyn.write_file("D:\\srv\\UPD350.EXE", good)
            made = arrange()
            try:
                result, log = silent(self, self.exe)
            finally:
                if made:
                    (made.close if isinstance(made, zyn.Program) else made.kill)()
            self.assertEqual(result, code, (what, log))
            self.assertTrue([entry for entry in log if line in entry], (what, log))
            self.assertEqual(log[-1], "終了ｺｰﾄﾞ: %d" % code, what)
        self.assertEqual(cad_tree(), dict(INSTALLED, **PROGRAM_FILES))

    def test_an_update_then_nothing_newer_and_a_refused_signature(self):
        code, log = silent(self, self.exe, log=None)  # the log in %TEMP% by default
        self.assertEqual((code, log[-3:]), (0, ["[ZynUpdate] 更新に成功しました -> OK",
                                               "[ZynUpdate] ホルビアの起動に失敗しました。 -> OK", "終了ｺｰﾄﾞ: 0"]))
        self.assertIn("[ZynUpdate] 合番固定している工事で最新の状態に更新すると / 合番が変更される可能性があります。 / "
                      "続行してもよろしいですか？ -> Yes", log)
        self.assertIn("開始: 更新中", log)
        self.assertEqual({name: data for name, data in cad_tree().items() if ".BAK" not in name},
                         dict(UPDATED, **PROGRAM_FILES))
        self.assertEqual(silent(self, self.exe)[0], 10)
        zyn.write_file("D:\\srv\\Ver3.5", updates.ver_text("ravaZAZ", "3.5", 3))
        settings = zyn.read_file("D:\\CAD\\Update\\ZynUpdate.ini")
        zyn.write_file("D:\\CAD\\Update\\ZynUpdate.ini", settings + b"PublicKey=" + b"A" * 86 + b"==\r\n")
        code, log = silent(self, self.exe)
        self.assertEqual(code, 21, log)
        zyn.write_file("D:\\CAD\\Update\\ZynUpdate.ini", settings)
        self.assertEqual(silent(self, self.exe, ["-CHECK"])[0], 3)  # the scripts' questions keep their codes


if __name__ == "__main__":
    unittest.main()
