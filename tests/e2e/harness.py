"""End-to-end harness: drives SETUP.EXE under Wine on a private X display, as a user would.

A scenario is tests/e2e/test_<name>.py; it exits 0 (pass), 1 (fail) or 77 (skip):

    import harness
    from harness import Session, check

    def scenario(s):                           # s: an open Session
        s.pack(source, out, "--name", "Vornhelm Atlas", ...)  # globpack(.exe) -> out/SETUP.EXE ...
        p = s.start(out)                       # wine SETUP.EXE, cwd = out, not waited for
        w = s.wait_window(title="License Agreement", process=p)  # polls window_report.exe, bounded
        s.key("space"); s.type("C:\\Apps\\Atlas Test")      # XTEST keys to the focused window
        s.click(*w.button("Cancel").center)    # screen coordinates from window_report.exe's rects
        box = s.wait_window(cls="#32770", text_contains="was successful", timeout=60)
        s.screenshot("done.png").pixel(10, 10)               # -> (r, g, b); PNG in the work dir
        s.key("Return", to=box); s.wait_exit(p, timeout=30)  # kills and fails on timeout
        check(s.unix_path("C:\\ATLAS").is_dir(), "the install directory exists")

    harness.main("install_full", scenario)

installer_flow.py knows the installer's pages, texts and ids and walks them (use it rather than
the raw calls above). Windows come from window_report.exe (programs/window_report.cpp), which runs resident
in the session (`--serve`) and reports every visible top-level window with its children: class,
id, text, style, screen rect, visibility, list box items and selection, the focused child, the
owner; Window.message is a message box's text.

Session(name) gets its own Xvfb (1024x768x24, or $E2E_DISPLAY when set) and its own copy of the
template prefix; leaving it kills every process it started, the prefix's wineserver and the X
server, even after a failure, a signal or the deadline. harness.main() runs the scenario inside
a Session, prints each check, saves a screenshot (fail-<n>.png) into the work dir on failure and
turns the outcome into the exit code.

Environment (set by tests/e2e/CMakeLists.txt):
    E2E_BINDIR      the build's bin/ (SETUP.EXE, globpack.exe, window_report.exe, ...)
    E2E_SOURCE_DIR  the source tree (samples/make_sample.py)
    E2E_WORKDIR     this scenario's scratch directory (emptied at the start)
    E2E_TEMPLATE    the template prefix made by `harness.py make-template DIR`
    E2E_GLOBPACK    optional: a native globpack to use instead of globpack.exe under Wine
    E2E_DEADLINE    optional: seconds before the scenario is abandoned (default 240)
    E2E_KEEP        optional: 1 keeps the prefix copy after the run, for a post-mortem

Command line: harness.py make-template DIR | remove-template DIR.
"""
import atexit
import json
import os
import pathlib
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
SCREEN = (1024, 768)
WINE_ENV = {
    "WINEARCH": "win32",
    "WINEDEBUG": "-all",
    "LC_ALL": "C.UTF-8",
    "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
}
NEEDED_PROGRAMS = ("wine", "wineserver", "Xvfb", "xdotool", "xwd", "convert")


class Skip(Exception):
    """The scenario cannot run here (a missing program); exit code 77."""


class Failure(Exception):
    """A check failed or a bounded wait ran out."""


def log(text):
    print(text, flush=True)


def check(condition, what, detail=""):
    """Prints 'ok: what' or raises Failure('what: detail')."""
    if not condition:
        raise Failure(what + (": " + detail if detail else ""))
    log("ok: " + what)


def missing_programs():
    return [p for p in NEEDED_PROGRAMS if shutil.which(p) is None]


