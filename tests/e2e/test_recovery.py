"""What a kill, a power cut, a copied installation or a careless hand leaves, and two copies at once, through the real
ZynUpdate.exe: the next start leaves every file as before or as after, says which, and touches nothing else."""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
import updates  # noqa: E402
import zyn  # noqa: E402
from test_backup import INSTALLED, PROGRAM, PROGRAM_FILES, PROGRAM_FOLDER, UPDATED, cad_tree, lay_out, logs  # noqa: E402
from test_backup import restore_through_the_dialog  # noqa: E402
from update_server import UpdateServer  # noqa: E402

VER = {revision: updates.ver_text("ravaZAZ", "3.5", revision) for revision in (1, 2)}
UPDATE_BOXES = [("合番", "Yes"), ("更新に成功しました", "OK"), ("ホルビアの起動に失敗しました", "OK")]
RECORD_ADVICE = "\nｲﾝｽﾄｰﾙ先を確認してからこのﾌｧｲﾙを削除し、起動し直してください"


def parts(count, size):
    return {"D:\\CAD\\parts\\p%03d" % i: bytes([i % 251]) * size for i in range(count)}


def without(tree, *endings):
    return {name: data for name, data in tree.items() if not name.endswith(endings)}


def run(exe, args, answers, code=0):
    """Runs the program to its end; an update file kept from before is used again."""
    with zyn.Program(exe, args) as program:
        assert program.run_to_end(answers, anywhere=[("既に更新ﾌｧｲﾙ", "No")]) == code


def next_start(program):
    """The first thing a dialog start shows: a message about what a kill left (answered), or the dialog itself."""
    first = program.wait_window(lambda w: (w.is_message_box and w.buttons) or (w.is_main_dialog and w.enabled))
    if first.is_message_box:
        program.answer(first)
    return first.text if first.is_message_box else None


