#!/usr/bin/env python3
"""Installers whose archive header or trailer is malformed. Without integrity data, a header text
that fills its 64 bytes without a terminator shows as its first 63 characters, never running on
into the next field; with it (globpack's default), the same edit ends the run with the failure box
before any page. A trailer that points outside the file shows no page at all, only the failure
box (the header was never read, so its texts are empty). The installer exits with 1."""
import pathlib
import struct
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import harness  # noqa: E402
from harness import check  # noqa: E402
from dde_support import (CAPTION, archive_offset, build_installer, wait_agreement,  # noqa: E402
                         wait_box, wait_drive_page)

NAME = "N" * 63  # the longest name globpack writes; its terminator is then overwritten
FAILURE = "Installation of %s failed.  To complete the install you must run SETUP again."


def rewrite_name(installer):
    """Rewrites the name field: 63 characters and, where its terminator was, one more."""
    setup = installer.out / "SETUP.EXE"
    data = bytearray(setup.read_bytes())
    start = archive_offset(setup)
    data[start:start + 64] = (NAME + "Q").encode("ascii")
    setup.write_bytes(bytes(data))


def unterminated_name(s):
    # Without integrity data only the structure can tell, and the header is not checked.
    installer = build_installer(s, "unterminated", extra=("--no-integrity",))
    rewrite_name(installer)

    p = s.start(installer.out)
    wait_agreement(s, p)
    s.key("space")  # Agree
    page = wait_drive_page(s, p)
    shown = page.child(1001).text
    check(shown == NAME, "an unterminated name shows as its first 63 characters",
          "the drive page shows %r" % shown)
    s.key("Escape")
    question = wait_box(s, p, "WARNING: Installation of %s is not complete, do you want to quit "
                              "anyway?" % NAME)
    check(question.title == CAPTION, "the field after the name is read as it stands", repr(question))
    s.key("y")
    box = wait_box(s, p, FAILURE % NAME)
    s.key("Return", to=box)
    check(s.wait_exit(p, timeout=30) == 1, "the installer exits with 1")


def header_checked(s):
    # With integrity data (globpack's default) the same edit is caught before any page.
    installer = build_installer(s, "checked")
    rewrite_name(installer)
    p = s.start(installer.out)
    box = wait_box(s, p, FAILURE % NAME, timeout=30)
    check(box.title == CAPTION and box.owner == 0,
          "a header that does not match its CRC ends the run with the failure box", repr(box))
    pages = [w for w in s.windows() if w.cls == "#32770" and w.hwnd != box.hwnd]
    check(not pages, "no page is shown", repr(pages))
    s.key("Return", to=box)
    check(s.wait_exit(p, timeout=30) == 1, "the installer exits with 1")


def trailer_outside(s):
    installer = build_installer(s, "trailer")
    setup = installer.out / "SETUP.EXE"
    data = bytearray(setup.read_bytes())
    struct.pack_into("<I", data, len(data) - 4, len(data) + 1000)
    setup.write_bytes(bytes(data))

    p = s.start(installer.out)
    box = wait_box(s, p, FAILURE % "", timeout=30)
    check(box.title == "" and box.owner == 0, "the failure box is unowned, with the empty caption",
          repr(box))
    pages = [w for w in s.windows() if w.cls == "#32770" and w.hwnd != box.hwnd]
    check(not pages, "no page is shown", repr(pages))
    s.key("Return", to=box)
    check(s.wait_exit(p, timeout=30) == 1, "the installer exits with 1")


def scenario(s):
    unterminated_name(s)
    header_checked(s)
    trailer_outside(s)


harness.main("malformed_header", scenario)
