"""The data-manager program after an unattended run: started only after a
successful update, from the CAD folder, with " -NAME dovi"."""
import os
import shutil
import time
import unittest

import zyn

RECORD = "D:\\CAD\\ZynImpDataManager.args"  # written by the stand-in when it runs


def lay_out_installation():
    zyn.clear_drive()
    zyn.write_file("D:\\CAD\\Ver3.5", "ravaZAZ Ver3.5 (No.3)\r\n")
    shutil.copy(os.path.join(zyn.BUILD, "tools", "ZynImpDataManager.exe"), zyn.linux_path("D:\\CAD"))
    # Nothing listens on the discard port: the update cannot succeed.
    return zyn.install_program(settings={"FixDirUrl": "http://127.0.0.1:9/zyn/", "FixFileName": "UPD"})


def answer_until_exit(program, timeout=60):
    """Answers every box with its first button until the program ends; returns the exit code."""
    deadline = time.time() + timeout
    while program.running():
        boxes = [w for w in program.windows() if w.is_message_box and w.buttons]
        if boxes:
            program.answer(boxes[0], boxes[0].buttons[0])
            continue
        assert time.time() < deadline, "still running after %ss: %r" % (timeout, program.windows())
        time.sleep(0.1)
    return program.wait_exit(5)


class UnattendedRun(unittest.TestCase):
    def test_aborted_update_starts_nothing(self):
        exe = lay_out_installation()
        with zyn.Program(exe, ["-AUTO", "-HOME", "D:\\CAD"]) as program:
            self.assertEqual(answer_until_exit(program), 0)
            texts = [box.text for box in program.boxes]
        self.assertEqual(texts[-1], "更新を中断しました")
        self.assertNotIn("ホルビアの起動に失敗しました。", texts)
        time.sleep(1)  # a wrongly started stand-in would have written its record by now
        self.assertFalse(zyn.exists(RECORD))


if __name__ == "__main__":
    unittest.main()
