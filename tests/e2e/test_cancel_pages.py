"""Cancel and Esc on the agreement, drive and directory pages ask the quit question. No returns
to the page exactly as it was (its list selection, its typed text); Yes ends the install with the
failure text, and nothing is sent to Program Manager after the initiate."""
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import harness  # noqa: E402
from harness import Failure, check, log  # noqa: E402
from dde_support import (AGREEMENT_TITLE, DRIVE_LIST, FAILURE_TEXT, INSTALL_DIR_EDIT,  # noqa: E402
                         QUIT_QUESTION, CAPTION, Recorder, backdrop, build_installer,
                         check_no_registration, finish, press_button, replace_edit_text,
                         wait_agreement, wait_box, wait_directory_page, wait_drive_page,
                         wait_edit_text, window_by_hwnd)


def page_state(page):
    """What No must leave as it was: the agreement text, the list's entries and selection, the
    directory text."""
    state = {"title": page.title}
    for c in page.children:
        if c.id == DRIVE_LIST:
            state["drives"] = (c.items, c.selected)
        elif c.id == INSTALL_DIR_EDIT or c.cls.lower() == "edit":
            state["edit %d" % c.id] = c.text
    return state


def ask_quit(s, p, page, how):
    """Cancel (a click) or Esc on the page; returns the quit question, checked."""
    if how == "Cancel":
        press_button(s, page, "Cancel")
    else:
        s.key("Escape")
    box = wait_box(s, p, QUIT_QUESTION)
    check(box.title == CAPTION and box.owner == 0,
          "%s asks the unowned quit question titled with the caption" % how, repr(box))
    box.button("Yes"), box.button("No")
    return box


def no_keeps_page(s, p, page, how):
    before = page_state(page)
    box = ask_quit(s, p, page, how)
    press_button(s, box, "No")
    s.wait_gone(box)
    again = window_by_hwnd(s, page.hwnd)
    check(again is not None and again.visible, "after %s and No the same page is up" % how)
    after = page_state(again)
    check(after == before, "after %s and No the page is unchanged" % how,
          "%r became %r" % (before, after))
    return again


def yes_quits(s, p, page, how, recorder, back):
    press_button(s, ask_quit(s, p, page, how), "Yes")
    finish(s, p, FAILURE_TEXT)
    check_no_registration(recorder.stop(), back)


def on_agreement(s, p):
    page = wait_agreement(s, p)
    check(page.title == AGREEMENT_TITLE, "the agreement page is up")
    return page


def on_drive(s, p):
    press_button(s, wait_agreement(s, p), "Agree")
    page = wait_drive_page(s, p)
    drives = page.child(DRIVE_LIST)
    if len(drives.items) < 2:
        raise Failure("the drive list needs two entries to move the selection: %r" % drives.items)
    # Away from the preselected entry, so that "unchanged" is not just the default.
    for _ in range(4):
        focused = page.focused()
        if focused is not None and focused.id == DRIVE_LIST:
            break
        s.key("shift+Tab")
        page = window_by_hwnd(s, page.hwnd)
    s.key("End")
    page = window_by_hwnd(s, page.hwnd)
    last = len(drives.items) - 1
    check(page.child(DRIVE_LIST).selected == last, "the last drive is selected by hand",
          "selected %r" % page.child(DRIVE_LIST).selected)
    return page


def on_directory(s, p):
    press_button(s, wait_agreement(s, p), "Agree")
    wait_drive_page(s, p)
    s.key("Return")
    page = wait_directory_page(s, p)
    typed = "C:\\Half Typed\\Dir"
    replace_edit_text(s, typed)
    return wait_edit_text(s, page, typed)


PAGES = (
    ("agreement", on_agreement, "Escape"),
    ("drive", on_drive, "Cancel"),
    ("directory", on_directory, "Escape"),
)


def scenario(s):
    installer = build_installer(s, "atlas")
    for name, reach, final in PAGES:
        log("--- %s page" % name)
        recorder = Recorder(s, "cancel-" + name).start()
        p = s.start(installer.out)
        back = backdrop(s, p).hwnd
        page = reach(s, p)
        page = no_keeps_page(s, p, page, "Cancel")
        page = no_keeps_page(s, p, page, "Escape")
        yes_quits(s, p, page, final, recorder, back)
        check(not s.unix_path(installer.default_dir).exists(), "nothing was installed")


harness.main("cancel_pages", scenario)
