"""The update check through the real program: installed version, settings, -CHECK, -VER, dialog, data manager."""
import os
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
import updates  # noqa: E402
import zyn  # noqa: E402
from update_server import UpdateServer  # noqa: E402

INSTALLED_TEXT = updates.ver_text("ravaZAZ", "3.5", 3)
NO_VER_FILE = "以下にVer*ﾌｧｲﾙが存在しませんでした"
NO_VERSION = "ravaZAZのﾊﾞｰｼﾞｮﾝを取得できませんでした"
SETTINGS = "設定ﾌｧｲﾙ[D:\\CAD\\Update\\ZynUpdate.ini]から"
BS_AUTORADIOBUTTON, BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_GROUPBOX, BS_PUSHLIKE = 9, 0, 1, 7, 0x1000
BUTTON, EDIT = 0xF | BS_PUSHLIKE, 0x4 | 0x800 | 0x200000  # ES_MULTILINE | ES_READONLY | WS_VSCROLL
FULL_DIALOG = {  # id: text, the style bits looked at, their value
    1000: ("更新を確認", BUTTON, BS_AUTORADIOBUTTON | BS_PUSHLIKE),
    1001: ("更新前の状態に復元", BUTTON, BS_AUTORADIOBUTTON | BS_PUSHLIKE),
    1002: ("", EDIT, EDIT), 1005: ("実行", BUTTON, BS_DEFPUSHBUTTON), 1006: ("終了", BUTTON, BS_PUSHBUTTON),
    1007: ("", 0, 0), 1009: ("退避ファイル削除", BUTTON, BS_PUSHBUTTON), 0xFFFF: ("処理選択", 0xF, BS_GROUPBOX)}


def check_template(test, dialog, caption, controls):
    """The dialog as its template makes it, idle: nothing prepared, no radio checked, no generation to delete."""
    test.assertEqual(dialog.caption, caption + "オンラインアップデート")
    looked_at = {i: controls.get(i, ("", 0, 0))[1] for i in dialog.controls}
    test.assertEqual({i: (c["text"], looked_at[i], c["style"] & looked_at[i]) for i, c in dialog.controls.items()},
                     controls)
    test.assertFalse([i for i in (1000, 1001, 1005, 1009) if i in dialog.controls and
                      (dialog.control(i).get("checked") or i > 1001 and dialog.control(i)["enabled"])])
    zyn.screenshot(os.path.join(zyn.BUILD, "dialog-%s.png" % caption))


def recorded_start(seconds=10):  # the command line the data manager's stand-in was started with
    record = zyn.linux_path("D:\\CAD\\ZynImpDataManager.args")
    deadline = time.time() + seconds
    while not os.path.exists(record) and time.time() < deadline:
        time.sleep(0.05)
    return zyn.read_file("D:\\CAD\\ZynImpDataManager.args") if os.path.exists(record) else None


def files_left(folder="D:\\tmp"):
    return [name for _, _, names in os.walk(zyn.linux_path(folder)) for name in names]


