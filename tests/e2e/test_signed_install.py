#!/usr/bin/env python3
"""A packager signs SETUP.EXE after packing (osslsigncode with a self-signed certificate), which
appends a certificate table behind the archive's trailer. The signed three-volume installer finds
its archive in front of that table and installs every file with its bytes and last-write time,
and exits with 0. Skipped when osslsigncode or openssl is missing."""
import shutil
import subprocess

import harness
from harness import check
import installer_flow as flow

INSTALL_DIR = "C:\\Signed"


def sign(s, installer):
    key, cert = s.workdir / "key.pem", s.workdir / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key),
                    "-out", str(cert), "-days", "3", "-subj", "/CN=globsetup signing test"],
                   check=True, capture_output=True, timeout=120)
    setup, signed = installer / "SETUP.EXE", installer / "SIGNED.EXE"
    subprocess.run(["osslsigncode", "sign", "-certs", str(cert), "-key", str(key), "-n",
                    "Vornhelm Atlas", "-h", "sha256", "-in", str(setup), "-out", str(signed)],
                   check=True, capture_output=True, timeout=120)
    signed.replace(setup)


def scenario(s):
    for tool in ("osslsigncode", "openssl"):
        if shutil.which(tool) is None:
            raise harness.Skip("%s is missing" % tool)
    source, installer = flow.make_installer(s)
    unsigned = (installer / "SETUP.EXE").stat().st_size
    sign(s, installer)
    signed = (installer / "SETUP.EXE").stat().st_size
    check(signed > unsigned, "SETUP.EXE carries a certificate table",
          "%d bytes, %d before signing" % (signed, unsigned))

    p = s.start(installer)
    flow.install_completely(s, p, INSTALL_DIR, source, "the signed installer installs")


harness.main("signed_install", scenario)
