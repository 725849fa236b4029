#!/usr/bin/env python3
"""Damaged installers end with the failure text, ask for no disk, and write nothing without
bound: 64 inverted bytes in the middle of member data (in GLOB1.DAT, and in SETUP.EXE's part of
the archive), and a last volume cut in half. Each run writes at most the source tree's size, only
below its own install directory."""
import os
import shutil
import time

import harness
from harness import check
import installer_flow as flow


def invert(path, offset, count=64):
    data = bytearray(path.read_bytes())
    for i in range(offset, offset + count):
        data[i] ^= 0xFF
    path.write_bytes(bytes(data))


def damage_glob1(d):
    path = d / "GLOB1.DAT"
    invert(path, path.stat().st_size // 2)


def damage_setup(d):
    # SETUP.EXE's last 200 000 bytes are archive data (the stub is smaller than the volume).
    path = d / "SETUP.EXE"
    invert(path, path.stat().st_size - 200000)


def truncate_last(d):
    path = d / "GLOB2.DAT"
    os.truncate(path, path.stat().st_size // 2)


CASES = [
    ("INVERTED1", damage_glob1, "64 inverted bytes in the middle of GLOB1.DAT"),
    ("INVERTED0", damage_setup, "64 inverted bytes in SETUP.EXE's archive data"),
    ("TRUNCATED", truncate_last, "GLOB2.DAT cut in half"),
]


def drive_c_entries(s):
    return set(os.listdir(s.unix_path("C:\\")))


def scenario(s):
    source, installer = flow.make_installer(s)
    total = flow.tree_size(source)
    check(os.path.getsize(installer / "SETUP.EXE") > 300000, "SETUP.EXE carries archive data")
    for name, damage, what in CASES:
        harness.log("-- %s" % what)
        damaged = s.workdir / name.lower()
        shutil.copytree(installer, damaged)
        damage(damaged)
        before = drive_c_entries(s)
        p = s.start(damaged)
        flow.walk_to_progress(s, p, "C:\\" + name)
        started = time.monotonic()
        box = s.wait_window(where=flow.is_message_box, process=p, timeout=90)
        s.screenshot(name.lower() + ".png")
        check(box.message == flow.FAILURE, "the first box is the failure text",
              "%r: %r" % (box.title, box.message))
        harness.log("failed after %.1f s" % (time.monotonic() - started))
        check(flow.finish(s, p, box) == 1, "SETUP.EXE exits with 1")
        written = flow.tree_size(s.unix_path("C:\\" + name))
        check(written <= total, "it wrote at most the source's size",
              "%d bytes of %d" % (written, total))
        check(drive_c_entries(s) - before <= {name}, "nothing appeared on C: outside C:\\" + name,
              repr(sorted(drive_c_entries(s) - before)))
        harness.log("wrote %d of %d bytes" % (written, total))


harness.main("damaged_archive", scenario)
