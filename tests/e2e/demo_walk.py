#!/usr/bin/env python3
"""The demo's walk through a packed installer under Wine, with screenshots (./dev.sh demo runs it).

    demo_walk.py --bindir build/win32/bin --installer build/demo/installer \\
                 --source build/demo/source --out build/demo/screenshots [--docs docs]

Shows the installer on a private Xvfb display, or on $DISPLAY when --display is given (use
--display "$DISPLAY" to watch it). Installs as from floppies: SETUP.EXE alone in a drive
directory, each GLOBn.DAT put in when the installer asks for its disk. Walks Agree, drive,
directory (C:\\Apps\\Vornhelm Atlas), progress (the request for disk 2 moved aside, the disk put
in, OK; the request for disk 3, OK), and the final box; checks the installed tree against
--source. Every picture is of a moment of its own: the pages, the progress page waiting for disk
2 (backdrop) and for disk 3 (progress), the final box. Saves full screenshots as <out>/<n>-<page>.png and, cropped around the
page, <out>/<page>.png; with --docs, copies backdrop, agreement, drive, directory, progress and
done there. Exits 0 done, 1 failed, 77 when Wine, Xvfb or xdotool is missing.
"""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import harness  # noqa: E402
from harness import Failure, Session, check, log  # noqa: E402
import installer_flow as flow  # noqa: E402

INSTALL_DIR = "C:\\Apps\\Vornhelm Atlas"
DOC_PAGES = ("backdrop", "agreement", "drive", "directory", "progress", "done")
MARGIN = 24


class Shots:
    def __init__(self, s, out):
        self.s, self.out, self.n = s, out, 0

    def take(self, page, *windows):
        """A full screenshot, and one cropped around the windows (their union plus a margin)."""
        self.n += 1
        full = "%d-%s.png" % (self.n, page)
        img = self.s.screenshot(full)
        shutil.copy(img.path, self.out / full)
        if windows:
            l = max(min(w.rect[0] for w in windows) - MARGIN, 0)
            t = max(min(w.rect[1] for w in windows) - MARGIN, 0)
            r = min(max(w.rect[2] for w in windows) + MARGIN, img.width)
            b = min(max(w.rect[3] for w in windows) + MARGIN, img.height)
            subprocess.run(["convert", str(img.path), "-crop", "%dx%d+%d+%d" % (r - l, b - t, l, t),
                            "+repage", str(self.out / (page + ".png"))], check=True, timeout=60)
        else:  # the whole screen, at half size
            subprocess.run(["convert", str(img.path), "-resize", "50%",
                            str(self.out / (page + ".png"))], check=True, timeout=60)
        log("screenshot: %s" % (self.out / (page + ".png")))


def wait_disk_request(s, p, disk):
    box = s.wait_window(title=flow.DISK_NEEDED, where=flow.is_message_box, process=p, timeout=60)
    text = "Please insert disk number %d" % disk
    check(box.message == text, "the installer asks for disk %d" % disk, repr(box.message))
    return box


def move_below(s, p, box, page, disk):
    """Drags the box below the progress page, as a user would to see the bar; returns it there."""
    l, t, r, b = box.rect
    s.drag(l + 40, t + 8, l + 40, page.rect[3] + 16)
    moved = wait_disk_request(s, p, disk)
    time.sleep(1.2)  # the page shows the member and the bar on its next tick
    return moved


def put_in(s, installer, drive, volume):
    shutil.copy(installer / volume, drive / volume)
    s.key("Return")  # OK, the box's default


