#!/usr/bin/env python3
"""What the installer paints, pixel by pixel, on a screenshot taken while the quit question holds
the install (the bar cannot move then; the question is dragged off the bar first):

- the backdrop: client area = the screen; band k of height h = H/255 + 1 (768 -> 4) is
  RGB(0, 0, 255 - k), checked on every row of a column nothing else covers; the title is white
  over a black shadow;
- the progress bar on the rectangle (L, T, R, B) of the hidden control 1007: white lines at
  x = R and y = B, gray (128) at x = L and y = T, black at x = L+1 and y = T+1; the inner rect
  (L+3, T+3, R-2, B-2) filled RGB(0, 0, 128) up to split = L+3 + int((R-2-(L+3)) * fraction)
  and light gray after it, where fraction is the share of the tree's bytes in members already
  complete on disk (they carry their recorded last-write time);
- a second screenshot 1.5 s later shows the same bar.
Then No, and the install ends with success."""
import time

import harness
from harness import Failure, check
import installer_flow as flow

EXTRA = 48 * 1024 * 1024
WHITE, GRAY, BLACK = (255, 255, 255), (128, 128, 128), (0, 0, 0)
FILL, REST = (0, 0, 128), (192, 192, 192)


def mismatches(img, expected):
    """expected: iterable of ((x, y), rgb); returns the first few pixels that differ."""
    bad = []
    for (x, y), rgb in expected:
        got = img.pixel(x, y)
        if got != rgb:
            bad.append("(%d,%d) is %s, not %s" % (x, y, got, rgb))
            if len(bad) >= 5:
                break
    return bad


def check_pixels(img, expected, what):
    expected = list(expected)
    bad = mismatches(img, expected)
    check(not bad, "%s (%d pixels)" % (what, len(expected)), "; ".join(bad))


def check_backdrop(img, backdrop, free_column):
    width, height = harness.SCREEN
    check(backdrop.client == (0, 0, width, height), "the backdrop's client area is the screen",
          repr(backdrop.client))
    band = height // 255 + 1
    check_pixels(img, (((free_column, y), (0, 0, 255 - y // band)) for y in range(height)),
                 "column %d runs through the bands of height %d, blue 255 down to %d"
                 % (free_column, band, 255 - (height - 1) // band))
    title = [img.pixel(x, y) for x in range(20, 340) for y in range(4, 70)]
    check(WHITE in title and BLACK in title, "the title is white over a black shadow")


def completed_fraction(source, target):
    """The share of the tree's bytes in members complete on disk (size and time as recorded)."""
    want, got = flow.tree_files(source), flow.tree_files(target)
    done = sum(st.st_size for name, st in want.items()
               if name in got and got[name].st_size == st.st_size and
               int(got[name].st_mtime) == int(st.st_mtime))
    return done / sum(st.st_size for st in want.values()), done


def bar_pixels(rect, split):
    l, t, r, b = rect
    for y in range(t, b):
        yield (r, y), WHITE
    for x in range(l + 1, r + 1):
        yield (x, b), WHITE
    for y in range(t + 1, b + 1):
        yield (l, y), GRAY
    for x in range(l, r):
        yield (x, t), GRAY
    for y in range(t + 2, b):
        yield (l + 1, y), BLACK
    for x in range(l + 1, r - 1):
        yield (x, t + 1), BLACK
    for y in range(t + 3, b - 2):
        for x in range(l + 3, r - 2):
            yield (x, y), FILL if x < split else REST


def wait_for_bytes(target, amount, p, timeout=60):
    deadline = time.monotonic() + timeout
    while flow.tree_size(target) < amount:
        if p.poll() is not None or time.monotonic() > deadline:
            raise Failure("the install did not reach %d bytes" % amount)
        time.sleep(0.05)


def scenario(s):
    source, installer = flow.make_installer(s, extra_random=EXTRA)
    total = flow.tree_size(source)
    target = s.unix_path(flow.DEFAULT_DIR)
    p = s.start(installer)
    backdrop = s.wait_window(title="Test", cls="Test", process=p, timeout=30)
    flow.walk_to_progress(s, p)
    page = flow.progress_page(s, p)
    bar = page.child(flow.BAR)
    check(not bar.visible, "control 1007 is hidden")
    flow.check_centred(page, "progress page")
    check("Installing please wait..." in page.texts, "the page says Installing please wait...")
    names = {flow.DEFAULT_DIR + "\\" + name.replace("/", "\\") for name in flow.tree_files(source)}
    deadline = time.monotonic() + 5  # the first tick comes a second after the page
    while page.child(flow.STATUS_LINE).text not in names and time.monotonic() < deadline:
        time.sleep(0.1)
        page = flow.progress_page(s, p)
    status = page.child(flow.STATUS_LINE).text
    check(status in names, "the status line names a member's target path", repr(status))
    wait_for_bytes(target, total * 2 // 5, p)
    s.click(*page.button("Cancel").center)
    question = flow.message_box(s, p, flow.QUIT_QUESTION)
    l, t, r, b = question.rect
    s.drag(l + 40, t + 8, l + 40, t + 8 + (harness.SCREEN[1] - 20 - b))
    question = flow.message_box(s, p, flow.QUIT_QUESTION)
    check(question.rect[1] > page.rect[3], "the question was dragged below the progress page",
          "question %r, page %r" % (question.rect, page.rect))
    time.sleep(1.2)  # a tick repaints the page while the question is up
    fraction, done = completed_fraction(source, target)
    img = s.screenshot("paused.png")
    harness.log("paused with %d of %d bytes in complete members (%.3f)" % (done, total, fraction))
    check(0 < fraction < 1, "the pause came in the middle of the install")

    check_backdrop(img, backdrop, harness.SCREEN[0] - 12)
    L, T, R, B = bar.rect
    split = L + 3 + int((R - 2 - (L + 3)) * fraction)
    harness.log("bar rect %r, split at x = %d" % (bar.rect, split))
    check_pixels(img, bar_pixels(bar.rect, split), "the bar's frame and fill, split at %d" % split)

    time.sleep(1.5)
    later = s.screenshot("paused-later.png")
    frozen = [((x, y), img.pixel(x, y)) for x in range(L, R + 1) for y in range(T, B + 1)]
    check_pixels(later, frozen, "the bar has not moved 1.5 s later")

    s.click(*question.button("No").center)
    box = flow.final_box(s, p, timeout=120)
    check(box.message == flow.SUCCESS, "after No the install succeeds", repr(box.message))
    check(flow.finish(s, p, box) == 0, "SETUP.EXE exits with 0")


harness.main("pixels", scenario)
