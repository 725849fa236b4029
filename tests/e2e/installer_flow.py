"""What the installer shows and how a user walks through it, for the scenarios (see harness.py).

    source, out = make_installer(s, "installer")            # the bundled sample, packed
    p = s.start(out)
    walk_to_progress(s, p, r"C:\\Apps\\Atlas Test", shots="")  # Agree, OK, type the path, OK
    box = final_box(s, p)                                   # box.message == SUCCESS or FAILURE
    check(not compare_trees(source, s.unix_path(r"C:\\Apps\\Atlas Test")), ...)

Every step waits for its page (bounded), checks what identifies it, optionally saves a screenshot
named <shots><page>.png into the work dir, and answers with the keys a user would press.
"""
import os
import pathlib
import shutil
import subprocess
import sys
import time

from harness import CDROM_DRIVE, SCREEN, Failure, check, log

NAME = "Vornhelm Atlas"
CAPTION = "Vornhelm Atlas Setup"
DEFAULT_DIR = "C:\\ATLAS"
EXE = "ATLAS.EXE"
PACK_ARGS = ("--name", NAME, "--caption", CAPTION, "--subtitle", "Maps for every desk",
             "--default-dir", DEFAULT_DIR, "--version-text", "2.1", "--exe", EXE)

SUCCESS = "Installation of %s was successful." % NAME
FAILURE = "Installation of %s failed.  To complete the install you must run SETUP again." % NAME
QUIT_QUESTION = ("WARNING: Installation of %s is not complete, do you want to quit anyway?"
                 % NAME)
DISK_NEEDED = "Disk Needed"

AGREEMENT_TITLE = "License Agreement"
GROUP = "Vornhelm Software"
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7
DRIVE_LIST = 1000
INSTALL_DIR = 1004
STATUS_LINE = 1006
BAR = 1007
MESSAGE_TEXT = 0xFFFF  # a message box's text control
PAGE_CONTROLS = range(1000, 1009)  # resources/resource.h: the pages' controls

# 14 May 1996 10:30 UTC, as the sample's own files.
EXTRA_TIME = 832069800


