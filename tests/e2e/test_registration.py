"""Registration with Program Manager, seen from a recording server: a completed install sends the
group command and the item command and ends the conversation after the first answer; an
abandoned one sends nothing after its initiate."""
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import harness  # noqa: E402
from harness import check, log  # noqa: E402
from dde_support import (GROUP_COMMAND, FAILURE_TEXT, QUIT_QUESTION, Recorder,  # noqa: E402
                         backdrop, build_installer, check_installed, check_no_registration, finish,
                         from_clients, item_command, press_button, wait_agreement, wait_box,
                         walk_to_success)


def completed_install_registers_group_and_item(s, installer):
    # Answers held back half a second: the terminate must wait for the first of them.
    recorder = Recorder(s, "registered").start(ack_delay=0.5)
    p = s.start(installer.out)
    # The answers reach the installer while its final box is up: OK waits for the terminate.
    back, install_dir = walk_to_success(s, p, installer, directory="C:\\Apps\\Atlas Test",
                                        before_ok=lambda: recorder.wait_for("TERMINATE"))
    check(install_dir == "C:\\Apps\\Atlas Test\\", "the directory page took the typed path",
          install_dir)
    check_installed(s, installer, install_dir)
    events = recorder.stop()
    log("recorder saw: %r" % events)

    check([e.kind for e in from_clients(events)] == ["INITIATE", "EXECUTE", "EXECUTE", "TERMINATE"],
          "one initiate, two commands, one terminate and nothing else", repr(events))
    initiate, group, item, terminate = from_clients(events)
    acks = [e for e in events if e.kind == "ACK"]
    check(acks and acks[0].seq < terminate.seq,
          "the terminate came only after the first command was answered", repr(events))
    check({a["handle"] for a in acks} <= {group["handle"], item["handle"]},
          "each answer hands back a command's block")
    check(initiate["class"] == "Test" and initiate.hwnd() == back,
          "the initiate came from the backdrop window", "%r, backdrop %#x" % (initiate, back))
    # Atom names compare without case; the first one registered gives the spelling.
    check(initiate["app"].upper() == "PROGMAN" and initiate["topic"].upper() == "PROGMAN"
          and initiate["answered"] == "1", "application and topic are PROGMAN", repr(initiate))
    check(all(e.hwnd() == back for e in events), "every message came from the backdrop window")

    check(group["text"] == GROUP_COMMAND, "the first command creates and shows the group",
          repr(group["text"]))
    size = int(group["size"])
    log("group command block: %d bytes received for %d characters" % (size, len(GROUP_COMMAND)))
    check(size == 58, "the group command's block is 58 bytes: its 56 characters, the NUL and one more",
          "%d bytes" % size)
    log("command blocks as received: flags %s and %s" % (group["flags"], item["flags"]))
    expected_item = item_command(install_dir)
    check(item["text"] == expected_item, "the second command adds the program, two backslashes "
          "after the directory", "%r, expected %r" % (item["text"], expected_item))
    check("\\\\" + installer.exe in item["text"], "installDir's own backslash and the separator")
    check(int(item["size"]) >= len(expected_item) + 1, "the item command's block holds its text")
    check(terminate["open"] == "1", "the terminate ends the conversation the initiate opened")
    log("answers posted before the terminate: %d, dropped: %s" % (len(acks), terminate["dropped"]))


def abandoned_install_registers_nothing(s, installer):
    recorder = Recorder(s, "abandoned").start()
    p = s.start(installer.out)
    page = wait_agreement(s, p)
    back = backdrop(s, p).hwnd
    press_button(s, page, "Cancel")
    question = wait_box(s, p, QUIT_QUESTION)
    press_button(s, question, "Yes")
    finish(s, p, FAILURE_TEXT)
    events = recorder.stop()
    log("recorder saw: %r" % events)
    check_no_registration(events, back)
    check(not s.unix_path(installer.default_dir).exists(), "nothing was installed")


def scenario(s):
    installer = build_installer(s, "atlas")
    completed_install_registers_group_and_item(s, installer)
    abandoned_install_registers_nothing(s, installer)


harness.main("registration", scenario)
