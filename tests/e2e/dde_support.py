"""Program Manager registration helpers for the end-to-end scenarios, on top of harness.py.

    rec = Recorder(s).start()          # progman_recorder.exe as the PROGMAN server, READY and first
    rec = Recorder(s).start(ack_delay=0.5)                   # answers held back half a second
    ... run the installer ...
    rec.wait_for("TERMINATE")          # bounded
    events = rec.stop()                # [Event(kind, fields)], READY and earlier left out
    from_clients(events)               # without the recorder's own ACK lines
    installer = build_installer(s, "atlas")                  # small tree, packed; an Installer
    p = s.start(installer.out)
    walk_to_success(s, p, installer, directory="C:\\Apps\\Atlas Test")

Page helpers wait for a page by what identifies it (the agreement's title, the drive list 1000,
the directory edit 1004) and answer message boxes by clicking their buttons, as a user with a
mouse would; keys go to the focused window (Wine focuses each new dialog).
"""
import pathlib
import re
import struct
import time

from harness import Failure, check, log

# The installer's texts and control ids, as the other scenarios know them.
from installer_flow import (AGREEMENT_TITLE, CAPTION, DEFAULT_DIR, DRIVE_LIST, EXE,  # noqa: F401
                            FAILURE as FAILURE_TEXT, INSTALL_DIR as INSTALL_DIR_EDIT,
                            NAME as PROGRAM_NAME, QUIT_QUESTION, SUCCESS as SUCCESS_TEXT,
                            compare_trees)

RECORDER = "progman_recorder.exe"
GROUP = "Vornhelm Software"
GROUP_COMMAND = "[CreateGroup(Vornhelm Software)][ShowGroup(New Group,1)]"
NOT_ENOUGH_SPACE = "There is not enough free space on that drive"
CANNOT_CREATE = "Error, can not create that directory."

HEADER_SIZE = 388
TOTAL_SIZE_OFFSET = 6 * 64


def item_command(install_dir, exe_name=None, program_name=PROGRAM_NAME):
    """The registration's second command: installDir already ends with a backslash."""
    return "[AddItem(%s\\%s,%s)]" % (install_dir, exe_name or EXE, program_name)


# --- the recording server ------------------------------------------------------------------------

class Event:
    """One line of the recorder's log: seq, ms (since the recorder started), unix_ms, kind
    (INITIATE, EXECUTE, ...) and fields (str -> str, %XX escapes undone)."""

    def __init__(self, line):
        parts = line.rstrip("\n").split("\t")
        if len(parts) < 4:
            raise Failure("malformed recorder log line %r" % line)
        self.seq, self.ms, self.unix_ms = int(parts[0]), int(parts[1]), int(parts[2])
        self.kind = parts[3]
        self.fields = {}
        for part in parts[4:]:
            key, _, value = part.partition("=")
            self.fields[key] = _unescape(value)

    def __getitem__(self, key):
        return self.fields[key]

    def hwnd(self, key="client"):
        return int(self.fields[key], 16)

    def __repr__(self):
        return "%s %s" % (self.kind, " ".join("%s=%r" % kv for kv in self.fields.items()))


def _unescape(value):
    raw = re.sub(rb"%([0-9A-F]{2})", lambda m: bytes([int(m.group(1), 16)]), value.encode("latin-1"))
    return raw.decode("cp1252", errors="replace")


