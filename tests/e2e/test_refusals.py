"""The pages refuse what cannot work and stay: a drive without room for totalSize, a directory
that cannot be created. After a refusal the user corrects the choice and the install goes on.

Drives are arranged in the session's own prefix: a free letter (D: usually) is mapped to /proc,
which reports no free space at all. For "no drive has room" every drive must be small: C: and Z:
then point at directories of a 4 MiB tmpfs that link to the real contents, other drives are
unmapped. Mounting needs root; without it that part is left out with
a note."""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import harness  # noqa: E402
from harness import Failure, check, log  # noqa: E402
from dde_support import (CANNOT_CREATE, CAPTION, DRIVE_LIST, FAILURE_TEXT, INSTALL_DIR_EDIT,  # noqa: E402
                         NOT_ENOUGH_SPACE, QUIT_QUESTION, SUCCESS_TEXT, Recorder, build_installer,
                         check_no_registration, compare_trees, from_clients, item_command,
                         check_installed, finish, press_button, replace_edit_text, set_total_size,
                         wait_agreement, wait_box, wait_directory_page, wait_drive_page,
                         wait_edit_text, window_by_hwnd)

SMALL_FS_BYTES = 4 * 1024 * 1024


def drive_index(page, letter):
    items = page.child(DRIVE_LIST).items
    for i, item in enumerate(items):
        if item.startswith(letter + ":\t"):
            return i
    raise Failure("drive %s: is not in the list %r" % (letter, items))


def refused_and_stays(s, p, page, text):
    """The refusal box (titled with the caption) is up; OK closes it and the page is still there."""
    box = wait_box(s, p, text)
    check(box.title == CAPTION, "the refusal %r is titled with the caption" % text, repr(box))
    s.key("Return")
    s.wait_gone(box)
    again = window_by_hwnd(s, page.hwnd)
    check(again is not None and again.visible, "the page stays after %r" % text)
    return again


def select_drive(s, p, page, index):
    """Moves the list's selection to entry index with the keyboard, tabbing to the list first."""
    for _ in range(4):
        focused = page.focused()
        if focused is not None and focused.id == DRIVE_LIST:
            break
        s.key("shift+Tab")
        page = window_by_hwnd(s, page.hwnd)
    else:
        raise Failure("Shift+Tab does not reach the drive list; focus on %r" % page.focused())
    s.key("Home", *["Down"] * index)
    page = window_by_hwnd(s, page.hwnd)
    check(page.child(DRIVE_LIST).selected == index, "drive entry %d is selected" % index,
          "selected %r" % page.child(DRIVE_LIST).selected)
    return page


def try_directory(s, p, page, path, expect_refusal):
    replace_edit_text(s, path)
    page = wait_edit_text(s, page, path)
    s.key("Return")
    if expect_refusal:
        page = refused_and_stays(s, p, page, CANNOT_CREATE)
        check(page.child(INSTALL_DIR_EDIT).text == path, "the refused path is still in the edit",
              repr(page.child(INSTALL_DIR_EDIT).text))
    return page


