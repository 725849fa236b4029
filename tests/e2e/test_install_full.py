#!/usr/bin/env python3
"""A user installs the three-volume sample into a new nested directory: Agree, OK on the drive
page, types C:\\Apps\\Atlas Test, OK, waits; the final box says it worked, and every file is there
with its bytes and last-write time. Screenshots of each page land in the work dir."""
import harness
from harness import check
import installer_flow as flow

INSTALL_DIR = "C:\\Apps\\Atlas Test"


def scenario(s):
    source, installer = flow.make_installer(s)
    check(sorted(p.name for p in installer.iterdir()) == ["GLOB1.DAT", "GLOB2.DAT", "SETUP.EXE"],
          "the sample spans three volumes")
    target = s.unix_path(INSTALL_DIR)
    check(not target.parent.exists(), "C:\\Apps does not exist before the install")

    p = s.start(installer)
    backdrop = s.wait_window(title="Test", cls="Test", process=p, timeout=30)
    check(backdrop.rect == (0, 0) + harness.SCREEN, "the backdrop covers the screen",
          "rect %r" % (backdrop.rect,))
    flow.walk_to_progress(s, p, INSTALL_DIR, shots="")
    # The sample takes about a second: catch the progress page when we can, it is not an error
    # to miss it.
    page = s.find_window(title=flow.CAPTION, control=flow.BAR)
    if page is not None:
        s.screenshot("progress.png")
        check(page.owner == backdrop.hwnd, "the progress page is owned by the backdrop")
    box = flow.final_box(s, p, timeout=90)
    s.screenshot("done.png")
    check(box.message == flow.SUCCESS, "the final box reports success", repr(box.message))
    check(box.owner == 0, "the final box has no owner")
    check(flow.finish(s, p, box) == 0, "SETUP.EXE exits with 0")

    problems = flow.compare_trees(source, target)
    check(not problems, "every file arrived with its bytes and last-write time",
          "; ".join(problems[:10]))
    harness.log("installed %d files, %d bytes" % (len(flow.tree_files(target)),
                                                  flow.tree_size(target)))

    # Started from another directory (wine D:\...\SETUP.EXE from elsewhere): the continuation
    # volumes are found beside SETUP.EXE, with no "Disk Needed" prompt.
    elsewhere = s.workdir / "elsewhere"
    elsewhere.mkdir(exist_ok=True)
    p = s.start(elsewhere, str(installer / "SETUP.EXE"))
    flow.install_completely(s, p, "C:\\Elsewhere", source,
                            "started from another directory, it installs without a prompt")


harness.main("install_full", scenario)
