"""End-to-end harness: lays out a CAD installation on drive D:, runs the real
ZynUpdate.exe under Wine through the window helper (tests/tools/winhelper.cpp),
and reads, records and answers its dialogs and message boxes. The helper gives the
program's code page 932 texts as UTF-8, so a wrong code page shows as a mismatch."""
import contextlib
import ctypes
import json
import os
import select
import shutil
import signal
import struct
import subprocess
import time

BUILD = os.environ["ZYN_BUILD"]
DRIVE_D = os.environ.get("ZYN_DRIVE_D", os.path.join(BUILD, "drive_d"))
IDOK, IDCANCEL, IDRETRY, IDYES, IDNO = 1, 2, 4, 6, 7
BUTTONS = {"OK": IDOK, "Cancel": IDCANCEL, "Retry": IDRETRY, "Yes": IDYES, "No": IDNO}


def linux_path(windows_path):
    """D:\\CAD\\x -> the file behind it on the mapped drive."""
    assert windows_path[:2].upper() == "D:", windows_path
    return os.path.join(DRIVE_D, *[part for part in windows_path[2:].split("\\") if part])


def write_file(windows_path, data):
    """Writes bytes, or text encoded as code page 932."""
    path = linux_path(windows_path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("cp932"))


def read_file(windows_path):
    with open(linux_path(windows_path), "rb") as f:
        return f.read()


def clear_drive():
    for name in os.listdir(DRIVE_D):
        path = os.path.join(DRIVE_D, name)
        shutil.rmtree(path) if os.path.isdir(path) and not os.path.islink(path) else os.remove(path)


def install_program(folder="D:\\CAD\\Update", settings=None):
    """ZynUpdate.exe and unzip32.dll in folder, with the settings given (None: no settings file)."""
    os.makedirs(linux_path(folder), exist_ok=True)
    for name in ("ZynUpdate.exe", "unzip32.dll"):
        shutil.copy(os.path.join(BUILD, name), linux_path(folder))
    if settings is not None:
        write_file(folder + "\\ZynUpdate.ini", "[Setting]\r\n" + "".join("%s=%s\r\n" % i for i in settings.items()))
    return folder + "\\ZynUpdate.exe"


