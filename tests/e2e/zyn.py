"""End-to-end harness: lays out a CAD installation on drive D:, runs the real
ZynUpdate.exe under Wine through the window helper (tests/tools/winhelper.cpp),
and reads, records and answers its dialogs and message boxes.

Texts are compared as Python strings; the helper converts the program's code page
932 texts to UTF-8, so a wrong code page shows up as a mismatch."""
import json
import os
import shutil
import subprocess
import time

BUILD = os.environ["ZYN_BUILD"]
DRIVE_D = os.environ.get("ZYN_DRIVE_D", os.path.join(BUILD, "drive_d"))
HELPER = os.path.join(BUILD, "tools", "winhelper.exe")

IDOK, IDCANCEL, IDRETRY, IDYES, IDNO = 1, 2, 4, 6, 7
BUTTONS = {"OK": IDOK, "Cancel": IDCANCEL, "Retry": IDRETRY, "Yes": IDYES, "No": IDNO}
MESSAGE_TEXT_ID, MESSAGE_ICON_ID = 0xFFFF, 0x440


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


def exists(windows_path):
    return os.path.exists(linux_path(windows_path))


def clear_drive():
    """Empties drive D: (read-only files included)."""
    for name in os.listdir(DRIVE_D):
        path = os.path.join(DRIVE_D, name)
        if os.path.isdir(path) and not os.path.islink(path):
            for root, dirs, files in os.walk(path):
                for entry in dirs + files:
                    os.chmod(os.path.join(root, entry), 0o755)
            shutil.rmtree(path)
        else:
            os.remove(path)


def install_program(folder="D:\\CAD\\Update", settings=None, section="Setting"):
    """Copies ZynUpdate.exe and unzip32.dll into folder and writes ZynUpdate.ini
    beside them (settings: key -> value; None writes no settings file)."""
    target = linux_path(folder)
    os.makedirs(target, exist_ok=True)
    shutil.copy(os.path.join(BUILD, "ZynUpdate.exe"), target)
    shutil.copy(os.path.join(BUILD, "unzip32.dll"), target)
    if settings is not None:
        lines = ["[%s]" % section] + ["%s=%s" % item for item in settings.items()]
        write_file(folder + "\\ZynUpdate.ini", "\r\n".join(lines) + "\r\n")
    return folder + "\\ZynUpdate.exe"


def screenshot(path):
    """What a user sees on the virtual display."""
    subprocess.run(["import", "-window", "root", path], check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


class Window:
    """One top-level window of the program, as the helper described it."""

    def __init__(self, info):
        self.hwnd, self.caption, self.enabled = info["hwnd"], info["caption"], info["enabled"]
        self.controls = {c["id"]: c for c in info["controls"]}

    def control(self, control_id):
        return self.controls.get(control_id)

    def text_of(self, control_id):
        return self.controls[control_id]["text"]

    @property
    def is_message_box(self):
        static = self.controls.get(MESSAGE_TEXT_ID)
        return (static is not None and static["class"].lower() == "static"
                and not any(1000 <= i <= 1009 for i in self.controls))

    @property
    def is_main_dialog(self):
        return 1005 in self.controls and 1006 in self.controls and 1003 not in self.controls

    @property
    def text(self):
        return self.controls[MESSAGE_TEXT_ID]["text"]

    @property
    def buttons(self):
        """Ids of the message box's buttons, in id order."""
        return sorted(i for i, c in self.controls.items()
                      if c["class"].lower() == "button" and c["visible"] and 1 <= i <= 11)

    @property
    def has_icon(self):
        icon = self.controls.get(MESSAGE_ICON_ID)
        return bool(icon and icon["visible"] and icon.get("has_icon"))

    def __repr__(self):
        if self.is_message_box:
            return "<box %r: %r %s>" % (self.caption, self.text, self.buttons)
        return "<window %r %s>" % (self.caption, sorted(self.controls))


class Program:
    """The real ZynUpdate.exe (or another program) started under the window helper.

    Each started program gets TMP and TEMP pointing at D:\\tmp unless env says otherwise,
    so downloads and the work folder land on the scratch drive."""

    def __init__(self, exe, args=(), env=None):
        self.helper = subprocess.Popen(["wine", HELPER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL)
        os.makedirs(linux_path("D:\\tmp"), exist_ok=True)
        variables = {"TMP": "D:\\tmp", "TEMP": "D:\\tmp"}
        variables.update(env or {})
        try:
            for name, value in variables.items():
                self.call("setenv", name, value if value is not None else "")
            command = " ".join(['"%s"' % exe] + list(args))
            self.pid = self.call("start", command)["pid"]
        except Exception:
            self.close()
            raise
        self.boxes = []  # every message box answered through this object, in order
        self.exit_code = None

    def call(self, *words):
        line = " ".join(str(w) for w in words) + "\n"
        self.helper.stdin.write(line.encode("cp932"))
        self.helper.stdin.flush()
        reply = self.helper.stdout.readline()
        if not reply:
            raise RuntimeError("window helper ended")
        result = json.loads(reply.decode("utf-8"))
        if not result.get("ok"):
            raise RuntimeError("window helper: %s for %r" % (result.get("error"), line.strip()))
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
            if time.time() > deadline:
                raise AssertionError("no %s within %ss; windows now: %r" % (what, timeout, self.windows()))
            if not self.running():
                raise AssertionError("the program ended (exit code %s) while waiting for a %s; boxes so far: %r"
                                     % (self.wait_exit(1), what, self.boxes))
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
        self.exit_code = result["code"]
        return self.exit_code

    def run_to_end(self, answers=(), timeout=60, others=None):
        """Answers message boxes until the program ends; returns the exit code. answers is
        a list of (text the box must contain, button), taken in order; once it is used
        up, further boxes fail the test, or with others="first" get their first button."""
        answers = list(answers)
        deadline = time.time() + timeout
        while self.running():
            boxes = [w for w in self.windows() if w.is_message_box and w.buttons]
            if boxes:
                box = boxes[0]
                if answers:
                    contains, button = answers.pop(0)
                    assert contains in box.text, "expected a box with %r, got %r" % (contains, box)
                else:
                    assert others == "first", "unexpected message box %r; answered so far %r" % (box, self.boxes)
                    button = box.buttons[0]
                self.answer(box, button)
                continue
            assert time.time() < deadline, "still running after %ss: %r" % (timeout, self.windows())
            time.sleep(0.1)
        assert not answers, "boxes expected but never shown: %r" % answers
        return self.wait_exit(5)

    def close(self):
        try:
            if self.helper.poll() is None:
                if self.running():
                    self.call("kill")
                    self.call("exitcode", 5000)
                self.call("quit")
        except (RuntimeError, BrokenPipeError):
            pass
        self.helper.stdin.close()
        self.helper.wait(timeout=10)
        self.helper.stdout.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