def refusals_then_success(s, installer):
    """A drive without room is refused on the drive page; two uncreatable directories are refused on the
    directory page; then C: and a good path install everything."""
    dosdevices = s.prefix / "dosdevices"
    full = next(letter for letter in "DEFGHIJKLMNOPQRSTUVWXY"
                if not os.path.lexists(dosdevices / (letter.lower() + ":")))
    (dosdevices / (full.lower() + ":")).symlink_to("/proc")
    blocker = s.unix_path("C:\\BLOCKER.TXT")
    blocker.write_bytes(b"a file where a directory is wanted\r\n")

    # The recorder takes the registration, so that Wine's own server opens no group window.
    recorder = Recorder(s, "refusals").start()
    p = s.start(installer.out)
    press_button(s, wait_agreement(s, p), "Agree")
    page = wait_drive_page(s, p)
    log("drives: %r" % page.child(DRIVE_LIST).items)
    full_index = drive_index(page, full)
    check(page.child(DRIVE_LIST).selected == drive_index(page, "C"), "C:, with room, is preselected")
    page = select_drive(s, p, page, full_index)
    s.key("Return")
    page = refused_and_stays(s, p, page, NOT_ENOUGH_SPACE)
    check(page.child(DRIVE_LIST).selected == full_index, "%s: is still selected after the refusal" % full)
    page = select_drive(s, p, page, drive_index(page, "C"))
    s.key("Return")

    page = wait_directory_page(s, p)
    check(page.child(INSTALL_DIR_EDIT).text == installer.default_dir, "the proposal is on C:",
          repr(page.child(INSTALL_DIR_EDIT).text))
    page = try_directory(s, p, page, "C:\\bad<>name", expect_refusal=True)
    page = try_directory(s, p, page, "C:\\BLOCKER.TXT\\Atlas", expect_refusal=True)
    check(blocker.is_file(), "the file in the way is left as it was")
    good = "C:\\Refused Once\\Atlas"
    try_directory(s, p, page, good, expect_refusal=False)
    finish(s, p, SUCCESS_TEXT)
    check_installed(s, installer, good + "\\")
    check(not list(s.unix_path("C:\\").glob("bad*")), "nothing named bad... was created on C:")
    check([e.kind for e in from_clients(recorder.stop())] == ["INITIATE", "EXECUTE", "EXECUTE", "TERMINATE"],
          "the install registered as usual")


# --- no drive has room -----------------------------------------------------------------------------

class SmallDrives:
    """C: and Z: on a small tmpfs (links to the real contents), other drives unmapped; undone on
    exit."""

    def __init__(self, s):
        self.s = s
        self.mount = None
        self.saved = {}

    def __enter__(self):
        # Outside the work dir, which the next run empties: a mount left by a killed run must
        # not stand in its way.
        self.mount = pathlib.Path(tempfile.mkdtemp(prefix="e2e-small-drives-"))
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % SMALL_FS_BYTES, "tmpfs",
                            str(self.mount)], capture_output=True, text=True, timeout=30)
        if r.returncode != 0:
            self.mount.rmdir()
            return None
        dosdevices = self.s.prefix / "dosdevices"
        for letter, real in (("c", self.s.prefix / "drive_c"), ("z", pathlib.Path("/"))):
            root = self.mount / letter
            root.mkdir()
            for entry in real.iterdir():
                (root / entry.name).symlink_to(entry)
            link = dosdevices / (letter + ":")
            self.saved[link] = os.readlink(link)
            link.unlink()
            link.symlink_to(root)
        for link in dosdevices.iterdir():
            if re.fullmatch(r"[a-y]:", link.name) and link.name != "c:" and link.is_symlink():
                self.saved[link] = os.readlink(link)
                link.unlink()
        return self

    def __exit__(self, *_):
        for link, target in self.saved.items():
            if link.is_symlink():
                link.unlink()
            link.symlink_to(target)
        # Lazy: Wine processes may still hold directories of it; they are killed with the session.
        subprocess.run(["umount", "-l", str(self.mount)], capture_output=True, timeout=30)
        try:
            self.mount.rmdir()
        except OSError:
            pass


