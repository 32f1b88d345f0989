"""The update check through the real program against the loopback update server:
the "-CHECK" and "-VER" exit codes, the dialog's 更新を確認 with its pane and status
line, the simple dialog's check as it opens, the restore preparation, and a
settings file that is missing."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
import updates  # noqa: E402
import zyn  # noqa: E402
from update_server import UpdateServer  # noqa: E402

INI = "D:\\CAD\\Update\\ZynUpdate.ini"
INSTALLED_TEXT = updates.ver_text("ravaZAZ", "3.5", 3)
INFORMATION = 0x40


def pane_ready(window):
    """The main dialog once an operation is prepared (実行 enabled)."""
    return window.is_main_dialog and window.enabled and window.control(1005)["enabled"]


class UpdateCheck(unittest.TestCase):
    def setUp(self):
        zyn.clear_drive()
        # The server serves drive D:, and its update folder is D:\srv\zyn\.
        self.server = UpdateServer(zyn.DRIVE_D).start()
        self.addCleanup(self.server.stop)
        os.makedirs(zyn.linux_path("D:\\srv\\zyn"))
        zyn.write_file("D:\\CAD\\Ver3.5", INSTALLED_TEXT)
        self.folder_url = self.server.url("srv/zyn/")

    def install(self, **settings):
        values = {"FixDirUrl": self.folder_url, "FixFileName": "UPD"}
        values.update(settings)
        return zyn.install_program(settings=values)

    def publish(self, name, text):
        zyn.write_file("D:\\srv\\zyn\\" + name, text)

    def test_check_exit_code_is_the_newer_revision(self):
        exe = self.install()
        # The revision is the number after the last "No.".
        self.publish("Ver3.5", updates.ver_text("ravaZAZ", "3.5", 5, ["・図面出力の不具合修正 (No.12)"]))
        with zyn.Program(exe, ["-CHECK"]) as program:
            self.assertEqual(program.run_to_end(), 12)
        self.assertEqual([path for path, _ in self.server.requests], ["/srv/zyn/Ver3.5"])
        self.assertRegex(self.server.agents()[0], r"^ZynUpdate MODE:0 OS:\d+\.\d+\.\d+\(x64\) CPU:\d+\.")

        self.publish("Ver3.5", updates.ver_text("ravaZAZ", "3.5", 3))
        with zyn.Program(exe, ["-CHECK"]) as program:
            self.assertEqual(program.run_to_end(), 0)  # same revision: quietly none

    def test_ver_exit_code_is_the_newest_published_version(self):
        exe = self.install()
        self.publish("Ver3.6", "")
        self.publish("Ver3.8", "")
        self.publish("Ver4.6", "")  # eleven steps on: never asked for
        with zyn.Program(exe, ["-VER"]) as program:
            self.assertEqual(program.run_to_end(), 380)
        probes = ["/srv/zyn/Ver%.1f" % (code / 100) for code in range(360, 451, 10)]
        self.assertEqual([path for path, _ in self.server.requests], probes)

    def test_dialog_check_shows_the_update_contents(self):
        exe = self.install()
        server_text = updates.ver_text("ravaZAZ", "3.5", 12, ["・鋼材データ追加", "・図面出力の不具合修正"])
        self.publish("Ver3.5", server_text)
        with zyn.Program(exe) as program:
            dialog = program.wait_dialog()
            self.assertEqual(dialog.caption, "ravaZAZオンラインアップデート")
            self.assertFalse(dialog.control(1005)["enabled"])
            program.click(dialog, 1000)
            box = program.expect_box("ﾘﾋﾞｼﾞｮﾝ[12]への更新ﾌｧｲﾙがあります")
            self.assertEqual(box.text, "ﾘﾋﾞｼﾞｮﾝ[12]への更新ﾌｧｲﾙがあります")
            self.assertEqual(box.caption, "ZynUpdate")
            self.assertTrue(box.has_icon)
            dialog = program.wait_window(pane_ready, what="prepared update")
            self.assertEqual(dialog.text_of(1002), "更新内容は以下の通りです\r\n\r\n" + server_text.decode("cp932"))
            self.assertEqual(dialog.text_of(1007), "専用CADﾌｫﾙﾀﾞ:D:\\CAD\\ 現ﾊﾞｰｼﾞｮﾝ:3.5(ﾘﾋﾞｼﾞｮﾝ.3)")
            self.assertTrue(dialog.control(1000)["checked"])
            zyn.screenshot(os.path.join(zyn.BUILD, "check-update-prepared.png"))

            # Once the server holds nothing newer, the check leaves the dialog idle.
            self.publish("Ver3.5", INSTALLED_TEXT)
            program.click(dialog, 1000)
            program.expect_box("現在のﾘﾋﾞｼﾞｮﾝの更新ﾌｧｲﾙはありません")
            dialog = program.wait_window(lambda w: w.is_main_dialog and w.enabled and not w.text_of(1002),
                                         what="idle dialog")
            self.assertFalse(dialog.control(1005)["enabled"])
            self.assertFalse(dialog.control(1000)["checked"])
            program.click(dialog, 1006)
            self.assertEqual(program.wait_exit(), 0)

    def test_simple_dialog_checks_as_it_opens(self):
        exe = self.install(DoviFixDirUrl=self.folder_url, DoviFixFileName="DOV")
        self.publish("Ver3.5", updates.ver_text("ホルビア", "3.5", 4))
        with zyn.Program(exe, ["-DOVI"]) as program:
            # Mode 1 finds the update without announcing it.
            dialog = program.wait_window(pane_ready, what="simple dialog with 実行 enabled")
            self.assertEqual(dialog.caption, "ホルビアオンラインアップデート")
            self.assertEqual(program.boxes, [])
            self.assertFalse(any(w.is_message_box for w in program.windows()))
            program.click(dialog, 1006)
            self.assertEqual(program.wait_exit(), 0)
        self.assertTrue(self.server.agents()[0].startswith("ZynUpdate MODE:1 "))

    def test_restore_preparation_shows_the_newest_log(self):
        exe = self.install()
        zyn.write_file("D:\\CAD\\Update\\ZynUpdate.LOG1", "D:\\CAD\\bin\\a.dll.BAK1\r\n")
        zyn.write_file("D:\\CAD\\Update\\ZynUpdate.LOG2", "D:\\CAD\\bin\\b.dll.BAK2\r\nD:\\CAD\\鋼材.csv.BAK2\r\n")
        with zyn.Program(exe) as program:
            dialog = program.wait_dialog()
            self.assertTrue(dialog.control(1009)["enabled"])
            program.click(dialog, 1001)
            box = program.expect_box("2回の復元が可能です")
            self.assertTrue(box.has_icon)
            dialog = program.wait_window(pane_ready, what="prepared restore")
            self.assertEqual(dialog.text_of(1002),
                             "復元ﾛｸﾞﾌｧｲﾙ[D:\\CAD\\Update\\ZynUpdate.LOG2]の内容は以下の通りです\r\n\r\n"
                             "D:\\CAD\\bin\\b.dll.BAK2\r\nD:\\CAD\\鋼材.csv.BAK2\r\n")
            program.click(dialog, 1006)
            self.assertEqual(program.wait_exit(), 0)
        self.assertEqual(self.server.requests, [])

    def test_missing_settings_end_the_dialog_and_the_check(self):
        exe = zyn.install_program(settings=None)
        message = "設定ﾌｧｲﾙ[%s]から更新ﾌｧｲﾙ格納ﾃﾞｨﾚｸﾄﾘURLの取得に失敗しました" % INI
        with zyn.Program(exe) as program:
            box = program.wait_box()
            self.assertEqual((box.text, box.caption, box.buttons, box.has_icon), (message, "ZynUpdate", [1], False))
            program.answer(box)
            self.assertEqual(program.wait_exit(), 0)  # the dialog closed with the cancel result
        with zyn.Program(exe, ["-CHECK"]) as program:
            self.assertEqual(program.run_to_end([(message, "OK")]), 0)
        self.assertEqual(self.server.requests, [])


if __name__ == "__main__":
    unittest.main()