class Recovery(unittest.TestCase):
    def test_only_ver_files_of_the_expected_form_count_and_a_half_written_one_is_cleared_first(self):
        zyn.clear_drive()
        others = {"D:\\CAD\\Ver2024.txt": b"t", "D:\\CAD\\VerUp.exe": b"e", "D:\\CAD\\Version.ini": b"i"}
        installed = dict(others, **{"D:\\CAD\\Ver3": updates.ver_text("ravaZAZ", "3", 1)})
        for name, data in dict(installed, **{"D:\\CAD\\Ver3.ZYNNEW": b"half"}).items():
            zyn.write_file(name, data)
        server = UpdateServer(zyn.DRIVE_D).start()
        self.addCleanup(server.stop)
        updates.publish(zyn.linux_path("D:\\srv"), "3", 2)
        exe = zyn.install_program(settings={"FixDirUrl": server.url("srv/"), "FixFileName": "UPD"})
        run(exe, ["-CHECK"], [], code=2)  # no question, even without the recovery that -CHECK never runs
        zyn.write_file(PROGRAM_FOLDER + "\\ZynUpdate.RUN1", "install\r\nD:\\CAD\\Ver3\r\n")
        with zyn.Program(exe) as program:
            self.assertEqual(next_start(program), "前回の更新は中断されました\n更新をやり直してください")
            program.click(program.wait_dialog(), 1006)
        self.assertEqual((cad_tree(), logs()), (dict(installed, **PROGRAM_FILES), []))

    def test_an_update_without_backups_cut_short_is_offered_again_and_done(self):
        installed = dict(parts(200, 65536), **{"D:\\CAD\\Ver3.5": VER[1]})
        update = dict({name: data + b"2" for name, data in installed.items()}, **{"D:\\CAD\\Ver3.5": VER[2]})
        exe = lay_out(self, installed, update)
        with zyn.Program(exe, ["-DOVI", "-AUTO"]) as program:
            zyn.kill_when(program, "D:\\CAD\\parts", lambda names: len(names) >= 80, "the copy")
        tree = cad_tree()
        self.assertEqual(tree["D:\\CAD\\Ver3.5"], VER[1])  # the Ver file goes in last
        self.assertTrue([name for name in update if tree[name] == update[name]], "killed before anything changed")
        run(exe, ["-DOVI", "-AUTO"], [("前回の更新は中断されました\n更新をやり直してください", "OK")] + UPDATE_BOXES[1:])
        self.assertEqual((cad_tree(), logs()), (dict(update, **PROGRAM_FILES), []))

    def test_a_start_that_fails_after_its_recovery_touches_no_generation(self):
        # A kill left generation 3 half done; beside two finished generations a second Ver file waits.
        installed = {"D:\\CAD\\a.dll.BAK%d" % g: b"a%d" % g for g in (1, 2, 3)}
        installed.update({"D:\\CAD\\Ver3.5": VER[1], "D:\\CAD\\Ver3.6": VER[1], "D:\\CAD\\a.dll": b"a4"})
        exe = lay_out(self, installed, {"D:\\CAD\\Ver3.5": VER[2]})
        for g in (1, 2, 3):
            zyn.write_file(PROGRAM_FOLDER + "\\ZynUpdate.LOG%d" % g, "D:\\CAD\\a.dll.BAK%d\r\n" % g)
        zyn.write_file(PROGRAM_FOLDER + "\\ZynUpdate.RUN3", "update\r\nD:\\CAD\\a.dll\r\n")
        run(exe, ["-AUTO"], [("前回中断された更新を元に戻しました", "OK"), ("[D:\\CAD\\Ver3.6]以外に複数存在します", "Cancel"),
                             ("ravaZAZのﾊﾞｰｼﾞｮﾝを取得できませんでした", "OK"), ("更新を中断しました", "OK")])
        expected = without(dict(installed, **PROGRAM_FILES, **{"D:\\CAD\\a.dll": b"a3"}), ".BAK3")
        self.assertEqual((cad_tree(), logs()), (expected, ["ZynUpdate.LOG1", "ZynUpdate.LOG2"]))

    def test_records_and_logs_that_name_files_elsewhere_touch_nothing(self):
        victim = {"D:\\victim\\sys.dll": b"system", "D:\\victim\\sys.dll.BAK1": b"planted"}
        exe = lay_out(self, dict(victim, **{"D:\\CAD\\Ver3.5": VER[1]}), {"D:\\CAD\\Ver3.5": VER[2]})
        log, record = PROGRAM_FOLDER + "\\ZynUpdate.LOG1", PROGRAM_FOLDER + "\\ZynUpdate.RUN2"
        zyn.write_file(log, "D:\\CAD\\..\\victim\\sys.dll.BAK1\r\n")
        run(exe, ["-DELBAK"], [("復元ﾛｸﾞﾌｧｲﾙ[%s]にｲﾝｽﾄｰﾙ先以外のﾌｧｲﾙ[D:\\CAD\\..\\victim\\sys.dll.BAK1]が記載されています"
                                % log, "OK")], code=1)
        zyn.write_file(record, "update\r\n*D:\\victim\\sys.dll\r\n")  # as a copied installation would carry it
        with zyn.Program(exe) as program:
            self.assertEqual(next_start(program), "作業記録ﾌｧｲﾙ[%s]にｲﾝｽﾄｰﾙ先以外のﾌｧｲﾙ[D:\\victim\\sys.dll]が記載されて"
                             "います%s" % (record, RECORD_ADVICE))
            self.assertEqual(program.wait_exit(), 0)
        self.assertEqual({name: zyn.read_file(name) for name in victim}, victim)
        self.assertEqual(logs(), ["ZynUpdate.LOG1", "ZynUpdate.RUN2"])

    def test_a_power_cut_in_the_copy_phase_is_undone_at_the_next_start(self):
        zyn.clear_drive()
        image, mount = os.path.join(zyn.BUILD, "powercut.img"), zyn.linux_path("D:\\Cut")
        os.makedirs(mount)
        subprocess.run(["truncate", "-s", "0", image], check=True)
        subprocess.run(["truncate", "-s", "128M", image], check=True)
        subprocess.run(["mkfs.ext4", "-q", "-F", image], check=True)
        # Nothing reaches the disk but what the program flushes: the journal commits every ten minutes.
        if subprocess.run(["mount", "-o", "loop,commit=600", image, mount]).returncode:
            self.skipTest("no journaled image can be mounted here")
        self.addCleanup(lambda: [os.remove(name) for name in (image, image + ".cut") if os.path.exists(name)])
        self.addCleanup(lambda: subprocess.run(["umount", "-l", mount]) and None)
        installed = {name.replace("D:\\CAD", "D:\\Cut\\CAD"): data for name, data in parts(255, 16384).items()}
        update = {name: data + b"2" for name, data in installed.items()}
        installed["D:\\Cut\\CAD\\Ver3.5"] = update["D:\\Cut\\CAD\\Ver3.5"] = VER[1]
        update["D:\\Cut\\CAD\\new\\n.dat"] = b"in a folder of its own, made first"
        exe = lay_out(self, installed, update, folder="D:\\Cut\\CAD\\Update", clear=False)
        os.sync()  # an installation long on the disk
        with zyn.Program(exe, ["-AUTO"]) as program:
            program.expect_box("合番", "Yes")
            zyn.kill_when(program, "D:\\Cut\\CAD\\parts", lambda names: len(names) >= 120, "the copy", exe=exe)
            subprocess.run(["cp", "--sparse=always", image, image + ".cut"], check=True)  # the disk as the cut left it
        subprocess.run(["umount", "-l", mount], check=True)
        subprocess.run(["mount", "-o", "loop", image + ".cut", mount], check=True)
        self.assertTrue([name for name in update if zyn.read_file(name) == update[name]], "nothing replaced")
        with zyn.Program(exe) as program:
            self.assertEqual(next_start(program), "前回中断された更新を元に戻しました")
            program.click(program.wait_dialog(), 1006)
        program_files = {"D:\\Cut\\CAD\\Update\\" + name: data for name, data in PROGRAM.items()}
        self.assertEqual((cad_tree("D:\\Cut"), logs("D:\\Cut\\CAD\\Update")), (dict(installed, **program_files), []))
        self.assertFalse(os.path.exists(zyn.linux_path("D:\\Cut\\CAD\\new")))

    def test_kills_around_the_program_own_files_leave_an_updater_that_starts_and_cleans_up(self):
        exe = lay_out(self, INSTALLED, UPDATED)  # the update carries a new ZynUpdate.exe
        backups = {name + ".BAK1": INSTALLED[name] for name in INSTALLED if "ZynCad.exe" not in name}
        kills = [(["-AUTO"], [("合番", "Yes")], "ZynUpdate.exe.BAK1", zyn.CREATED, "前回中断された更新を元に戻しました"),
                 ([], None, "ZynUpdate.exe.ORG", zyn.CREATED, "前回中断された復元を完了しました"),
                 ([], None, "unzip32.dll.BAK1", zyn.DELETED, None)]
        for args, answers, name, event, undone in kills:
            if answers is None:  # a restore through the dialog, of a whole update
                if "ZynUpdate.LOG1" not in logs():
                    run(exe, ["-AUTO"], UPDATE_BOXES)
                program = zyn.Program(exe)
                program.click(program.wait_dialog(), 1001)
                program.expect_box("1回の復元が可能です")
                program.click(program.wait_dialog(), 1005)
            else:
                program = zyn.Program(exe, args)
                for contains, button in answers:
                    program.expect_box(contains, button)
            with program:
                zyn.kill_when(program, PROGRAM_FOLDER, lambda names: name in names, name, event)
            self.assertTrue(os.path.exists(zyn.linux_path(exe)), "no updater left to start")
            with zyn.Program(exe) as program:
                message = next_start(program)
                program.click(program.wait_dialog(), 1006)
            # As before the interrupted work, or as after it: a kill after its last change leaves nothing to say.
            tree = without(cad_tree(), ".ORG", ".ZYNOLD")
            self.assertIn((message, tree), [(undone, INSTALLED), (None, dict(UPDATED, **backups)), (None, INSTALLED)])
        run(exe, ["-DELBAK"], [])
        self.assertEqual([name for name in cad_tree() if ".BAK" in name or ".ZYN" in name], [])
        run(exe, ["-AUTO"], UPDATE_BOXES)
        self.assertEqual(without(cad_tree(), ".ORG", ".ZYNOLD"), dict(UPDATED, **backups))

    def test_a_restore_that_fails_after_the_updater_was_put_back_puts_every_file_back(self):
        exe = lay_out(self, INSTALLED, UPDATED)
        run(exe, ["-AUTO"], UPDATE_BOXES)
        updated = cad_tree()
        # The updater comes first; a safety copy that cannot be made stops the restore at a file after it.
        os.makedirs(zyn.linux_path("D:\\CAD\\bin\\zyncad.dll.ORG"))
        with zyn.Program(exe) as program:
            program.click(program.wait_dialog(), 1001)
            program.expect_box("1回の復元が可能です")
            program.click(program.wait_dialog(), 1005)
            program.expect_box("ﾌｧｲﾙ[D:\\CAD\\bin\\zyncad.dll]を[D:\\CAD\\bin\\zyncad.dll.ORG]に退避できませんでした")
            program.expect_box("復元を中断しました")
        self.assertEqual(without(cad_tree(), ".ORG", ".ZYNOLD"), without(updated, ".ZYNOLD"))
        os.rmdir(zyn.linux_path("D:\\CAD\\bin\\zyncad.dll.ORG"))
        with zyn.Program(exe) as program:
            restore_through_the_dialog(program)
        self.assertEqual((without(cad_tree(), ".ORG", ".ZYNOLD"), logs()), (INSTALLED, []))

    def test_a_missing_unzip_dll_keeps_the_update_file(self):
        exe = lay_out(self, INSTALLED, UPDATED)
        os.remove(zyn.linux_path(PROGRAM_FOLDER + "\\unzip32.dll"))
        run(exe, ["-AUTO"], [("合番", "Yes"), ("zip解凍用DLL[unzip32.dll]を読み込みできませんでした", "OK"),
                             ("展開された更新ﾌｧｲﾙを取得できませんでした", "OK"), ("更新を中断しました", "OK")])
        self.assertTrue(os.path.exists(zyn.linux_path("D:\\tmp\\UPD350_2.EXE")))

    def test_a_read_only_file_is_updated_restored_and_its_backups_deleted_keeping_its_attribute(self):
        installed = {"D:\\CAD\\Ver3.5": VER[1], "D:\\CAD\\locked.cfg": b"old"}
        exe = lay_out(self, installed, {"D:\\CAD\\Ver3.5": VER[2], "D:\\CAD\\locked.cfg": b"new"})
        locked = zyn.linux_path("D:\\CAD\\locked.cfg")
        os.chmod(locked, 0o444)
        for _ in range(2):  # the second update meets the names the first and its restore left
            run(exe, ["-AUTO"], UPDATE_BOXES)
            with zyn.Program(exe) as program:
                restore_through_the_dialog(program)
            self.assertEqual((zyn.read_file("D:\\CAD\\locked.cfg"), os.stat(locked).st_mode & 0o222), (b"old", 0))
        run(exe, ["-AUTO"], UPDATE_BOXES)
        run(exe, ["-DELBAK"], [])
        self.assertEqual((without(cad_tree(), ".ORG", ".ZYNOLD"), logs()),
                         (dict(PROGRAM_FILES, **{"D:\\CAD\\Ver3.5": VER[2], "D:\\CAD\\locked.cfg": b"new"}), []))

    def test_the_cad_folder_as_given_without_its_separator_or_on_a_network_share(self):
        zyn.clear_drive()
        server = UpdateServer(zyn.DRIVE_D).start()
        self.addCleanup(server.stop)
        exe = zyn.install_program("D:\\Prog", settings={"FixDirUrl": server.url("srv/"), "FixFileName": "UPD"})
        share = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "unc", "srv")
        os.makedirs(share, exist_ok=True)
        if os.path.lexists(os.path.join(share, "share")):
            os.remove(os.path.join(share, "share"))
        os.symlink(zyn.linux_path("D:\\share"), os.path.join(share, "share"))
        # Mode 3 maps the archive onto the CAD folder itself; a network folder's root is its share.
        for args, cad, prefix, answers in [(["-REVIT", "-HOME", "D:\\CAD"], "D:\\CAD", "", UPDATE_BOXES[1:]),
                                           (["-HOME", "\\\\srv\\share\\CAD"], "D:\\share\\CAD", "CAD/", UPDATE_BOXES)]:
            zyn.write_file(cad + "\\Ver3.5", VER[1])
            zyn.write_file(cad + "\\bin\\a.dll", b"a1")
            updates.publish(zyn.linux_path("D:\\srv"), "3.5", 2, {prefix + "Ver3.5": VER[2], prefix + "bin/a.dll": b"a2"})
            zyn.write_file("D:\\tmp\\UPD350_2.EXE", b"")  # not the update of the other layout
            os.remove(zyn.linux_path("D:\\tmp\\UPD350_2.EXE"))
            run(exe, args + ["-AUTO"], answers)
            self.assertEqual(without(cad_tree(cad), ".BAK1"), {cad + "\\Ver3.5": VER[2], cad + "\\bin\\a.dll": b"a2"})
        self.assertEqual(sorted(os.listdir(zyn.DRIVE_D)), ["CAD", "Prog", "share", "srv", "tmp"])
        self.assertFalse(os.path.exists(os.path.join(os.environ["WINEPREFIX"], "drive_c", "CAD")))

    def test_one_copy_changes_an_installation_at_a_time(self):
        installed = {"D:\\CAD\\Ver3.5": VER[1], "D:\\CAD\\bin\\a.dll": b"a1"}
        update = {"D:\\CAD\\Ver3.5": VER[2], "D:\\CAD\\bin\\a.dll": b"a2"}
        exe = lay_out(self, installed, update)
        busy = ("別のZynUpdateが[D:\\CAD\\]を処理中です\n終了してからやり直してください", "OK")
        with zyn.Program(exe) as first:
            first.click(first.wait_dialog(), 1000)
            first.expect_box("ﾘﾋﾞｼﾞｮﾝ[2]への更新ﾌｧｲﾙがあります")
            run(exe, ["-AUTO"], UPDATE_BOXES)  # meanwhile another copy installs revision 2: generation 1
            first.click(first.wait_dialog(), 1005)
            first.expect_box("合番", "Yes")
            again = first.wait_box()
            self.assertIn("既に更新ﾌｧｲﾙ", again.text)  # the update file that the other copy fetched
            for args in (["-AUTO"], ["-DELBAK"]):  # while the first one holds the installation
                run(exe, args, [busy], code=50)
            first.answer(again, "No")
            first.expect_box("更新に成功しました", timeout=60)  # every file is as the update has it: nothing saved
            first.click(first.wait_dialog(), 1006)
        self.assertEqual((cad_tree(), logs()), (dict(update, **PROGRAM_FILES, **{name + ".BAK1": data for name, data
                                                                               in installed.items()}), ["ZynUpdate.LOG1"]))


if __name__ == "__main__":
    unittest.main()
