"""The program's windows as a user meets them: both dialog templates, their
controls and texts, and the way out through 終了."""
import unittest

import zyn

BS_TYPEMASK = 0xF
BS_AUTORADIOBUTTON, BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_GROUPBOX = 9, 0, 1, 7
BS_PUSHLIKE = 0x1000
ES_MULTILINE, ES_READONLY, WS_VSCROLL = 0x4, 0x800, 0x200000

# Mode 2 ("-7QV") reads its own prefixed keys.
SETTINGS = {"FixDirUrl": "http://127.0.0.1:9/zyn/", "FixFileName": "UPD",
            "7qvFixDirUrl": "http://127.0.0.1:9/zyn/", "7qvFixFileName": "UPD"}


def lay_out_installation():
    zyn.clear_drive()
    zyn.write_file("D:\\CAD\\Ver3.5", "ravaZAZ Ver3.5 (No.3)\r\n")
    return zyn.install_program(settings=SETTINGS)


def settle(program):
    """Answers whatever the opening shows (the simple dialog checks for updates at
    once) and returns the main dialog once it is enabled and alone."""
    while True:
        dialog = program.wait_window(lambda w: w.is_main_dialog or w.is_message_box, what="dialog or box")
        if dialog.is_message_box:
            program.answer(dialog, dialog.buttons[0])
            continue
        windows = program.windows()
        if dialog.enabled and not any(w.is_message_box for w in windows):
            return dialog


class FullDialog(unittest.TestCase):
    def test_controls_texts_and_exit(self):
        with zyn.Program(lay_out_installation()) as program:
            dialog = settle(program)
            self.assertEqual(dialog.caption, "ravaZAZオンラインアップデート")
            styles = {i: c["style"] for i, c in dialog.controls.items()}
            self.assertEqual({i: c["text"] for i, c in dialog.controls.items()},
                             {1000: "更新を確認", 1001: "更新前の状態に復元", 1002: "", 1005: "実行", 1006: "終了",
                              1007: "", 1009: "退避ファイル削除", 0xFFFF: "処理選択"})
            for radio in (1000, 1001):
                self.assertEqual(styles[radio] & (BS_TYPEMASK | BS_PUSHLIKE), BS_AUTORADIOBUTTON | BS_PUSHLIKE)
                self.assertEqual(dialog.control(radio)["checked"], 0)
            self.assertEqual([styles[i] & BS_TYPEMASK for i in (1005, 1009, 0xFFFF)],
                             [BS_DEFPUSHBUTTON, BS_PUSHBUTTON, BS_GROUPBOX])
            self.assertEqual(dialog.control(1002)["class"].lower(), "edit")
            self.assertEqual(styles[1002] & (ES_MULTILINE | ES_READONLY | WS_VSCROLL), ES_MULTILINE | ES_READONLY | WS_VSCROLL)
            # Idle: nothing prepared, and no generation to delete.
            self.assertFalse(dialog.control(1005)["enabled"])
            self.assertFalse(dialog.control(1009)["enabled"])
            zyn.screenshot(zyn.os.path.join(zyn.BUILD, "shell-full-dialog.png"))

            program.click(dialog, 1006)
            self.assertEqual(program.wait_exit(), 0)


class SimpleDialog(unittest.TestCase):
    def test_template_104_for_a_product_mode(self):
        exe = lay_out_installation()
        with zyn.Program(exe, ["-7QV"]) as program:
            dialog = settle(program)
            self.assertEqual(dialog.caption, "vardoPlusオンラインアップデート")
            self.assertEqual(sorted(dialog.controls), [1005, 1006])
            # The check ran as the dialog opened and found nothing: only 終了 is left.
            self.assertFalse(dialog.control(1005)["enabled"])
            self.assertEqual(dialog.text_of(1005), "実行")
            self.assertEqual(dialog.text_of(1006), "終了")
            self.assertEqual(dialog.control(1005)["style"] & BS_TYPEMASK, BS_DEFPUSHBUTTON)
            zyn.screenshot(zyn.os.path.join(zyn.BUILD, "shell-simple-dialog.png"))
            program.call("command", dialog.hwnd, zyn.IDCANCEL)  # Escape ends it too
            self.assertEqual(program.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main()