def screenshot(path):  # what a user sees on the virtual display
    subprocess.run(["import", "-window", "root", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Window:
    """One top-level window of the program, as the helper described it."""

    def __init__(self, info):
        self.hwnd, self.pid, self.caption, self.enabled = info["hwnd"], info["pid"], info["caption"], info["enabled"]
        self.rect = info["rect"]  # left, top, right, bottom on the screen
        self.controls = {c["id"]: c for c in info["controls"]}
        self.control = self.controls.get
        static = self.controls.get(0xFFFF)
        self.is_message_box = bool(static and static["class"].lower() == "static"
                                   and not any(1000 <= i <= 1009 for i in self.controls))
        self.is_main_dialog = 1005 in self.controls and 1006 in self.controls and 1003 not in self.controls
        self.text = static["text"] if static else ""
        self.buttons = sorted(i for i, c in self.controls.items()  # a message box's, in id order
                              if c["class"].lower() == "button" and c["visible"] and 1 <= i <= 11)
        self.default_button = next((i for i in self.buttons if self.controls[i]["style"] & 0xF == 1), None)
        icon = self.controls.get(0x440)
        self.has_icon = bool(icon and icon["visible"] and icon.get("has_icon"))

    def __repr__(self):
        return "<%r %r %s>" % (self.caption, self.text, sorted(self.controls))


class Program(contextlib.AbstractContextManager):
    """A program started under the window helper, with TMP and TEMP on drive D: unless
    env says otherwise, through the command wine (another user's, say). boxes holds every
    message box answered, in order; the windows listed include those of the processes
    that the program started."""

    def __init__(self, exe, args=(), env=None, wine=("wine",)):
        self.helper = subprocess.Popen(list(wine) + [os.path.join(BUILD, "tools", "winhelper.exe")],
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.boxes = []
        os.makedirs(linux_path("D:\\tmp"), exist_ok=True)
        try:
            for name, value in dict({"TMP": "D:\\tmp", "TEMP": "D:\\tmp"}, **(env or {})).items():
                self.call("setenv", name, value or "")
            self.pid = self.call("start", " ".join(['"%s"' % exe] + list(args)))["pid"]
        except Exception:
            self.close()
            raise

    def call(self, *words):
        self.helper.stdin.write((" ".join(str(w) for w in words) + "\n").encode("utf-8"))
        self.helper.stdin.flush()
        result = json.loads(self.helper.stdout.readline().decode("utf-8") or '{"error": "helper ended"}')
        if not result.get("ok"):
            raise RuntimeError("window helper: %s for %r" % (result.get("error"), words))
        return result

    def windows(self):
        return [Window(w) for w in self.call("windows")["windows"]]

    def running(self):
        return not self.call("exitcode", 0)["exited"]

    def wait_window(self, predicate, timeout=30, what="window"):
        deadline = time.time() + timeout
        while True:
            found = [w for w in self.windows() if predicate(w)]
            if found:
                return found[0]
            assert time.time() < deadline, "no %s within %ss; windows: %r" % (what, timeout, self.windows())
            assert self.running(), "the program ended while waiting for a %s; boxes: %r" % (what, self.boxes)
            time.sleep(0.1)

    def wait_box(self, timeout=30):
        return self.wait_window(lambda w: w.is_message_box and w.buttons, timeout, "message box")

    def wait_dialog(self, timeout=30):
        return self.wait_window(lambda w: w.is_main_dialog and w.enabled, timeout, "main dialog")

    def answer(self, box, button="OK"):
        """Clicks a message box button ("OK", "Yes", ... or an id) and waits for the box to go."""
        button_id = BUTTONS.get(button, button)
        assert button_id in box.buttons, "%r has no button %s" % (box, button)
        self.boxes.append(box)
        self.call("click", box.hwnd, button_id)
        deadline = time.time() + 10
        while any(w.hwnd == box.hwnd for w in self.windows()) and time.time() < deadline:
            time.sleep(0.05)

    def expect_box(self, contains, button="OK", timeout=30):
        """Waits for the next message box, checks that its text holds contains, answers it."""
        box = self.wait_box(timeout)
        assert contains in box.text, "expected a box with %r, got %r" % (contains, box)
        self.answer(box, button)
        return box

    def click(self, window, control_id):
        self.call("click", window.hwnd, control_id)

    def wait_exit(self, timeout=30):
        result = self.call("exitcode", int(timeout * 1000))
        assert result["exited"], "the program did not end within %ss; windows: %r" % (timeout, self.windows())
        return result["code"]

    def run_to_end(self, answers=(), timeout=60, others=None, anywhere=()):
        """Answers message boxes until the program ends; returns the exit code. answers is
        a list of (text the box must contain, button), taken in order; once it is used
        up, further boxes fail the test, or with others="first" get their first button.
        A box that holds a text of anywhere, (text, button) too, may come at any point."""
        answers = list(answers)
        deadline = time.time() + timeout
        while self.running():
            boxes = [w for w in self.windows() if w.is_message_box and w.buttons]
            if boxes:
                other = [(text, button) for text, button in anywhere if text in boxes[0].text]
                assert answers or other or others == "first", "unexpected box %r; answered %r" % (boxes[0], self.boxes)
                contains, button = other[0] if other else answers.pop(0) if answers else ("", boxes[0].buttons[0])
                assert contains in boxes[0].text, "expected a box with %r, got %r" % (contains, boxes[0])
                self.answer(boxes[0], button)
                continue
            assert time.time() < deadline, "still running after %ss: %r" % (timeout, self.windows())
            time.sleep(0.1)
        assert not answers, "boxes expected but never shown: %r" % answers
        return self.wait_exit(5)

    def close(self):
        try:
            if self.running():
                self.call("kill")
                self.call("exitcode", 5000)
            self.call("quit")
        except (RuntimeError, BrokenPipeError, ValueError):
            pass
        self.helper.stdin.close()
        self.helper.wait(timeout=10)
        self.helper.stdout.close()

    def __exit__(self, *exc):
        self.close()


def program_running_in(pid, program="D:\\CAD\\Update\\ZynUpdate.exe"):
    """Whether process pid runs program under this build's Wine prefix (other builds may run one too)."""
    try:
        with open("/proc/%s/cmdline" % pid, "rb") as cmdline, open("/proc/%s/environ" % pid, "rb") as environ:
            return (cmdline.read().startswith(program.encode())
                    and ("WINEPREFIX=%s\0" % os.environ["WINEPREFIX"]).encode() in environ.read())
    except OSError:
        return False


MODIFIED, CREATED, DELETED = 0x2, 0x100, 0x200  # inotify events


def kill_when(program, folder, condition, what, events=MODIFIED | CREATED, exe="D:\\CAD\\Update\\ZynUpdate.exe"):
    """SIGKILLs the program's Wine process once condition(names of the files in folder that the events touched so
    far) holds, checked at each such event, so that the kill lands before the next step ends."""
    pid = next(int(p) for p in os.listdir("/proc") if p.isdigit() and program_running_in(p, exe))
    libc = ctypes.CDLL(None, use_errno=True)
    watch = libc.inotify_init()
    try:
        libc.inotify_add_watch(watch, linux_path(folder).encode(), events)
        names = set()
        while not condition(names):
            assert select.select([watch], [], [], 60)[0], "%s never came: %r" % (what, program.windows())
            found = os.read(watch, 65536)
            while found:  # struct inotify_event: wd, mask, cookie, len, name
                length = struct.unpack_from("iIII", found)[3]
                names.add(found[16:16 + length].rstrip(b"\0").decode())
                found = found[16 + length:]
        os.kill(pid, signal.SIGKILL)
    finally:
        os.close(watch)
    program.wait_exit()
