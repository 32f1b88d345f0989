"""The program's windows as a user meets them: both dialog templates, their
controls and texts, and the way out through 終了."""
import unittest

import zyn

BS_TYPEMASK = 0xF
BS_AUTORADIOBUTTON, BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_GROUPBOX = 9, 0, 1, 7
BS_PUSHLIKE = 0x1000
ES_MULTILINE, ES_READONLY, WS_VSCROLL, WS_BORDER = 0x4, 0x800, 0x200000, 0x800000
WS_EX_CLIENTEDGE = 0x200

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
    def setUp(self):
        self.exe = lay_out_installation()

    def test_controls_texts_and_exit(self):
        with zyn.Program(self.exe) as program:
            dialog = settle(program)
            self.assertEqual(dialog.caption, "ravaZAZオンラインアップデート")
            kinds = {i: (c["class"].lower(), c["style"]) for i, c in dialog.controls.items()}
            texts = {i: c["text"] for i, c in dialog.controls.items()}
            self.assertEqual(sorted(i for i in dialog.controls if i != 0xFFFF),
                             [1000, 1001, 1002, 1005, 1006, 1007, 1009])
            self.assertEqual(texts[1000], "更新を確認")
            self.assertEqual(texts[1001], "更新前の状態に復元")
            self.assertEqual(texts[1005], "実行")
            self.assertEqual(texts[1006], "終了")
            self.assertEqual(texts[1009], "退避ファイル削除")
            self.assertEqual(texts[0xFFFF], "処理選択")
            self.assertEqual(texts[1007], "")  # empty until the first check
            self.assertEqual(texts[1002], "")
            for radio in (1000, 1001):
                self.assertEqual(kinds[radio][1] & BS_TYPEMASK, BS_AUTORADIOBUTTON)
                self.assertTrue(kinds[radio][1] & BS_PUSHLIKE)
                self.assertEqual(dialog.control(radio)["checked"], 0)
            self.assertEqual(kinds[1005][1] & BS_TYPEMASK, BS_DEFPUSHBUTTON)
            self.assertEqual(kinds[1009][1] & BS_TYPEMASK, BS_PUSHBUTTON)
            self.assertEqual(kinds[0xFFFF][1] & BS_TYPEMASK, BS_GROUPBOX)
            edit_style = kinds[1002][1]
            self.assertEqual(kinds[1002][0], "edit")
            for bit in (ES_MULTILINE, ES_READONLY, WS_VSCROLL):
                self.assertTrue(edit_style & bit, hex(bit))
            # The edit control turns a border into a sunken client edge.
            self.assertTrue(edit_style & WS_BORDER or dialog.control(1002)["exstyle"] & WS_EX_CLIENTEDGE)
            # Idle: nothing prepared, and no generation to delete.
            self.assertFalse(dialog.control(1005)["enabled"])
            self.assertFalse(dialog.control(1009)["enabled"])
            # The layout follows the template: three buttons in one row, left to right.
            rows = {dialog.control(i)["rect"][1] for i in (1005, 1009, 1006)}
            self.assertEqual(len(rows), 1)
            self.assertLess(dialog.control(1005)["rect"][0], dialog.control(1009)["rect"][0])
            self.assertLess(dialog.control(1009)["rect"][0], dialog.control(1006)["rect"][0])
            zyn.screenshot(zyn.os.path.join(zyn.BUILD, "shell-full-dialog.png"))

            program.click(dialog, 1006)
            self.assertEqual(program.wait_exit(), 0)

    def test_escape_ends_the_dialog(self):
        with zyn.Program(self.exe) as program:
            dialog = settle(program)
            program.call("command", dialog.hwnd, zyn.IDCANCEL)
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
            program.click(dialog, 1006)
            self.assertEqual(program.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main()