class Recorder:
    """progman_recorder.exe in the session's prefix and display, logging into the work dir."""

    def __init__(self, session, name="progman"):
        self.s = session
        self.log_path = session.workdir / (name + ".log")
        self.stop_path = session.workdir / (name + ".stop")
        self.process = None

    def start(self, timeout=30, await_foreign=10, ack_delay=0):
        """Starts the recorder and waits for READY; ack_delay (s) holds back each execute's
        answer."""
        for path in (self.log_path, self.stop_path):
            if path.exists():
                path.unlink()
        # Its own time limit outlives any scenario; the stop file ends it sooner.
        self.process = self.s.start(self.s.bindir, RECORDER, self.s.windows_path(self.log_path),
                                    "--stop-file", self.s.windows_path(self.stop_path),
                                    "--timeout", "600", "--await-foreign", str(await_foreign),
                                    "--ack-delay", str(ack_delay))
        deadline = time.monotonic() + timeout
        while not any(e.kind == "READY" for e in self.all_events()):
            if self.process.poll() is not None:
                raise Failure("%s exited (%d) before it was ready" % (RECORDER, self.process.returncode))
            if time.monotonic() > deadline:
                raise Failure("%s not ready within %d s" % (RECORDER, timeout))
            time.sleep(0.1)
        ready = [e for e in self.all_events() if e.kind == "READY"][0]
        probes = [e for e in self.all_events() if e.kind == "PROBE"]
        log("recorder ready: %s" % "; ".join("%s #%s %s pid %s" % (
            "recorder" if p["self"] == "1" else "other", p["rank"], p["class"], p["pid"]) for p in probes))
        check(ready["first"] == "1", "the recorder answers a PROGMAN initiate before any other server",
              repr(probes))
        if len(probes) < 2:
            log("NOTE: no other PROGMAN server answered the recorder's probe")
        return self

    def all_events(self):
        if not self.log_path.exists():
            return []
        text = self.log_path.read_text(encoding="latin-1")
        # A line is complete once its newline is written.
        return [Event(line) for line in text.splitlines(keepends=True) if line.endswith("\n")]

    def events(self):
        """Everything logged after READY but EXIT: the clients' messages and the recorder's ACKs."""
        events, ready = [], False
        for e in self.all_events():
            if ready and e.kind != "EXIT":
                events.append(e)
            ready = ready or e.kind == "READY"
        return events

    def wait_for(self, kind, timeout=10):
        """The first event of that kind after READY; Failure if none is logged within timeout s."""
        deadline = time.monotonic() + timeout
        while True:
            for e in self.events():
                if e.kind == kind:
                    return e
            if time.monotonic() > deadline:
                raise Failure("the recorder logged no %s within %d s: %r" % (kind, timeout, self.events()))
            time.sleep(0.1)

    def stop(self, timeout=15):
        """Ends the recorder through its stop file; returns events()."""
        self.stop_path.touch()
        self.s.wait_exit(self.process, timeout=timeout)
        check(any(e.kind == "EXIT" for e in self.all_events()), "the recorder logged its exit")
        return self.events()


CLIENT_EVENTS = ("INITIATE", "EXECUTE", "TERMINATE", "DDE")


def from_clients(events):
    """The events a client caused, without the recorder's own answers (ACK)."""
    return [e for e in events if e.kind in CLIENT_EVENTS]


def check_no_registration(events, backdrop=None):
    """An abandoned or failed install: the initiate, and nothing sent after it."""
    check([e.kind for e in events] == ["INITIATE"],
          "the recorder saw only the initiate: no command, no terminate", repr(events))
    check(events[0]["class"] == "Test", "the initiate came from the backdrop window (class Test)",
          repr(events[0]))
    if backdrop is not None:
        check(events[0].hwnd() == backdrop, "the initiate's client is the backdrop window",
              "%r vs hwnd %#x" % (events[0], backdrop))


# --- installers ------------------------------------------------------------------------------------

class Installer:
    """A packed installer: out (directory with SETUP.EXE), source, default_dir, exe."""

    def __init__(self, out, source, default_dir):
        self.out, self.source, self.default_dir = out, source, default_dir
        self.exe = EXE

    @property
    def setup_exe(self):
        return self.out / "SETUP.EXE"