def make_sample(target, extra_random=0, pieces=8):
    """The bundled sample tree in target (created); with extra_random > 0 also that many
    incompressible bytes in DATA/EXTRA/PARTnn.BIN (pieces files), so that the progress page
    lasts longer and its bar moves in steps."""
    source_dir = pathlib.Path(os.environ["E2E_SOURCE_DIR"])
    shutil.rmtree(target, ignore_errors=True)
    subprocess.run([sys.executable, str(source_dir / "samples" / "make_sample.py"), str(target)],
                   check=True, timeout=120, stdout=subprocess.DEVNULL)
    if extra_random:
        extra = pathlib.Path(target) / "DATA" / "EXTRA"
        extra.mkdir()
        for i in range(pieces):
            path = extra / ("PART%02d.BIN" % i)
            path.write_bytes(os.urandom(extra_random // pieces))
            os.utime(path, (EXTRA_TIME + i, EXTRA_TIME + i))
    return pathlib.Path(target)


def make_installer(s, name="installer", extra_random=0):
    """Generates the sample under the work dir and packs it; returns (source, installer dir)."""
    source = make_sample(s.workdir / (name + "-source"), extra_random)
    out = s.workdir / name
    shutil.rmtree(out, ignore_errors=True)
    start = time.monotonic()
    s.pack(source, out, *PACK_ARGS)
    log("packed %s (%d bytes) into %d volumes in %.1f s" % (
        source.name, tree_size(source), len(list(out.iterdir())), time.monotonic() - start))
    return source, out


def shoot(s, shots, page):
    if shots is not None:
        s.screenshot("%s%s.png" % (shots, page))


def is_message_box(w, text=None):
    """A message box (of any title), with exactly that text when text is given. The pages are
    dialogs too, and their unnamed labels also have the id 0xFFFF: a box has none of the
    pages' own controls."""
    return (w.cls == "#32770" and any(c.id == MESSAGE_TEXT for c in w.children) and
            not any(c.id in PAGE_CONTROLS for c in w.children) and
            (text is None or w.message == text))


def check_centred(page, what):
    """A page sits centred on the backdrop, whose client area is the screen: x = W / 2 - w / 2
    and y = H / 2 - h / 2 with truncating divisions, w and h the page's outer size."""
    l, t, r, b = page.rect
    width, height = SCREEN
    want = (width // 2 - (r - l) // 2, height // 2 - (b - t) // 2)
    check((l, t) == want, "the %s is centred on the backdrop" % what,
          "at %r, expected %r" % ((l, t), want))


def agreement_page(s, p, timeout=30):
    return s.wait_window(title=AGREEMENT_TITLE, cls="#32770", process=p, timeout=timeout)


def drive_page(s, p, timeout=20):
    return s.wait_window(title=CAPTION, control=DRIVE_LIST, process=p, timeout=timeout)


def directory_page(s, p, timeout=20):
    return s.wait_window(title=CAPTION, control=INSTALL_DIR, process=p, timeout=timeout)


def progress_page(s, p, timeout=20):
    return s.wait_window(title=CAPTION, control=BAR, process=p, timeout=timeout)


def message_box(s, p, text, title=CAPTION, timeout=20):
    """Waits for a message box with exactly that text (and title)."""
    return s.wait_window(title=title, where=lambda w: is_message_box(w, text), process=p,
                         timeout=timeout)


def final_box(s, p, timeout=60):
    """The box that ends the install, success or failure; check .message."""
    return s.wait_window(title=CAPTION, where=lambda w: is_message_box(w) and
                         w.message in (SUCCESS, FAILURE), process=p, timeout=timeout)


def dismiss_group_window(s, timeout=5):
    """After a successful install Wine's explorer, as the Program Manager, opens a window on the
    new group at (0, 0) a moment later, and it takes the focus. Waits up to timeout s for it
    and closes it; True when there was one."""
    deadline = time.monotonic() + timeout
    while True:
        group = s.find_window(cls="ExplorerWClass", title=GROUP)
        if group is not None:
            s.close_window(group)
            s.wait_gone(group)
            log("closed the group window Wine's explorer opened")
            return True
        if time.monotonic() > deadline:
            return False
        time.sleep(0.2)


def finish(s, p, box, group_wait=5):
    """Dismisses the final box with Return, as a user would, and returns SETUP.EXE's exit code:
    0 after a complete install, 1 after a failed or abandoned one.
    After a success the group window (see dismiss_group_window) is closed first."""
    if box.message == SUCCESS:
        dismiss_group_window(s, group_wait)
    s.key("Return", to=box)
    code = s.wait_exit(p, timeout=10, kill=False)
    if code is None and dismiss_group_window(s, 0):  # it came late and took the key
        s.key("Return", to=box)
        code = s.wait_exit(p, timeout=10, kill=False)
    return code if code is not None else s.wait_exit(p, timeout=20)


def accept_agreement(s, p, shots=None):
    page = agreement_page(s, p)
    focused = page.focused()
    check(focused is not None and focused.id == IDOK, "the agreement page has Agree focused",
          "focus on %r" % focused)
    check_centred(page, "agreement page")
    shoot(s, shots, "agreement")
    # Space presses the focused Agree; Return would press the default button, Cancel.
    s.key("space")
    return page


def accept_drive(s, p, shots=None):
    page = drive_page(s, p)
    drives = page.child(DRIVE_LIST)
    check(drives.items and drives.items[0].startswith("C:\t"),
          "the drive list starts with C:", "items %r" % drives.items)
    check(drives.selected == 0, "drive C: is preselected", "selected %r" % drives.selected)
    letters = [item[:2] for item in drives.items]
    check(not {"A:", "B:", CDROM_DRIVE + ":"} & set(letters),
          "neither A:, B: nor the CD-ROM drive %s: is listed" % CDROM_DRIVE, "items %r" % drives.items)
    check_centred(page, "drive page")
    shoot(s, shots, "drive")
    s.key("Return")
    return page


def enter_directory(s, p, install_dir=None, shots=None):
    """Checks the proposal (DEFAULT_DIR on C:), replaces it with install_dir if given, OK."""
    page = directory_page(s, p)
    edit = page.child(INSTALL_DIR)
    check(edit.text == DEFAULT_DIR, "the directory page proposes %s" % DEFAULT_DIR,
          "it shows %r" % edit.text)
    check_centred(page, "directory page")
    focused = page.focused()
    check(focused is not None and focused.id == INSTALL_DIR, "the directory edit has the focus",
          "focus on %r" % focused)
    if install_dir is not None:
        s.key("Home", "shift+End", "BackSpace")
        s.type(install_dir)
        deadline = time.monotonic() + 10
        while page.child(INSTALL_DIR).text != install_dir:
            if time.monotonic() > deadline:
                raise Failure("typed %r, the edit shows %r" % (install_dir,
                                                                page.child(INSTALL_DIR).text))
            time.sleep(0.1)
            page = s.find_window(title=CAPTION, control=INSTALL_DIR) or page
        log("ok: typed %s into the directory page" % install_dir)
    shoot(s, shots, "directory")
    s.key("Return")
    return page


def walk_to_progress(s, p, install_dir=None, shots=None):
    """Agree, OK on the drive page, the directory (typed when given), OK; returns when the
    progress page or the final box is up (a small install may finish before a look)."""
    accept_agreement(s, p, shots)
    accept_drive(s, p, shots)
    enter_directory(s, p, install_dir, shots)


def install_completely(s, p, install_dir, source, what, timeout=90):
    """Walks the started installer p into install_dir and requires the success text (checked as
    what), exit status 0 and source's tree installed, bytes and last-write times."""
    walk_to_progress(s, p, install_dir)
    box = final_box(s, p, timeout=timeout)
    check(box.message == SUCCESS, what, "%r: %r" % (box.title, box.message))
    check(finish(s, p, box) == 0, "SETUP.EXE exits with 0")
    problems = compare_trees(source, s.unix_path(install_dir))
    check(not problems, "every file arrived with its bytes and last-write time", "; ".join(problems[:10]))


def tree_files(root):
    """{relative path with '/': os.stat_result} of the regular files below root."""
    root = pathlib.Path(root)
    return {p.relative_to(root).as_posix(): p.stat() for p in root.rglob("*") if p.is_file()}


def tree_size(root):
    return sum(st.st_size for st in tree_files(root).values())


def compare_trees(source, installed):
    """Differences between the source tree and the installed one, as readable lines: files
    missing or extra, bytes that differ, last-write times that differ (whole seconds)."""
    problems = []
    want, got = tree_files(source), tree_files(installed)
    for name in sorted(set(want) - set(got)):
        problems.append("missing: %s" % name)
    for name in sorted(set(got) - set(want)):
        problems.append("extra: %s" % name)
    for name in sorted(set(want) & set(got)):
        a, b = pathlib.Path(source, name), pathlib.Path(installed, name)
        if want[name].st_size != got[name].st_size or a.read_bytes() != b.read_bytes():
            problems.append("bytes differ: %s (%d vs %d bytes)" % (name, want[name].st_size,
                                                                  got[name].st_size))
        elif int(want[name].st_mtime) != int(got[name].st_mtime):
            problems.append("last-write time differs: %s (%d vs %d)"
                            % (name, want[name].st_mtime, got[name].st_mtime))
    return problems