def _run(args, env=None, timeout=60, cwd=None, check_rc=True, what=None):
    """Runs a command to completion, bounded; returns CompletedProcess (text output). Output goes
    through temporary files, not pipes: a Wine program may leave a daemon (services, explorer)
    holding its standard handles, and a pipe would then never end."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            p = subprocess.run(args, env=env, cwd=cwd, timeout=timeout, stdout=out, stderr=err,
                               stdin=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            raise Failure("%s took over %d s" % (what or args[0], timeout))
        out.seek(0)
        err.seek(0)
        r = subprocess.CompletedProcess(args, p.returncode,
                                        out.read().decode("utf-8", "replace"),
                                        err.read().decode("utf-8", "replace"))
    if check_rc and r.returncode != 0:
        raise Failure("%s exited %d: %s" % (what or " ".join(map(str, args)), r.returncode,
                                            (r.stderr or r.stdout).strip()[-2000:]))
    return r


# --- the template prefix -------------------------------------------------------------------------

def _prefix_env(prefix):
    env = dict(os.environ)
    env.update(WINE_ENV)
    env["WINEPREFIX"] = str(prefix)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def _stop_wineserver(env, wait=30):
    """Lets the prefix's wineserver finish (it writes the registry then), killing it after wait s."""
    try:
        subprocess.run(["wineserver", "-w"], env=env, timeout=wait,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        subprocess.run(["wineserver", "-k"], env=env, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


CDROM_DRIVE = "E"  # the template's CD-ROM drive, which the drive page must never list


def make_template(directory):
    """A win32 prefix for the scenarios to copy: no window manager role for Wine (Managed=N, so
    Wine focuses each new dialog itself), no crash dialog, and drive E: a CD-ROM drive (on a
    directory of the prefix; Wine takes the type from the registry when it starts)."""
    directory = pathlib.Path(directory)
    ready = directory / ".e2e-ready"
    env = _prefix_env(directory)
    if directory.exists():
        subprocess.run(["wineserver", "-k"], env=env, timeout=30, capture_output=True)
        shutil.rmtree(directory)
    directory.parent.mkdir(parents=True, exist_ok=True)
    start = time.monotonic()
    _run(["wineboot", "-i"], env=env, timeout=300, what="wineboot -i")
    for key, value, kind, data in (
            (r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "N"),
            (r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", "REG_DWORD", "0"),
            (r"HKLM\Software\Wine\Drives", CDROM_DRIVE.lower() + ":", "REG_SZ", "cdrom")):
        _run(["wine", "reg", "add", key, "/v", value, "/t", kind, "/d", data, "/f"], env=env,
             timeout=120, what="wine reg add %s" % value)
    (directory / "cdrom").mkdir(exist_ok=True)
    cdrom = directory / "dosdevices" / (CDROM_DRIVE.lower() + ":")
    if not os.path.lexists(cdrom):
        cdrom.symlink_to("../cdrom")  # relative: it holds in every copy of the template
    _stop_wineserver(env, wait=60)
    ready.touch()
    log("template prefix %s ready in %.1f s" % (directory, time.monotonic() - start))


def remove_template(directory):
    directory = pathlib.Path(directory)
    if directory.exists():
        subprocess.run(["wineserver", "-k"], env=_prefix_env(directory), timeout=30,
                       capture_output=True)
        shutil.rmtree(directory, ignore_errors=True)


# --- what window_report.exe reports --------------------------------------------------------------------

class Control:
    """A child window: cls, id, text, style, rect (screen l, t, r, b), visible, enabled; for list
    boxes items (texts) and selected (index, -1 for none)."""

    def __init__(self, d):
        self.hwnd = d["hwnd"]
        self.parent = d["parent"]
        self.id = d["id"]
        self.cls = d["class"]
        self.text = d["text"]
        self.style = d["style"]
        self.rect = tuple(d["rect"])
        self.visible = d["visible"]
        self.enabled = d["enabled"]
        self.items = d.get("items")
        self.selected = d.get("selected")

    @property
    def center(self):
        l, t, r, b = self.rect
        return ((l + r) // 2, (t + b) // 2)

    def __repr__(self):
        return "<%s id=%d %r%s>" % (self.cls, self.id, self.text[:60],
                                    "" if self.visible else " hidden")


class Window:
    """A top-level window and its children, as window_report.exe saw them."""

    def __init__(self, d):
        self.hwnd = d["hwnd"]
        self.pid = d["pid"]
        self.cls = d["class"]
        self.title = d["title"]
        self.rect = tuple(d["rect"])
        self.client = tuple(d["client"])
        self.visible = d["visible"]
        self.enabled = d["enabled"]
        self.owner = d["owner"]
        self.style = d["style"]
        self.exstyle = d["exstyle"]
        self.xid = d["xid"]
        self.focus = d["focus"]
        self.children = [Control(c) for c in d["children"]]

    def child(self, control_id):
        """The child with that control id; Failure if there is none."""
        for c in self.children:
            if c.id == control_id:
                return c
        raise Failure("%r has no control %d (it has %r)" % (self.title, control_id, self.children))

    def button(self, text):
        """The button whose text, without '&', is text."""
        for c in self.children:
            if c.cls.lower() == "button" and c.text.replace("&", "") == text:
                return c
        raise Failure("%r has no button %r" % (self.title, text))

    @property
    def texts(self):
        """The title and every child's text, one string (for text_contains)."""
        return "\n".join([self.title] + [c.text for c in self.children])

    @property
    def message(self):
        """A message box's text: its static control 0xFFFF (Wine and Windows alike)."""
        for c in self.children:
            if c.cls.lower() == "static" and c.id == 0xFFFF and c.text:
                return c.text
        return ""

    def focused(self):
        """The focused child, or None."""
        for c in self.children:
            if c.hwnd == self.focus:
                return c
        return None

    def __repr__(self):
        return "<Window %s %r %s%s>" % (self.cls, self.title, self.rect,
                                        "" if self.visible else " hidden")


class Image:
    """An RGB screenshot: pixel(x, y) -> (r, g, b)."""

    def __init__(self, width, height, data, path=None):
        self.width, self.height, self.data, self.path = width, height, data, path

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    @staticmethod
    def from_ppm(raw, path=None):
        # P6: magic, width, height, maxval, separated by whitespace and "#..." comment lines,
        # then one whitespace byte and the samples.
        fields, pos = [], 0
        while len(fields) < 4:
            while raw[pos:pos + 1].isspace():
                pos += 1
            if raw[pos:pos + 1] == b"#":
                pos = raw.index(b"\n", pos)
                continue
            end = pos
            while not raw[end:end + 1].isspace():
                end += 1
            fields.append(raw[pos:end])
            pos = end
        if fields[0] != b"P6" or fields[3] != b"255":
            raise Failure("unexpected PPM header %r" % fields)
        width, height = int(fields[1]), int(fields[2])
        data = raw[pos + 1:pos + 1 + width * height * 3]
        if len(data) != width * height * 3:
            raise Failure("short PPM: %d bytes for %dx%d" % (len(data), width, height))
        return Image(width, height, data, path)


# --- the session ---------------------------------------------------------------------------------

_live_sessions = []


def _close_live_sessions(*_):
    for s in list(_live_sessions):
        s.close()


atexit.register(_close_live_sessions)


class Session:
    """One X display, one Wine prefix, the processes started in them. Use it as a context manager."""

    def __init__(self, name, bindir=None, workdir=None, template=None, display=None):
        self.name = name
        self.bindir = pathlib.Path(bindir or os.environ["E2E_BINDIR"])
        self.workdir = pathlib.Path(workdir or os.environ.get("E2E_WORKDIR") or
                                    pathlib.Path.cwd() / ("e2e-" + name))
        self.template = pathlib.Path(template or os.environ["E2E_TEMPLATE"])
        self.display = display or os.environ.get("E2E_DISPLAY") or None
        self.prefix = self.workdir / "prefix"
        self.xvfb = None
        self.processes = []
        self.inspector = None
        self.inspector_buffer = b""
        self.shots = 0
        self.env = None
        self.closed = True

    # -- setup and cleanup

    def __enter__(self):
        self.open()
        return self

    def __exit__(self, *_):
        self.close()

    def open(self):
        missing = missing_programs()
        if missing:
            raise Skip("not installed: %s (./dev.sh deps installs them)" % ", ".join(missing))
        if not (self.template / ".e2e-ready").exists():
            raise Failure("no template prefix at %s: the e2e.template test makes it" % self.template)
        for program in ("window_report.exe",):
            if not (self.bindir / program).exists():
                raise Failure("%s is missing from %s" % (program, self.bindir))
        self.closed = False
        _live_sessions.append(self)
        self.workdir.mkdir(parents=True, exist_ok=True)
        if self.prefix.exists():  # left by a killed run: its wineserver may still be up
            subprocess.run(["wineserver", "-k"], env=_prefix_env(self.prefix), timeout=30,
                           capture_output=True)
            shutil.rmtree(self.prefix)
        start = time.monotonic()
        _run(["cp", "-a", str(self.template), str(self.prefix)], timeout=120, what="copying the prefix")
        if not self.display:
            self.display = self._start_xvfb()
        self.env = _prefix_env(self.prefix)
        self.env["DISPLAY"] = self.display
        # wineboot starts the wineserver and Wine's services for this display, with harmless
        # standard handles; then the inspector starts the desktop process.
        _run(["wine", "wineboot"], env=self.env, timeout=120, what="wine wineboot")
        self.windows()
        log("session %s: display %s, prefix %s, ready in %.1f s"
            % (self.name, self.display, self.prefix, time.monotonic() - start))

    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % SCREEN,
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL,
            stderr=open(self.workdir / "xvfb.log", "wb"), start_new_session=True)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        try:
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_end], [], [], left)[0]:
                    raise Failure("Xvfb gave no display number within 20 s; see xvfb.log")
                chunk = os.read(read_end, 16)
                if not chunk:
                    raise Failure("Xvfb exited at start; see %s" % (self.workdir / "xvfb.log"))
                number += chunk
        finally:
            os.close(read_end)
        return ":" + number.decode().strip()

    def close(self):
        """Kills what the session started; safe to call twice and from signal handlers."""
        if self.closed:
            return
        self.closed = True
        if self in _live_sessions:
            _live_sessions.remove(self)
        self._stop_inspector()
        for p in self.processes:
            if p.poll() is None:
                try:
                    os.killpg(p.pid, signal.SIGKILL)
                except OSError:
                    pass
        if self.env is not None:
            try:
                subprocess.run(["wineserver", "-k"], env=self.env, timeout=30, capture_output=True)
            except subprocess.TimeoutExpired:
                pass
        for p in self.processes:
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        if self.xvfb is not None and self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
        if os.environ.get("E2E_KEEP") != "1":
            shutil.rmtree(self.prefix, ignore_errors=True)

    # -- Wine programs

    def wine(self, program, *args, cwd=None, timeout=120, check_rc=True):
        """Runs a Windows program to completion (bounded); returns CompletedProcess."""
        return _run(["wine", str(program)] + [str(a) for a in args], env=self.env, cwd=cwd,
                    timeout=timeout, check_rc=check_rc, what=pathlib.Path(str(program)).name)

    def start(self, installer_dir, program="SETUP.EXE", *args):
        """Starts wine PROGRAM in installer_dir (the installer finds GLOB*.DAT there); returns
        the Popen. PROGRAM may be a path elsewhere. Its output goes to <workdir>/<name>-<n>.log."""
        log_path = self.workdir / ("%s-%d.log" % (pathlib.Path(program).name, len(self.processes) + 1))
        p = subprocess.Popen(["wine", program] + list(args), cwd=str(installer_dir), env=self.env,
                             stdin=subprocess.DEVNULL, stdout=open(log_path, "wb"),
                             stderr=subprocess.STDOUT, start_new_session=True)
        self.processes.append(p)
        return p

    def wait_exit(self, p, timeout=30, kill=True):
        """The process's exit code. After timeout s: with kill, kills it and raises Failure;
        without, returns None."""
        try:
            return p.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            if not kill:
                return None
            os.killpg(p.pid, signal.SIGKILL)
            raise Failure("the process did not exit within %d s" % timeout)

    def pack(self, src_dir, out_dir, *globpack_args, timeout=180):
        """Builds an installer from src_dir into out_dir with globpack (native when E2E_GLOBPACK
        is set, else globpack.exe under Wine); returns globpack's output."""
        native = os.environ.get("E2E_GLOBPACK")
        if native:
            args = [native, "--stub", str(self.bindir / "SETUP.EXE"), str(src_dir), "-o", str(out_dir)]
            r = _run(args + list(globpack_args), timeout=timeout, what="globpack")
        else:
            r = self.wine(self.bindir / "globpack.exe", self.windows_path(src_dir), "-o",
                          self.windows_path(out_dir), *globpack_args, timeout=timeout)
        return r.stdout + r.stderr

    # -- paths

    def unix_path(self, windows_path):
        """Where a C:\\ or Z:\\ path of this prefix is on the host."""
        m = re.match(r"^([A-Za-z]):[\\/]*(.*)$", windows_path)
        if not m:
            raise ValueError("not an absolute Windows path: %r" % windows_path)
        drive, rest = m.group(1).lower(), [p for p in re.split(r"[\\/]+", m.group(2)) if p]
        base = {"c": self.prefix / "drive_c", "z": pathlib.Path("/")}.get(drive)
        if base is None:
            raise ValueError("drive %s: is not mapped by the harness" % drive)
        return base.joinpath(*rest)

    @staticmethod
    def windows_path(unix_path):
        """The Z:\\ path Wine gives a host path."""
        return "Z:" + str(pathlib.Path(unix_path).resolve()).replace("/", "\\")

    # -- windows

    def _inspector_ask(self, command, timeout=30):
        """Sends one command to the resident window_report.exe --serve and returns its JSON answer;
        (re)starts it when needed."""
        p = self.inspector
        if p is None or p.poll() is not None:
            p = self.inspector = subprocess.Popen(
                ["wine", str(self.bindir / "window_report.exe"), "--serve"], env=self.env,
                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                stderr=open(self.workdir / "inspect.log", "ab"), start_new_session=True)
            self.inspector_buffer = b""
        try:
            p.stdin.write(command.encode() + b"\n")
            p.stdin.flush()
        except OSError as e:
            raise Failure("window_report.exe does not take commands: %s" % e)
        deadline = time.monotonic() + timeout
        while b"\n" not in self.inspector_buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([p.stdout], [], [], left)[0]:
                self._stop_inspector()
                raise Failure("window_report.exe gave no answer to %r within %d s" % (command, timeout))
            chunk = os.read(p.stdout.fileno(), 1 << 16)
            if not chunk:
                self._stop_inspector()
                raise Failure("window_report.exe ended while answering %r" % command)
            self.inspector_buffer += chunk
        line, self.inspector_buffer = self.inspector_buffer.split(b"\n", 1)
        try:
            return json.loads(line.decode("utf-8", "replace"))
        except ValueError as e:
            raise Failure("window_report.exe answered no JSON (%s): %r" % (e, line[:500]))

    def _stop_inspector(self):
        p, self.inspector = self.inspector, None
        if p is not None and p.poll() is None:
            try:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                pass

    def inspect(self, all_windows=False):
        """window_report.exe's report as a dict: screen, foreground, windows (see programs/window_report.cpp)."""
        return self._inspector_ask("list all" if all_windows else "list")

    def windows(self, all_windows=False):
        """The visible top-level windows (all of them with all_windows), children included."""
        return [Window(d) for d in self.inspect(all_windows)["windows"]]

    @staticmethod
    def _matches(w, title, cls, text_contains, control, pid, where=None):
        return ((title is None or w.title == title) and (cls is None or w.cls == cls) and
                (text_contains is None or text_contains in w.texts) and
                (control is None or any(c.id == control for c in w.children)) and
                (pid is None or w.pid == pid) and (where is None or where(w)))

    def find_window(self, title=None, cls=None, text_contains=None, control=None, pid=None,
                    where=None):
        """The first visible top-level window that matches, or None (one look, no waiting)."""
        for w in self.windows():
            if self._matches(w, title, cls, text_contains, control, pid, where):
                return w
        return None

    def wait_window(self, title=None, cls=None, text_contains=None, control=None, pid=None,
                    where=None, timeout=20, process=None):
        """Polls until a visible top-level window matches every given criterion (title exact,
        class exact, text_contains a substring of the title or any child's text, control the id
        of one of its children, pid its process, where(window) true); returns it. Fails after
        timeout s, or early when process (a Popen) has exited."""
        deadline = time.monotonic() + timeout
        criteria = self._criteria(title, cls, text_contains, control)
        while True:
            seen = self.windows()
            for w in seen:
                if self._matches(w, title, cls, text_contains, control, pid, where):
                    return w
            if process is not None and process.poll() is not None:
                raise Failure("the program exited (%d) before a window %s appeared; windows: %r"
                              % (process.returncode, criteria, seen))
            if time.monotonic() > deadline:
                raise Failure("no window %s within %d s; windows: %r" % (criteria, timeout, seen))
            time.sleep(0.1)

    def wait_gone(self, window, timeout=10):
        """Polls until the window (a Window or hwnd) is no longer visible."""
        hwnd = getattr(window, "hwnd", window)
        deadline = time.monotonic() + timeout
        while any(w.hwnd == hwnd for w in self.windows()):
            if time.monotonic() > deadline:
                raise Failure("window %r still there after %d s" % (window, timeout))
            time.sleep(0.2)

    @staticmethod
    def _criteria(title, cls, text, control):
        parts = [("title=%r" % title) if title is not None else "",
                 ("class=%r" % cls) if cls is not None else "",
                 ("text~%r" % text) if text is not None else "",
                 ("control %d" % control) if control is not None else ""]
        return "(%s)" % ", ".join(p for p in parts if p)

    def close_window(self, window):
        """Posts WM_CLOSE to a window (e.g. the group window Wine's explorer opens)."""
        if not self._inspector_ask("close %d" % getattr(window, "hwnd", window)).get("ok"):
            raise Failure("cannot close %r: no such window" % (window,))

    # -- input and output

    def _xdotool(self, *args):
        _run(["xdotool"] + [str(a) for a in args], env=self.env, timeout=20, what="xdotool")

    def key(self, *keys, to=None):
        """Presses keys (X keysym names: Return, Escape, Tab, alt+y, ...) in the focused window.
        With to (a top-level Window), first makes sure that window is in front: waits for it,
        clicks its title bar if another window keeps the focus, and fails if that does not help."""
        if to is not None:
            self.bring_to_front(to)
        self._xdotool("key", "--delay", "60", *keys)

    def bring_to_front(self, window, timeout=3):
        """Waits until window is the foreground window; clicks its title bar once if it is not
        after timeout s (Wine activates a window a user clicks). Fails if it still is not."""
        for attempt in range(2):
            deadline = time.monotonic() + timeout
            while True:
                front = self.inspect()["foreground"]
                if front == window.hwnd:
                    return
                if time.monotonic() > deadline:
                    break
                time.sleep(0.1)
            if attempt == 0:
                l, t, r, _ = window.rect
                self.click((l + r) // 2, t + 8)
        raise Failure("%r does not come to the front; %r is there" % (
            window, next((w for w in self.windows() if w.hwnd == front), front)))

    def type(self, text):
        """Types text into the focused window."""
        self._xdotool("type", "--delay", "40", text)

    def click(self, x, y):
        """A left click at screen coordinates."""
        self._xdotool("mousemove", "--sync", x, y, "click", "1")

    def drag(self, x1, y1, x2, y2):
        """Presses the left button at (x1, y1), moves to (x2, y2) in steps, releases it."""
        self._xdotool("mousemove", "--sync", x1, y1, "mousedown", "1")
        for i in range(1, 5):
            self._xdotool("mousemove", "--sync", x1 + (x2 - x1) * i // 4, y1 + (y2 - y1) * i // 4)
            time.sleep(0.05)
        self._xdotool("mouseup", "1")

    def screenshot(self, name):
        """Saves the whole screen as <workdir>/<name> (PNG) and returns it as an Image."""
        path = self.workdir / name
        raw = subprocess.run(["xwd", "-root", "-silent", "-display", self.display],
                             capture_output=True, timeout=30, check=True).stdout
        subprocess.run(["convert", "xwd:-", "png:" + str(path)], input=raw, timeout=60, check=True,
                       capture_output=True)
        ppm = subprocess.run(["convert", "xwd:-", "-depth", "8", "ppm:-"], input=raw, timeout=60,
                             check=True, capture_output=True).stdout
        return Image.from_ppm(ppm, path)

    def failure_screenshot(self):
        """Best effort: a screenshot named fail-<n>.png; returns its path or None."""
        if self.closed or not self.display:
            return None
        self.shots += 1
        try:
            return self.screenshot("fail-%d.png" % self.shots).path
        except Exception as e:  # a screenshot must not hide the original failure
            log("(no failure screenshot: %s)" % e)
            return None


# --- running a scenario --------------------------------------------------------------------------

def _on_alarm(*_):
    raise Failure("the scenario ran past its deadline (E2E_DEADLINE)")


def _on_terminate(signum, _):
    _close_live_sessions()
    sys.exit(128 + signum)


def workdir():
    """This scenario's scratch directory (E2E_WORKDIR), created."""
    path = pathlib.Path(os.environ.get("E2E_WORKDIR") or pathlib.Path.cwd() / "e2e-work")
    path.mkdir(parents=True, exist_ok=True)
    return path


def install_signal_handlers(deadline):
    """SIGTERM and SIGINT close every open Session and exit; after deadline s a Failure is
    raised wherever the scenario is (so its Session closes too)."""
    signal.signal(signal.SIGTERM, _on_terminate)
    signal.signal(signal.SIGINT, _on_terminate)
    signal.signal(signal.SIGALRM, _on_alarm)
    signal.alarm(deadline)


def cancel_deadline():
    signal.alarm(0)


def run_with_failure_screenshot(session, scenario, *args):
    """scenario(session, *args); on a Failure the screen is saved first, then it propagates."""
    try:
        return scenario(session, *args)
    except Failure:
        shot = session.failure_screenshot()
        if shot:
            log("screenshot of the failure: %s" % shot)
        raise


def main(name, scenario, fresh_workdir=True):
    """Runs scenario(session) in a Session and exits 0 pass, 1 fail, 77 skip."""
    install_signal_handlers(int(os.environ.get("E2E_DEADLINE", "240")))
    missing = missing_programs()
    if missing:
        log("SKIP: not installed: %s (./dev.sh deps installs them)" % ", ".join(missing))
        sys.exit(SKIP)
    work = workdir()
    if fresh_workdir:
        for entry in work.iterdir():
            if entry.name != "prefix":  # Session.open() kills its wineserver first
                shutil.rmtree(entry) if entry.is_dir() else entry.unlink()
    session = Session(name, workdir=work)
    start = time.monotonic()
    try:
        with session:
            run_with_failure_screenshot(session, scenario)
    except Skip as e:
        log("SKIP: %s" % e)
        sys.exit(SKIP)
    except Failure as e:
        log("FAIL: %s" % e)
        sys.exit(1)
    finally:
        cancel_deadline()
    log("PASS: %s in %.1f s" % (name, time.monotonic() - start))
    sys.exit(0)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "make-template":
        if missing_programs():
            log("SKIP: not installed: %s" % ", ".join(missing_programs()))
            sys.exit(SKIP)
        try:
            make_template(sys.argv[2])
        except Failure as e:
            log("FAIL: %s" % e)
            sys.exit(1)
    elif len(sys.argv) == 3 and sys.argv[1] == "remove-template":
        remove_template(sys.argv[2])
    else:
        sys.exit("usage: harness.py make-template DIR | remove-template DIR")
