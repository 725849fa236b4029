#!/usr/bin/env python3
"""Cancel on the progress page. First run: Cancel (clicked) brings the quit question, nothing more
is written while it is up, No goes back to the page and the install ends with the success text
and every file. Second run: Esc, then Yes (the question's default, Return) ends the install
promptly with the failure text and exit status 1, having written less than the whole tree and no
temporary file; a rerun into the same directory then installs every file complete."""
import pathlib
import time

import harness
from harness import check
import installer_flow as flow

# Incompressible bytes on top of the sample, so that the progress page lasts a few seconds.
EXTRA = 48 * 1024 * 1024


def wait_for_question(s, p):
    question = flow.message_box(s, p, flow.QUIT_QUESTION)
    check(question.owner == 0, "the quit question has no owner")
    return question


def cancel_then_no(s, installer, source):
    target = s.unix_path(flow.DEFAULT_DIR)
    p = s.start(installer)
    flow.walk_to_progress(s, p)
    page = flow.progress_page(s, p)
    s.click(*page.button("Cancel").center)
    question = wait_for_question(s, p)
    s.screenshot("question.png")
    before = flow.tree_size(target)
    time.sleep(1.5)
    after = flow.tree_size(target)
    check(before == after, "nothing is written while the question is up",
          "%d bytes, then %d" % (before, after))
    check(before < flow.tree_size(source), "the question came before the end of the install")
    check(s.find_window(title=flow.CAPTION, control=flow.BAR) is not None,
          "the progress page stays up behind the question")
    s.click(*question.button("No").center)
    box = flow.final_box(s, p, timeout=120)
    check(box.message == flow.SUCCESS, "after No the install ends with success", repr(box.message))
    check(flow.finish(s, p, box) == 0, "SETUP.EXE exits with 0")
    problems = flow.compare_trees(source, target)
    check(not problems, "every file arrived", "; ".join(problems[:10]))


def escape_then_yes(s, installer, source):
    install_dir = "C:\\ATLAS2"
    target = s.unix_path(install_dir)
    p = s.start(installer)
    flow.walk_to_progress(s, p, install_dir)
    flow.progress_page(s, p)
    s.key("Escape")
    wait_for_question(s, p)
    s.key("Return")
    answered = time.monotonic()
    box = flow.final_box(s, p, timeout=30)
    elapsed = time.monotonic() - answered
    check(box.message == flow.FAILURE, "after Yes the install ends with the failure text",
          repr(box.message))
    # Within the page's own handling and the box's appearance; the bound leaves room for a
    # loaded machine but stays far below the 10 s a stop that hung would take.
    check(elapsed < 4, "the failure box follows Yes within 4 s", "%.1f s" % elapsed)
    check(s.find_window(title=flow.CAPTION, control=flow.BAR) is None, "the progress page is gone")
    check(flow.finish(s, p, box) == 1, "SETUP.EXE exits with 1 after an abandoned install")
    written, total = flow.tree_size(target), flow.tree_size(source)
    check(written < total, "the abandoned install wrote less than the tree",
          "%d of %d bytes" % (written, total))
    harness.log("abandoned after %d of %d bytes" % (written, total))
    leftovers = [str(path) for path in pathlib.Path(target).rglob("~GLOB*")]
    check(not leftovers, "no temporary file is left behind", repr(leftovers))

    # Run again into the same directory: what the stop left must not pass for installed files.
    p = s.start(installer)
    flow.install_completely(s, p, install_dir, source, "the rerun succeeds", timeout=120)


def scenario(s):
    source, installer = flow.make_installer(s, extra_random=EXTRA)
    cancel_then_no(s, installer, source)
    escape_then_yes(s, installer, source)


harness.main("cancel_progress", scenario)
