#!/usr/bin/env python3
"""Checks install.exe as built: the progress dialog and its banner, the
spooler environment of its architecture, and its manifest: administrator
rights asked for, and no common-controls 6 dependency (with it the progress
bar would ignore its colours).

usage: check_install_exe.py INSTALL_EXE WINDRES ENVIRONMENT
"""

import re
import subprocess
import sys

ENVIRONMENTS = ("Windows NT x86", "Windows x64")


def main():
    exe, windres, environment = sys.argv[1], sys.argv[2], sys.argv[3]
    failures = []

    def expect(condition, what):
        if not condition:
            failures.append(what)

    rc = subprocess.run([windres, "-i", exe, "-O", "rc"], check=True,
                        capture_output=True, text=True).stdout
    binary = open(exe, "rb").read()

    dialog = re.search(r'"PBDIALOG" DIALOG[^\n]*\n(.*?)\nEND', rc, re.S)
    expect(dialog is not None, "dialog PBDIALOG")
    if dialog:
        text = dialog.group(0)
        expect(re.search(r'DIALOG( [A-Z]+)* 0, 0, 237, 71\n', text), "PBDIALOG at 0, 0, 237 x 71")
        expect("STYLE 0x90c80ac2\n" in text, "PBDIALOG style 0x90C80AC2")
        expect("EXSTYLE" not in text, "PBDIALOG without extended style")
        expect('CAPTION "Telvor Printer Install"\n' in text, "PBDIALOG caption")
        expect('FONT 8, "MS Sans Serif"\n' in text, "PBDIALOG font")
        controls = re.findall(r'^  CONTROL (.*)$', text, re.M)
        # windres shows class names in capitals; the platform ignores their case.
        expect(controls == [
            '"Progress1", 1000, "MSCTLS_PROGRESS32", 0x50800000, 6, 55, 224, 10',
            '102, 65535, "STATIC", 0x5000100e, 12, 10, 213, 36',
        ], "PBDIALOG controls: %r" % controls)
    expect("LANGUAGE 9, 1" in rc, "language US English")

    bitmap = re.search(r'^102 2 /\* RT_BITMAP \*/[^\n]*\nBEGIN\n(.*?)\nEND', rc, re.S | re.M)
    expect(bitmap is not None, "bitmap 102")
    if bitmap:
        words = [int(w.rstrip("L"), 16) for w in re.findall(r'0x[0-9a-fA-F]+L', bitmap.group(1))[:5]]
        # BITMAPINFOHEADER: size 40, width, height, planes 1 and 4 bits per pixel, no compression.
        expect(words == [40, 318, 56, 0x40001, 0], "bitmap 102 318 x 56 x 4 bits: %r" % words)

    manifests = re.findall(r'^1 24 /\* RT_MANIFEST \*/', rc, re.M)
    expect(len(manifests) == 1, "one manifest, resource 1")
    expect(re.search(rb'<requestedExecutionLevel\s+level="requireAdministrator"', binary),
           "manifest: requestedExecutionLevel requireAdministrator")
    expect(b"Microsoft.Windows.Common-Controls" not in binary,
           "manifest: no common-controls 6 dependency")

    for name in ENVIRONMENTS:
        present = name.encode("utf-16-le") in binary
        expect(present == (name == environment), "environment %r %s" %
               (name, "present" if name == environment else "absent"))

    for failure in failures:
        print("FAIL:", failure)
    print("install.exe: %s" % ("ok" if not failures else "%d failed" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