class UpdateCheck(unittest.TestCase):
    def setUp(self):
        zyn.clear_drive()
        self.server = UpdateServer(zyn.DRIVE_D).start()
        self.addCleanup(self.server.stop)
        zyn.write_file("D:\\CAD\\Ver3.5", INSTALLED_TEXT)
        self.exe = zyn.install_program(settings={"FixDirUrl": self.server.url("srv/"), "FixFileName": "UPD",
                                                 "DoviFixDirUrl": self.server.url("srv/")})

    def run_to_end(self, args, boxes=(), code=0, env=None):
        """Runs the program to its exit code; boxes are the exact texts of its boxes, each answered OK."""
        with zyn.Program(self.exe, args, env) as program:
            self.assertEqual(program.run_to_end([(text, "OK") for text in boxes]), code)
        self.assertEqual([box.text for box in program.boxes], list(boxes))

    def test_check_and_ver_exit_codes(self):
        self.run_to_end(["-CHECK"])  # nothing published: quietly none
        # The revision is the number after the last "No." in the text read: many reads' worth, cut at the limit.
        long_text = updates.ver_text("ravaZAZ", "3.5", 5, ["x" * 130000, "(No.12)", "x" * 1100, "(No.13)"])
        zyn.write_file("D:\\srv\\Ver3.5", long_text)
        self.run_to_end(["-CHECK"], code=12)
        self.assertRegex(self.server.requests[-1][1],
                         r"^ZynUpdate MODE:0 OS:\d+\.\d+\.\d+\(x64\) CPU:\d+\.[0-9A-F]+\.[0-9A-F]+\.[0-9A-F]+$")
        self.run_to_end(["-REVIT", "-CHECK"], env={"ZYN_HOME": "D:\\CAD"}, code=12)
        zyn.write_file("D:\\srv\\Ver3.5", INSTALLED_TEXT)
        self.run_to_end(["-CHECK"])
        for version in ("3.6", "3.8", "4.6"):  # 4.6 is eleven steps on: never asked for
            zyn.write_file("D:\\srv\\Ver" + version, "")
        self.run_to_end(["-VER"], code=380)
        self.assertEqual([path for path, _ in self.server.requests[-10:]],
                         ["/srv/Ver%.1f" % (code / 100) for code in range(360, 451, 10)])
        self.server.stop()
        self.run_to_end(["-CHECK"])  # an unreachable server: quietly none

    def test_settings_and_installed_version_failures(self):
        home = "D:\\CAD\\Update\\"  # the program's folder: no Ver file
        no_ver_file = [home + NO_VER_FILE, NO_VERSION]
        self.run_to_end(["-DOVI", "-CHECK"], [SETTINGS + "更新ﾌｧｲﾙ名の取得に失敗しました"])
        self.run_to_end(["-7QV", "-CHECK"], [SETTINGS + "更新ﾌｧｲﾙ格納ﾃﾞｨﾚｸﾄﾘURLの取得に失敗しました"])
        self.run_to_end(["-REVIT", "-CHECK"], no_ver_file)
        self.run_to_end(["-CHECK", "-HOME", home], no_ver_file, env={"ZYN_HOME": "D:\\CAD"})  # -HOME wins
        zyn.write_file("D:\\CAD\\Ver3.5", "")
        self.run_to_end(["-CHECK"], ["Verﾌｧｲﾙ[D:\\CAD\\Ver3.5]からﾘﾋﾞｼﾞｮﾝを取得できませんでした", NO_VERSION])
        os.rename(zyn.linux_path("D:\\CAD\\Ver3.5"), zyn.linux_path("D:\\CAD\\Ver3.5.BAK1"))
        self.run_to_end(["-CHECK"], [NO_VERSION])  # only backups: no message of its own

    def test_the_highest_installed_version_wins_and_the_others_go_after_ok(self):
        for name, text in (("VER3.6", b"(No.2)\0(No.9)"), ("Ver3.5a", "(No.4)"), ("Ver3.9.BAK2", "(No.9)")):
            zyn.write_file("D:\\CAD\\" + name, text)
        os.makedirs(zyn.linux_path("D:\\CAD\\Ver9.9"))  # no candidates: backups, folders; VER3.6 ends at \0
        zyn.write_file("D:\\srv\\VER3.6", updates.ver_text("ravaZAZ", "3.6", 5))
        question = "Verﾌｧｲﾙが[D:\\CAD\\VER3.6]以外に複数存在します。\n古いVerﾌｧｲﾙを削除します。"
        with zyn.Program(self.exe, ["-CHECK"]) as program:
            self.assertEqual(program.run_to_end([(question, "Cancel"), (NO_VERSION, "OK")]), 0)
            self.assertEqual((program.boxes[0].text, program.boxes[0].buttons), (question, [zyn.IDOK, zyn.IDCANCEL]))
        self.run_to_end(["-CHECK"], [question], code=5)
        self.assertEqual(sorted(os.listdir(zyn.linux_path("D:\\CAD"))),
                         ["Update", "VER3.6", "Ver3.9.BAK2", "Ver9.9"])

    def test_dialog_check_shows_the_update_contents(self):
        server_text = updates.ver_text("ravaZAZ", "3.5", 12, ["・鋼材データ追加"])
        zyn.write_file("D:\\srv\\Ver3.5", server_text)
        with zyn.Program(self.exe) as program:
            dialog = program.wait_dialog()
            check_template(self, dialog, "ravaZAZ", FULL_DIALOG)
            program.click(dialog, 1000)
            box = program.expect_box("ﾘﾋﾞｼﾞｮﾝ[12]への更新ﾌｧｲﾙがあります")
            self.assertEqual((box.text, box.has_icon), ("ﾘﾋﾞｼﾞｮﾝ[12]への更新ﾌｧｲﾙがあります", True))
            dialog = program.wait_window(lambda w: w.is_main_dialog and w.enabled and w.control(1005)["enabled"],
                                         what="prepared update")
            self.assertEqual(dialog.control(1002)["text"], "更新内容は以下の通りです\r\n\r\n" + server_text.decode("cp932"))
            self.assertEqual(dialog.control(1007)["text"], "専用CADﾌｫﾙﾀﾞ:D:\\CAD\\ 現ﾊﾞｰｼﾞｮﾝ:3.5(ﾘﾋﾞｼﾞｮﾝ.3)")
            # Nothing newer, nothing published, no server, nothing installed: each check leaves the dialog idle.
            no_version = "現在のﾊﾞｰｼﾞｮﾝの更新ﾌｧｲﾙはありません"
            for remove, messages in (("", ["現在のﾘﾋﾞｼﾞｮﾝの更新ﾌｧｲﾙはありません"]), ("D:\\srv\\Ver3.5", [no_version]),
                                     ("server", ["指定URL[%sVer3.5]を開けませんでした" % self.server.url("srv/"), no_version]),
                                     ("D:\\CAD\\Ver3.5", ["D:\\CAD\\" + NO_VER_FILE, "専用CADのﾊﾞｰｼﾞｮﾝを取得できませんでした"])):
                zyn.write_file("D:\\srv\\Ver3.5", INSTALLED_TEXT)
                if remove == "server":
                    self.server.stop()
                elif remove:
                    os.remove(zyn.linux_path(remove))
                program.click(dialog, 1000)
                for message in messages:
                    self.assertEqual(program.expect_box(message).text, message)
                dialog = program.wait_window(lambda w: w.is_main_dialog and w.enabled and not w.control(1002)["text"],
                                             what="idle dialog")
                self.assertFalse(dialog.control(1005)["enabled"] or dialog.control(1000)["checked"])
            program.click(dialog, 1006)
            self.assertEqual(program.wait_exit(), 0)

    def test_unattended_update_starts_the_data_manager_only_after_success(self):
        shutil.copy(os.path.join(zyn.BUILD, "tools", "ZynImpDataManager.exe"), zyn.linux_path("D:\\CAD"))
        for published in (False, True):
            if published:
                zyn.write_file("D:\\CAD\\bin\\a.dll", b"old")
                updates.publish(zyn.linux_path("D:\\srv"), "3.5", 4, {"CAD/bin/a.dll": b"new", "CAD/Ver3.5": "(No.3)"})
            with zyn.Program(self.exe, ["-AUTO", "-HOME", "D:\\CAD"]) as program:
                self.assertEqual(program.run_to_end([("合番", "Yes")] if published else [], others="first"), 0)
            # Nothing newer: said so, with no question and no download to fail.
            self.assertEqual([box.text for box in program.boxes if "合番" not in box.text],
                             ["更新に成功しました" if published else "現在のﾘﾋﾞｼﾞｮﾝの更新ﾌｧｲﾙはありません"])
            self.assertEqual(recorded_start(10 if published else 1),  # a wrong start would have written by then
                             b"D:\\CAD\\ZynImpDataManager.exe -NAME dovi" if published else None)

    def test_mode_1_asks_to_start_the_data_manager(self):
        exe = zyn.install_program(settings={"DoviFixDirUrl": self.server.url("srv/"), "DoviFixFileName": "UPD"})
        for revision, stand_in in ((4, False), (5, True)):  # the dialog stays only when the start fails
            updates.publish(zyn.linux_path("D:\\srv"), "3.5", revision, {"CAD/Ver3.5": "(No.%d)" % revision})
            if stand_in:
                shutil.copy(os.path.join(zyn.BUILD, "tools", "ZynImpDataManager.exe"), zyn.linux_path("D:\\CAD"))
            with zyn.Program(exe, ["-DOVI", "-HOME", "D:\\CAD"]) as program:
                program.click(program.wait_window(lambda w: w.is_main_dialog and w.control(1005)["enabled"]), 1005)
                program.expect_box("更新に成功しました")
                question = program.expect_box("ホルビアを起動しますか？", "Yes")
                self.assertEqual((question.buttons, question.has_icon), ([zyn.IDYES, zyn.IDNO], False))
                if not stand_in:  # only 終了 is left; Escape does the same
                    program.expect_box("ホルビアの起動に失敗しました。")
                    dialog = program.wait_dialog()
                    check_template(self, dialog, "ホルビア", {i: FULL_DIALOG[i] for i in (1005, 1006)})
                    program.call("command", dialog.hwnd, zyn.IDCANCEL)
                self.assertEqual(program.wait_exit(), 0)
        self.assertEqual(recorded_start(), b"D:\\CAD\\ZynImpDataManager.exe -NAME dovi")

    # Servers that misbehave: every run ends, Cancel is heard while a read is blocked, and nothing broken is kept.
    def serve(self, url, args, answers=(), code=0, **settings):
        self.exe = zyn.install_program(settings=dict({"FixDirUrl": url, "FixFileName": "UPD"}, **settings))
        with zyn.Program(self.exe, args) as program:
            self.assertEqual(program.run_to_end(answers, timeout=30), code)
        self.assertEqual(files_left(), [])

    def test_checks_end_whatever_the_server_does(self):
        updates.publish(zyn.linux_path("D:\\srv"), "3.5", 12, notes=["x" * 5000])
        self.serve(self.server.url("-/redirect/-/redirect/srv/"), ["-CHECK"], code=12)
        self.serve(self.server.url("-/loop/srv/"), ["-CHECK"])
        self.assertLessEqual(len(self.server.requests), 3 + 6)
        port = int(self.server.url().split(":")[2].strip("/"))
        self.serve("http://127.0.0.1:%d/srv/" % (port + 65536), ["-CHECK"])  # 12 had the port wrapped
        for how in ("stall", "trickle"):
            self.serve(self.server.url("-/%s/srv/" % how), ["-CHECK"], Timeout="1")

    def test_failed_downloads_keep_nothing(self):
        updates.publish(zyn.linux_path("D:\\srv"), "3.5", 12, {"CAD/a.dll": os.urandom(20000)})  # > 4 KiB: a stall
        zyn.write_file("D:\\srv\\HTML350.EXE", "<html>Not Found</html>")  # an error page sent with 200
        updates.publish(zyn.linux_path("D:\\srv\\dots"), "3.5", 12, {"CAD/.../.../evil.txt": b"evil"})
        self.serve(self.server.url("-/hugelength/srv/"), ["-AUTO"],
                   [("合番", "Yes"), ("更新ﾌｧｲﾙの長さを取得できませんでした", "OK"), ("更新を中断", "OK")])
        for name, folder in (("HTML", "srv/"), ("HTML", "srv/"), ("UPD", "srv/dots/")):  # downloaded again, unasked
            self.serve(self.server.url(folder), ["-AUTO"], [
                ("合番", "Yes"), ("展開された更新ﾌｧｲﾙを取得できませんでした", "OK"),
                ("[D:\\tmp\\%s350_12.EXE]は正しい更新ｱｰｶｲﾌﾞではないため削除しました" % name, "OK"), ("更新を中断", "OK")],
                FixFileName=name)
        self.assertNotIn("evil.txt", files_left("D:\\"))
        self.exe = zyn.install_program(settings={"FixDirUrl": self.server.url("-/stall/srv/"), "FixFileName": "UPD"})
        with zyn.Program(self.exe, ["-AUTO"]) as program:
            program.expect_box("合番", "Yes")
            progress = program.wait_window(lambda w: w.caption == "ﾀﾞｳﾝﾛｰﾄﾞ中" and w.control(1004)["text"] not in (" 0 %", "0%"),
                                           what="a download stalled after its first bytes")
            program.click(progress, zyn.IDCANCEL)  # well before the 60 s timeout
            answers = [("更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞを中断しました", "OK"), ("更新を中断", "OK")]
            self.assertEqual(program.run_to_end(answers, timeout=10), 0)
        self.assertEqual(files_left(), [])


if __name__ == "__main__":
    unittest.main()