def build_installer(s, name, default_dir=DEFAULT_DIR, extra=()):
    """Packs a small tree (the program, a data file, a nested file) into <workdir>/<name>/out,
    with any extra globpack options."""
    base = s.workdir / name
    source, out = base / "src", base / "out"
    (source / "DATA").mkdir(parents=True, exist_ok=True)
    out.mkdir(parents=True, exist_ok=True)
    (source / EXE).write_bytes(b"MZ" + bytes(range(256)) * 8)
    (source / "README.TXT").write_bytes(b"Vornhelm Atlas\r\n" * 40)
    (source / "DATA" / "MAPS.DAT").write_bytes(bytes((i * 7 + i // 251) & 0xFF for i in range(20000)))
    s.pack(source, out, "--name", PROGRAM_NAME, "--caption", CAPTION, "--subtitle", "Maps",
           "--default-dir", default_dir, "--version-text", "2.1", "--exe", EXE, *extra)
    check((out / "SETUP.EXE").exists(), "globpack wrote %s" % (out / "SETUP.EXE"))
    return Installer(out, source, default_dir)


def archive_offset(setup_exe):
    """Where the archive stream starts in SETUP.EXE: the 4-byte little-endian trailer at its end."""
    data = pathlib.Path(setup_exe).read_bytes()
    start = struct.unpack("<I", data[-4:])[0]
    if not 0 < start < len(data) - 4 - HEADER_SIZE or data[start - 1] != 0xFF:
        raise Failure("%s: trailer points at %d, not at an archive behind its 0xFF byte" % (setup_exe, start))
    return start


def set_total_size(setup_exe, total_size):
    """Rewrites the header's totalSize (the 32-bit little-endian field after the six texts)."""
    path = pathlib.Path(setup_exe)
    start = archive_offset(path)
    data = bytearray(path.read_bytes())
    at = start + TOTAL_SIZE_OFFSET
    old = struct.unpack_from("<I", data, at)[0]
    struct.pack_into("<I", data, at, total_size)
    path.write_bytes(bytes(data))
    return old


# --- pages and boxes -------------------------------------------------------------------------------

def _poll(s, what, match, timeout, process=None):
    deadline = time.monotonic() + timeout
    while True:
        windows = s.windows()
        for w in windows:
            if match(w):
                return w
        if process is not None and process.poll() is not None:
            raise Failure("the installer exited (%d) before %s appeared; windows: %r"
                          % (process.returncode, what, windows))
        if time.monotonic() > deadline:
            raise Failure("no %s within %d s; windows: %r" % (what, timeout, windows))
        time.sleep(0.2)


def _has_child(w, control_id):
    return any(c.id == control_id for c in w.children)


def wait_agreement(s, p, timeout=30):
    return _poll(s, "agreement page", lambda w: w.cls == "#32770" and w.title == AGREEMENT_TITLE,
                 timeout, p)


def wait_drive_page(s, p, timeout=20):
    return _poll(s, "drive page", lambda w: w.cls == "#32770" and _has_child(w, DRIVE_LIST), timeout, p)


def wait_directory_page(s, p, timeout=20):
    return _poll(s, "directory page", lambda w: w.cls == "#32770" and _has_child(w, INSTALL_DIR_EDIT),
                 timeout, p)


def wait_box(s, p, text, timeout=20):
    """The message box whose text is exactly text."""
    return _poll(s, "message box %r" % text, lambda w: w.cls == "#32770" and w.message == text,
                 timeout, p)


def backdrop(s, p):
    """The installer's backdrop window (class and title "Test")."""
    return _poll(s, "backdrop window", lambda w: w.cls == "Test" and w.title == "Test", 10, p)


def window_by_hwnd(s, hwnd):
    for w in s.windows():
        if w.hwnd == hwnd:
            return w
    return None


def press_button(s, window, text):
    """Clicks the button of that text (Yes, No, OK, Cancel, Agree) at its centre."""
    s.click(*window.button(text).center)


def replace_edit_text(s, text):
    """Replaces the text of the focused edit control, as typed."""
    s.key("End", "shift+Home", "BackSpace")
    s.type(text)


def finish(s, p, text, timeout=120, before_ok=None):
    """Waits for the final box, checks its text and title, calls before_ok() if given, presses OK
    and waits for the exit."""
    box = wait_box(s, p, text, timeout=timeout)
    check(box.title == CAPTION and box.owner == 0,
          "the final box is unowned and titled with the caption", repr(box))
    if before_ok is not None:
        before_ok()
    s.key("Return")
    rc = s.wait_exit(p, timeout=30)
    expected = 0 if text == SUCCESS_TEXT else 1
    check(rc == expected, "the installer exits with code %d" % expected, "exit code %d" % rc)
    return box


def walk_to_success(s, p, installer, directory=None, before_ok=None):
    """Agree, OK on the drive page, optionally a typed directory, OK; waits for the success box
    and presses its OK (after before_ok(), if given). Returns (backdrop hwnd, install directory as the installer formats it, ending in '\\')."""
    page = wait_agreement(s, p)
    back = backdrop(s, p).hwnd
    # A click: Enter would press Cancel, the page's default button, though Agree has the focus.
    press_button(s, page, "Agree")
    drive = wait_drive_page(s, p)
    s.key("Return")
    page = wait_directory_page(s, p)
    if directory is not None:
        replace_edit_text(s, directory)
        page = wait_edit_text(s, page, directory)
    chosen = page.child(INSTALL_DIR_EDIT).text
    s.key("Return")
    finish(s, p, SUCCESS_TEXT, before_ok=before_ok)
    log("installed into %r from the drive page %r" % (chosen, drive.child(DRIVE_LIST).items))
    return back, chosen.rstrip("\\") + "\\"


def wait_edit_text(s, page, text, timeout=10):
    """The page once its directory edit shows text (typing is asynchronous)."""
    return _poll(s, "directory text %r" % text,
                 lambda w: w.hwnd == page.hwnd and w.child(INSTALL_DIR_EDIT).text == text, timeout)


def check_installed(s, installer, install_dir):
    """Every source file is in the install directory, with its bytes and last-write time."""
    problems = compare_trees(installer.source, s.unix_path(install_dir))
    check(not problems, "every file arrived in %s" % install_dir, "; ".join(problems[:10]))


# --- Wine's own Program Manager server -------------------------------------------------------------

def start_menu_groups(s, group=GROUP):
    """The prefix's Start Menu Programs folders named group (user and all-users profiles)."""
    users = s.prefix / "drive_c" / "users"
    found = []
    for programs in list(users.glob("*/AppData/Roaming/Microsoft/Windows/Start Menu/Programs")) + \
            list(users.glob("*/Start Menu/Programs")) + \
            list((s.prefix / "drive_c" / "ProgramData").glob("Microsoft/Windows/Start Menu/Programs")):
        if (programs / group).is_dir():
            found.append(programs / group)
    return found
