"""Shows the main job on a sample installation: lays out D:\\CAD with an installed
ravaZAZ 3.5 revision 1, publishes revision 2 signed with ZynPublish.exe (a new key,
only the changed files) on an update server on 127.0.0.1, and runs ZynUpdate.exe
on it with that public key configured. With --interactive the user drives the dialog; otherwise
the update is driven through the window helper and the result is printed."""
import argparse
import os
import shutil
import subprocess
import sys

tests = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests")
sys.path[:0] = [os.path.join(tests, "e2e"), os.path.join(tests, "server")]
import updates  # noqa: E402
import zyn  # noqa: E402
from update_server import UpdateServer  # noqa: E402

INSTALLED = {
    "CAD/Ver3.5": updates.ver_text("ravaZAZ", "3.5", 1),
    "CAD/bin/zyncad.dll": b"zyncad engine, revision 1\r\n",
    "CAD/bin/ZynCad.exe": b"ZynCad main program, revision 1\r\n",
    "CAD/data/steel.csv": "形鋼,H-200x100\r\n".encode("cp932"),
}
UPDATE = {
    "CAD/Ver3.5": updates.ver_text("ravaZAZ", "3.5", 2, ["・鋼材データ追加", "・図面出力の不具合修正"]),
    "CAD/bin/zyncad.dll": b"zyncad engine, revision 2\r\n",
    "CAD/bin/ZynCad.exe": b"ZynCad main program, revision 1\r\n",  # unchanged: no backup
    "CAD/data/steel.csv": "形鋼,H-200x100\r\n形鋼,H-250x125\r\n".encode("cp932"),
    "CAD/data/sections-new.csv": "新規断面\r\n".encode("cp932"),
}


def show_tree(title):
    print(title)
    root = zyn.linux_path("D:\\CAD")
    for folder, dirs, files in sorted(os.walk(root)):
        dirs.sort()
        if folder.startswith(os.path.join(root, "Update")):
            continue
        for name in sorted(files):
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                lines = f.read().decode("cp932", "replace").splitlines()
            print("  D:\\%-32s %s%s" % (os.path.relpath(path, zyn.DRIVE_D).replace("/", "\\"), lines[0] if lines else "",
                                        " (+%d lines)" % (len(lines) - 1) if len(lines) > 1 else ""))


def drive(exe):
    shot = os.path.join(zyn.BUILD, "demo-dialog.png")
    with zyn.Program(exe) as program:
        dialog = program.wait_dialog()
        program.click(dialog, 1000)  # 更新を確認
        box = program.expect_box("への更新ﾌｧｲﾙがあります")
        print("check:   ", box.text)
        dialog = program.wait_dialog()
        print("pane:    ", dialog.control(1002)["text"].replace("\r\n", " / "))
        zyn.screenshot(shot)
        program.click(dialog, 1005)  # 実行
        print("question:", program.expect_box("合番", "Yes").text.replace("\n", " "))
        print("result:  ", program.expect_box("更新に", timeout=120).text)
        dialog = program.wait_dialog()
        program.click(dialog, 1006)  # 終了
        program.wait_exit()
    return shot


def publish_signed(folder):
    """What a publisher does: a key pair once, then a signed release of the files that differ from the
    installed tree. Returns the public key for the settings file."""
    shutil.rmtree(folder, ignore_errors=True)
    for tree, files in (("base", INSTALLED), ("new", UPDATE)):
        for name, content in files.items():
            os.makedirs(os.path.dirname(os.path.join(folder, tree, name)), exist_ok=True)
            with open(os.path.join(folder, tree, name), "wb") as f:
                f.write(content)
    os.makedirs(os.path.join(folder, "server"))
    with open(os.path.join(folder, "notes.txt"), "w", encoding="utf-8") as f:
        f.write("・鋼材データ追加\n・図面出力の不具合修正\n")
    windows = lambda name: "Z:" + os.path.join(folder, name).replace("/", "\\")  # noqa: E731
    publisher = ["wine", os.path.join(zyn.BUILD, "ZynPublish.exe")]
    key = subprocess.run(publisher + ["keygen", windows("demo.key")], capture_output=True, check=True).stdout.decode()
    print("ZynPublish keygen:  ", key.strip())
    release = subprocess.run(publisher + ["release", "--server", windows("server"), "--version", "3.5", "--revision", "2",
                                          "--files", windows("new"), "--base", windows("base"),
                                          "--notes", windows("notes.txt"), "--key", windows("demo.key"),
                                          "--product", "ravaZAZ"],
                             capture_output=True, check=True)
    print("ZynPublish release: ", release.stdout.decode().strip())
    return key.strip().partition("=")[2]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--interactive", action="store_true")
    options = parser.parse_args()

    zyn.clear_drive()
    for name, content in INSTALLED.items():
        zyn.write_file("D:\\" + name.replace("/", "\\"), content)
    release_folder = os.path.join(zyn.BUILD, "demo-release")
    public_key = publish_signed(release_folder)
    server_folder = os.path.join(release_folder, "server")
    server = UpdateServer(server_folder).start()
    url = server.url()
    exe = zyn.install_program(settings={"FixDirUrl": url, "FixFileName": "UPD", "PublicKey": public_key})
    print("update server: %s (serving %s)" % (url, server_folder))
    print("installation:  D:\\CAD = %s" % zyn.linux_path("D:\\CAD"))
    show_tree("before the update:")

    if options.interactive:
        print("ZynUpdate.exe is open: choose 更新を確認, then 実行. Close it to finish.")
        with zyn.Program(exe) as program:
            program.wait_exit(timeout=24 * 3600)
    else:
        shot = drive(exe)
        print("dialog screenshot: %s" % shot)
    show_tree("after the update:")
    logs = sorted(n for n in os.listdir(zyn.linux_path("D:\\CAD\\Update")) if ".LOG" in n.upper())
    for log in logs:
        print("generation %s lists:" % log)
        with open(os.path.join(zyn.linux_path("D:\\CAD\\Update"), log), "rb") as f:
            for line in f.read().decode("cp932").splitlines():
                print("  " + line)
    if not logs:
        print("no generation was left behind")
    server.stop()


if __name__ == "__main__":
    main()