def no_drive_has_room(s, installer):
    """totalSize over every drive's free space: nothing preselected, OK refused with and without
    a selection, the page stays; Cancel and Yes end with the failure text."""
    if os.geteuid() != 0:
        log("NOTE: not root, so no small drives can be mounted: 'no drive has room' left out")
        return
    with SmallDrives(s) as small:
        if small is None:
            log("NOTE: mounting a tmpfs failed: 'no drive has room' left out")
            return
        # On C:, so that Wine gives the installer a drive path (Z: no longer holds the work dir).
        big = small.mount / "c" / "BIGSETUP"
        shutil.copytree(installer.out, big)
        old = set_total_size(big / "SETUP.EXE", 2 * SMALL_FS_BYTES)
        log("totalSize %d -> %d" % (old, 2 * SMALL_FS_BYTES))
        recorder = Recorder(s, "no-room").start()
        p = s.start(big)
        press_button(s, wait_agreement(s, p), "Agree")
        page = wait_drive_page(s, p)
        log("drives: %r" % page.child(DRIVE_LIST).items)
        check(page.child(DRIVE_LIST).selected == -1, "no drive is preselected",
              "selected %r" % page.child(DRIVE_LIST).selected)
        s.key("Return")
        page = refused_and_stays(s, p, page, NOT_ENOUGH_SPACE)
        page = select_drive(s, p, page, drive_index(page, "C"))
        s.key("Return")
        page = refused_and_stays(s, p, page, NOT_ENOUGH_SPACE)
        press_button(s, page, "Cancel")
        press_button(s, wait_box(s, p, QUIT_QUESTION), "Yes")
        finish(s, p, FAILURE_TEXT)
        check_no_registration(recorder.stop())


def a_later_drive_with_room(s, installer):
    """C: lacks room, D: (a directory on the real disk) has it: D: is preselected, the directory
    page proposes the default on D:, and a confirmed D:\\ATLAS\\ (trailing backslash) gets the
    files; the item command carries the two backslashes in a row."""
    if os.geteuid() != 0:
        log("NOTE: not root, so no small drives can be mounted: 'a later drive with room' left out")
        return
    with SmallDrives(s) as small:
        if small is None:
            log("NOTE: mounting a tmpfs failed: 'a later drive with room' left out")
            return
        roomy = s.workdir / "drive_d"
        shutil.rmtree(roomy, ignore_errors=True)
        roomy.mkdir()
        (s.prefix / "dosdevices" / "d:").symlink_to(roomy)
        setup = small.mount / "c" / "DSETUP"
        shutil.copytree(installer.out, setup)
        set_total_size(setup / "SETUP.EXE", 2 * SMALL_FS_BYTES)
        recorder = Recorder(s, "drive-d").start()
        p = s.start(setup)
        press_button(s, wait_agreement(s, p), "Agree")
        page = wait_drive_page(s, p)
        items = page.child(DRIVE_LIST).items
        log("drives: %r" % items)
        check(drive_index(page, "C") < drive_index(page, "D"), "C: comes before D: in the list")
        check(page.child(DRIVE_LIST).selected == drive_index(page, "D"),
              "D:, the first drive with room, is preselected over C:",
              "selected %r" % page.child(DRIVE_LIST).selected)
        s.key("Return")
        page = wait_directory_page(s, p)
        proposal = "D" + installer.default_dir[1:]
        check(page.child(INSTALL_DIR_EDIT).text == proposal, "the directory page proposes %s" % proposal,
              repr(page.child(INSTALL_DIR_EDIT).text))
        typed = proposal + "\\"
        replace_edit_text(s, typed)
        wait_edit_text(s, page, typed)
        s.key("Return")
        finish(s, p, SUCCESS_TEXT)
        target = roomy / installer.default_dir[3:]
        problems = compare_trees(installer.source, target)
        check(not problems, "every file arrived on D:", "; ".join(problems[:10]))
        check(not list(roomy.glob("**/TEST*")), "the writability probe is gone")
        commands = [e for e in from_clients(recorder.stop()) if e.kind == "EXECUTE"]
        check(len(commands) == 2 and commands[1]["text"] == item_command(typed),
              "the item command names %s\\%s, two backslashes in a row" % (typed, installer.exe),
              repr(commands))


def scenario(s):
    installer = build_installer(s, "atlas")
    refusals_then_success(s, installer)
    # These two fake a large install by editing the header's totalSize, which integrity data
    # would (rightly) refuse as a damaged header: they use an installer built without it.
    unchecked = build_installer(s, "unchecked", extra=("--no-integrity",))
    no_drive_has_room(s, unchecked)
    a_later_drive_with_room(s, unchecked)


harness.main("refusals", scenario)
