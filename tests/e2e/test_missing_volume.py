#!/usr/bin/env python3
"""GLOB2.DAT (disk 3) is not there when the installer reaches it. First run: the "Disk Needed" box
asks for disk number 3; the file is put back and OK continues to the success text and a whole
tree. Second run: Cancel on that box brings the quit question, and Yes ends the install with the
failure text within about two seconds."""
import shutil
import time

import harness
from harness import check
import installer_flow as flow

PROMPT = "Please insert disk number 3"


def wait_for_disk_prompt(s, p):
    box = s.wait_window(title=flow.DISK_NEEDED, where=flow.is_message_box, process=p, timeout=60)
    check(box.message == PROMPT, "the Disk Needed box asks for disk 3", repr(box.message))
    check({c.id for c in box.children if c.cls.lower() == "button"} == {flow.IDOK, flow.IDCANCEL},
          "the Disk Needed box offers OK and Cancel")
    return box


def put_back_and_retry(s, installer, source, volume, away):
    target = s.unix_path(flow.DEFAULT_DIR)
    shutil.move(str(volume), str(away))
    p = s.start(installer)
    flow.walk_to_progress(s, p)
    wait_for_disk_prompt(s, p)
    s.screenshot("disk-needed.png")
    shutil.move(str(away), str(volume))
    s.key("Return")
    box = flow.final_box(s, p, timeout=90)
    check(box.message == flow.SUCCESS, "with the disk back, OK leads to success", repr(box.message))
    check(flow.finish(s, p, box) == 0, "SETUP.EXE exits with 0")
    problems = flow.compare_trees(source, target)
    check(not problems, "every file arrived", "; ".join(problems[:10]))


def cancel_and_quit(s, installer, source, volume, away):
    install_dir = "C:\\ATLAS2"
    target = s.unix_path(install_dir)
    shutil.move(str(volume), str(away))
    p = s.start(installer)
    flow.walk_to_progress(s, p, install_dir)
    prompt = wait_for_disk_prompt(s, p)
    s.click(*prompt.button("Cancel").center)
    flow.message_box(s, p, flow.QUIT_QUESTION)
    s.key("Return")  # Yes, the question's default
    answered = time.monotonic()
    box = flow.final_box(s, p, timeout=30)
    elapsed = time.monotonic() - answered
    check(box.message == flow.FAILURE, "Yes ends the install with the failure text",
          repr(box.message))
    # The next tick (at most 1 s) ends the page; the rest of the bound is room for a loaded
    # machine, far below the 10 s a stop that hung would take.
    check(elapsed < 4, "the failure box follows Yes within 4 s", "%.1f s" % elapsed)
    check(flow.finish(s, p, box) == 1, "SETUP.EXE exits with 1")
    written, total = flow.tree_size(target), flow.tree_size(source)
    check(written < total, "less than the tree was written", "%d of %d bytes" % (written, total))
    shutil.move(str(away), str(volume))


def scenario(s):
    source, installer = flow.make_installer(s)
    volume, away = installer / "GLOB2.DAT", s.workdir / "GLOB2.DAT.away"
    check(volume.exists() and not (installer / "GLOB3.DAT").exists(),
          "GLOB2.DAT is the sample's last volume")
    put_back_and_retry(s, installer, source, volume, away)
    cancel_and_quit(s, installer, source, volume, away)


harness.main("missing_volume", scenario)
