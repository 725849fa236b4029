#!/usr/bin/env python3
"""An installer built with globpack --license shows that text on its agreement page, exactly: the
text box holds the file's lines with CR LF ends and the code page's characters, nothing of the
stub's own text. Esc and Yes then end the run with the failure text."""
import harness
from harness import check
import installer_flow as flow

LICENSE = ("VORNHELM ATLAS - END USER TERMS\n"
           "\n"
           "Caf\u00e9 maps, na\u00efve projections and \u00a9 1996 Vornhelm Software.\n"
           "A long line that the box must wrap at its width rather than scroll sideways, since it "
           "has no horizontal scroll bar and no automatic horizontal scrolling at all.\n"
           "Last line without an end")


def scenario(s):
    source = flow.make_sample(s.workdir / "source")
    license_file = s.workdir / "LICENSE.txt"
    license_file.write_text(LICENSE, encoding="utf-8")
    out = s.workdir / "installer"
    s.pack(source, out, *flow.PACK_ARGS, "--license", s.windows_path(license_file))

    p = s.start(out)
    page = flow.agreement_page(s, p)
    boxes = [c for c in page.children if c.cls.lower() == "edit"]
    check(len(boxes) == 1, "the agreement page has one text box", repr(page.children))
    expected = LICENSE.replace("\n", "\r\n")
    check(boxes[0].text == expected, "the text box shows the --license text with CR LF lines",
          "shows %r" % boxes[0].text[:200])
    s.screenshot("license.png")

    s.key("Escape", to=page)
    question = flow.message_box(s, p, flow.QUIT_QUESTION)
    s.key("y", to=question)
    box = flow.final_box(s, p)
    check(box.message == flow.FAILURE, "abandoning on the agreement page ends with the failure text",
          repr(box.message))
    check(flow.finish(s, p, box) == 1, "SETUP.EXE exits with 1 after an abandoned install")


harness.main("license_page", scenario)
