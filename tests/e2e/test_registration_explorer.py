"""Registration with Wine's own Program Manager server (the desktop process's): a completed
install leaves the "Vornhelm Software" group folder in the prefix's Start Menu. That server opens
a window titled with the group, which is closed here; the item command names the group "New
Group", which does not exist, so no shortcut is expected."""
import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import harness  # noqa: E402
from harness import Failure, check, log  # noqa: E402
from dde_support import (GROUP, build_installer, check_installed, start_menu_groups,  # noqa: E402
                         walk_to_success)


def wait_group_window(s, timeout=20):
    deadline = time.monotonic() + timeout
    while True:
        for w in s.windows():
            if w.title == GROUP:
                return w
        if time.monotonic() > deadline:
            raise Failure("no window titled %r within %d s; windows: %r" % (GROUP, timeout, s.windows()))
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


harness.main("registration_explorer", scenario)
