"""Registration with Wine's own Program Manager server (the desktop process's). Without --group a
completed install leaves the "Vornhelm Software" group folder in the prefix's Start Menu, empty:
the fixed command shows "New Group", so the item goes there. With --group NAME the folder NAME
holds the program's shortcut. The server opens a window titled with each group it creates,
which is closed here."""
import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import harness  # noqa: E402
from harness import Failure, check, log  # noqa: E402
from dde_support import (GROUP, build_installer, check_installed, start_menu_groups,  # noqa: E402
                         walk_to_success)


OWN_GROUP = "Atlas Tools"


def wait_group_window(s, group=GROUP, timeout=20):
    deadline = time.monotonic() + timeout
    while True:
        for w in s.windows():
            if w.title == group:
                return w
        if time.monotonic() > deadline:
            raise Failure("no window titled %r within %d s; windows: %r" % (group, timeout, s.windows()))
        time.sleep(0.3)


def scenario(s):
    installer = build_installer(s, "atlas")
    check(start_menu_groups(s) == [], "no %r group before the install" % GROUP)
    p = s.start(installer.out)
    _, install_dir = walk_to_success(s, p, installer)
    check(install_dir == "C:\\ATLAS\\", "the proposal C:\\ATLAS was taken", install_dir)
    check_installed(s, installer, install_dir)

    group_window = wait_group_window(s)
    log("the desktop process opened %r" % group_window)
    groups = start_menu_groups(s)
    check(len(groups) == 1, "the group folder exists in the Start Menu", repr(groups))
    log("group folder: %s" % groups[0].relative_to(s.prefix))
    check(list(groups[0].iterdir()) == [], "the group holds no shortcut: the item went to 'New Group'",
          repr(list(groups[0].iterdir())))
    s.close_window(group_window)
    s.wait_gone(group_window)
    log("ok: the group window is closed")

    # An installer of its own group: the item lands in it.
    own = build_installer(s, "grouped", default_dir="C:\\TOOLS", extra=("--group", OWN_GROUP))
    check(start_menu_groups(s, OWN_GROUP) == [], "no %r group before the install" % OWN_GROUP)
    p = s.start(own.out)
    _, install_dir = walk_to_success(s, p, own)
    check(install_dir == "C:\\TOOLS\\", "the proposal C:\\TOOLS was taken", install_dir)
    check_installed(s, own, install_dir)
    group_window = wait_group_window(s, OWN_GROUP)
    groups = start_menu_groups(s, OWN_GROUP)
    check(len(groups) == 1, "the %r folder exists in the Start Menu" % OWN_GROUP, repr(groups))
    deadline = time.monotonic() + 20
    while not list(groups[0].glob("*.lnk")) and time.monotonic() < deadline:
        time.sleep(0.3)
    shortcuts = sorted(f.name for f in groups[0].iterdir())
    check(shortcuts == ["Vornhelm Atlas.lnk"], "the group holds the program's shortcut", repr(shortcuts))
    log("ok: %s holds %s" % (groups[0].relative_to(s.prefix), shortcuts))
    s.close_window(group_window)
    s.wait_gone(group_window)


harness.main("registration_explorer", scenario)
