"""Servers that misbehave, through the real program: every run ends, Cancel is heard while a read is blocked,
and nothing broken is kept for a later run to offer."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
import updates  # noqa: E402
import zyn  # noqa: E402
from update_server import UpdateServer  # noqa: E402


class HostileServer(unittest.TestCase):
    def setUp(self):
        zyn.clear_drive()
        self.server = UpdateServer(zyn.DRIVE_D).start()
        self.addCleanup(self.server.stop)
        zyn.write_file("D:\\CAD\\Ver3.5", updates.ver_text("ravaZAZ", "3.5", 3))
        # The update is larger than the 4 KiB a stalling server sends, the Ver file only with notes.
        updates.publish(zyn.linux_path("D:\\srv"), "3.5", 12, {"CAD/a.dll": os.urandom(20000)})

    def run_to_end(self, url, args, answers=(), code=0, **settings):
        exe = zyn.install_program(settings=dict({"FixDirUrl": url, "FixFileName": "UPD"}, **settings))
        with zyn.Program(exe, args) as program:
            self.assertEqual(program.run_to_end(answers, timeout=30), code)
        return [box.text for box in program.boxes]

    def test_checks_end_whatever_the_server_does(self):
        self.run_to_end(self.server.url("-/redirect/-/redirect/srv/"), ["-CHECK"], code=12)
        self.run_to_end(self.server.url("-/loop/srv/"), ["-CHECK"])
        self.assertLessEqual(len(self.server.requests), 3 + 6)
        port = int(self.server.url().split(":")[2].strip("/"))
        self.run_to_end("http://127.0.0.1:%d/srv/" % (port + 65536), ["-CHECK"])  # 12 had the port wrapped
        updates.publish(zyn.linux_path("D:\\srv"), "3.5", 12, notes=["x" * 5000])
        for how in ("stall", "trickle"):
            self.run_to_end(self.server.url("-/%s/srv/" % how), ["-CHECK"], Timeout="2")

    def test_failed_downloads_keep_nothing(self):
        zyn.write_file("D:\\srv\\HTML350.EXE", "<html>Not Found</html>")  # an error page sent with 200
        not_archive = [("合番", "Yes"), ("展開された更新ﾌｧｲﾙを取得できませんでした", "OK"),
                       ("[D:\\tmp\\HTML350_12.EXE]は正しい更新ｱｰｶｲﾌﾞではないため削除しました", "OK"), ("更新を中断", "OK")]
        for url, name, answers in (
                (self.server.url("-/hugelength/srv/"), "UPD",
                 [("合番", "Yes"), ("更新ﾌｧｲﾙの長さを取得できませんでした", "OK"), ("更新を中断", "OK")]),
                (self.server.url("srv/"), "HTML", not_archive),
                (self.server.url("srv/"), "HTML", not_archive)):  # downloaded again, no question to reuse it
            self.run_to_end(url, ["-AUTO"], answers, FixFileName=name)
            self.assertEqual(os.listdir(zyn.linux_path("D:\\tmp")), [])

    def test_cancel_is_heard_while_the_server_stalls(self):
        exe = zyn.install_program(settings={"FixDirUrl": self.server.url("-/stall/srv/"), "FixFileName": "UPD"})
        with zyn.Program(exe, ["-AUTO"]) as program:
            program.expect_box("合番", "Yes")
            progress = program.wait_window(lambda w: w.caption == "ﾀﾞｳﾝﾛｰﾄﾞ中", what="progress dialog")
            program.wait_window(lambda w: w.hwnd == progress.hwnd and w.text_of(1004) not in (" 0 %", "0%"),
                                what="bytes before the stall")
            program.click(progress, zyn.IDCANCEL)  # well before the 60 s timeout
            answers = [("更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞを中断しました", "OK"), ("更新を中断", "OK")]
            self.assertEqual(program.run_to_end(answers, timeout=10), 0)
        self.assertEqual(os.listdir(zyn.linux_path("D:\\tmp")), [])


if __name__ == "__main__":
    unittest.main()