def walk(s, installer, source, out):
    shots = Shots(s, out)
    # The drive holds SETUP.EXE only, as the first floppy would.
    drive = out.parent / "walk" / "drive-a"
    shutil.rmtree(drive, ignore_errors=True)
    drive.mkdir(parents=True)
    shutil.copy(installer / "SETUP.EXE", drive / "SETUP.EXE")
    check((installer / "GLOB2.DAT").exists() and not (installer / "GLOB3.DAT").exists(),
          "the sample spans three disks")
    p = s.start(drive)
    s.wait_window(title="Test", cls="Test", process=p, timeout=30)
    page = flow.agreement_page(s, p)
    shots.take("agreement", page)
    s.key("space")  # Agree has the focus; Return would press the default button, Cancel

    page = flow.drive_page(s, p)
    shots.take("drive", page)
    s.key("Return")

    page = flow.directory_page(s, p)
    s.key("Home", "shift+End", "BackSpace")
    s.type(INSTALL_DIR)
    time.sleep(0.3)
    page = flow.directory_page(s, p)
    check(page.child(flow.INSTALL_DIR).text == INSTALL_DIR, "typed " + INSTALL_DIR)
    shots.take("directory", page)
    s.key("Return")

    # The first disk's members are in: the whole screen while the installer waits for disk 2.
    page = flow.progress_page(s, p)
    box = move_below(s, p, wait_disk_request(s, p, 2), page, 2)
    page = flow.progress_page(s, p)
    check(page.child(flow.STATUS_LINE).text.startswith(INSTALL_DIR),
          "the page shows the member being installed", repr(page.child(flow.STATUS_LINE).text))
    shots.take("backdrop")
    put_in(s, installer, drive, "GLOB1.DAT")

    # Two disks in: the page with its bar and the request for disk 3 beside it.
    box = move_below(s, p, wait_disk_request(s, p, 3), page, 3)
    page = flow.progress_page(s, p)
    shots.take("progress", page, box)
    put_in(s, installer, drive, "GLOB2.DAT")

    box = flow.final_box(s, p, timeout=120)
    check(box.message == flow.SUCCESS, "the final box reports success", repr(box.message))
    flow.dismiss_group_window(s)  # it would cover the box in the picture
    shots.take("done", box)
    check(flow.finish(s, p, box, group_wait=0) == 0, "SETUP.EXE exits with 0")
    problems = flow.compare_trees(source, s.unix_path(INSTALL_DIR))
    check(not problems, "the installed tree matches the source", "; ".join(problems[:5]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bindir", required=True, type=pathlib.Path)
    parser.add_argument("--installer", required=True, type=pathlib.Path)
    parser.add_argument("--source", required=True, type=pathlib.Path)
    parser.add_argument("--out", required=True, type=pathlib.Path)
    parser.add_argument("--work", type=pathlib.Path, help="scratch directory (default: OUT/../walk)")
    parser.add_argument("--display", help="an X display to show it on instead of a private Xvfb")
    parser.add_argument("--docs", type=pathlib.Path, help="copy the pictures of the pages here")
    args = parser.parse_args()

    missing = harness.missing_programs()
    if missing:
        log("demo walk skipped: not installed: %s" % ", ".join(missing))
        return harness.SKIP
    out = args.out.resolve()
    work = (args.work or out.parent / "walk").resolve()
    template = work / "template-prefix"
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    work.mkdir(parents=True, exist_ok=True)
    os.environ.setdefault("E2E_SOURCE_DIR", str(pathlib.Path(__file__).resolve().parents[2]))
    signal_deadline = int(os.environ.get("E2E_DEADLINE", "300"))
    harness.install_signal_handlers(signal_deadline)
    try:
        if not (template / ".e2e-ready").exists():
            harness.make_template(template)
        with Session("demo", bindir=args.bindir.resolve(), workdir=work / "session",
                     template=template, display=args.display) as s:
            harness.run_with_failure_screenshot(s, walk, args.installer.resolve(),
                                                args.source.resolve(), out)
    except Failure as e:
        log("demo walk FAILED: %s" % e)
        return 1
    finally:
        harness.cancel_deadline()
    if args.docs:
        for page in DOC_PAGES:
            if (out / (page + ".png")).exists():
                shutil.copy(out / (page + ".png"), args.docs / (page + ".png"))
        log("copied the pictures to %s" % args.docs)
    return 0


if __name__ == "__main__":
    sys.exit(main())
