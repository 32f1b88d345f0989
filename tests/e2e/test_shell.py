"""The program's windows as a user meets them: both dialog templates, their controls,
texts and styles, and the ways out."""
import os
import unittest

import zyn

BS_AUTORADIOBUTTON, BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_GROUPBOX, BS_PUSHLIKE = 9, 0, 1, 7, 0x1000
BUTTON = 0xF | BS_PUSHLIKE
EDIT = 0x4 | 0x800 | 0x200000  # ES_MULTILINE | ES_READONLY | WS_VSCROLL
FULL_DIALOG = {  # id: text, the style bits looked at, their value
    1000: ("更新を確認", BUTTON, BS_AUTORADIOBUTTON | BS_PUSHLIKE),
    1001: ("更新前の状態に復元", BUTTON, BS_AUTORADIOBUTTON | BS_PUSHLIKE),
    1002: ("", EDIT, EDIT), 1005: ("実行", BUTTON, BS_DEFPUSHBUTTON), 1006: ("終了", BUTTON, BS_PUSHBUTTON),
    1007: ("", 0, 0), 1009: ("退避ファイル削除", BUTTON, BS_PUSHBUTTON), 0xFFFF: ("処理選択", 0xF, BS_GROUPBOX)}


class Dialogs(unittest.TestCase):
    def test_both_templates_idle_after_opening(self):
        zyn.clear_drive()
        zyn.write_file("D:\\CAD\\Ver3.5", "ravaZAZ Ver3.5 (No.3)\r\n")
        # Nothing listens on the discard port: the simple dialog's check as it opens finds nothing.
        exe = zyn.install_program(settings={"FixDirUrl": "http://127.0.0.1:9/", "FixFileName": "UPD",
                                            "7qvFixDirUrl": "http://127.0.0.1:9/", "7qvFixFileName": "UPD"})
        simple = {i: FULL_DIALOG[i] for i in (1005, 1006)}
        for args, caption, controls in (([], "ravaZAZ", FULL_DIALOG), (["-7QV"], "vardoPlus", simple)):
            with zyn.Program(exe, args) as program:
                if args:
                    program.expect_box("指定URL[http://127.0.0.1:9/Ver3.5]を開けませんでした")
                    program.expect_box("現在のﾊﾞｰｼﾞｮﾝの更新ﾌｧｲﾙはありません")
                dialog = program.wait_dialog()
                self.assertEqual(dialog.caption, caption + "オンラインアップデート")
                looked_at = {i: controls.get(i, ("", 0, 0))[1] for i in dialog.controls}
                self.assertEqual({i: (c["text"], looked_at[i], c["style"] & looked_at[i])
                                  for i, c in dialog.controls.items()}, controls)
                # Idle: nothing prepared, no radio checked, no generation to delete.
                self.assertFalse([i for i in (1000, 1001, 1005, 1009) if i in dialog.controls and
                                  (dialog.control(i).get("checked") or i > 1001 and dialog.control(i)["enabled"])])
                zyn.screenshot(os.path.join(zyn.BUILD, "shell-%s.png" % caption))
                if args:
                    program.call("command", dialog.hwnd, zyn.IDCANCEL)  # Escape ends it too
                else:
                    program.click(dialog, 1006)
                self.assertEqual(program.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main()
