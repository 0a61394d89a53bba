"""Checks the Windows zip as a user unpacks it: exactly the files it should hold, and each program's header and
version resource as Explorer reads them (read back with python3-pefile). Prints one "ok"/"FAIL" line a check.

    check_windows_zip.py ZIP VERSION COMMIT
"""
import io
import sys
import zipfile

import pefile

I386, AMD64 = 0x14C, 0x8664
GUI, CONSOLE = 2, 3

# name in the zip, machine, subsystem, description's start
PROGRAMS = [
    ("fwupdate.exe", I386, GUI, "fwupdate: "),
    ("fwupdate-cli.exe", I386, CONSOLE, "fwupdate-cli: "),
    ("x86_64/fwupdate-cli.exe", AMD64, CONSOLE, "fwupdate-cli: "),
]
TEXTS = ["README.txt", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt"]

failed = 0


def check(name, condition, detail=""):
    global failed
    print(f"  {'ok  ' if condition else 'FAIL'}  {name}" + ("" if condition else f": {detail}"))
    failed += not condition


def version_strings(pe):
    for info in getattr(pe, "FileInfo", [[]])[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                return {k.decode(): v.decode() for k, v in table.entries.items()}
    return {}


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    path, version, commit = sys.argv[1:]
    top = f"fwupdate-{version}-windows/"
    archive = zipfile.ZipFile(path)
    names = sorted(archive.namelist())
    wanted = sorted(top + name for name in [p[0] for p in PROGRAMS] + TEXTS)
    check("the zip holds the three programs and the three texts", names == wanted, names)
    bodies = [archive.read(top + text) for text in TEXTS if top + text in names]
    check("the texts have Windows line ends", all(b.count(b"\n") == b.count(b"\r\n") > 0 for b in bodies))

    numbers = [int(part) for part in version.split(".")] + [0] * (4 - len(version.split(".")))
    for name, machine, subsystem, description in PROGRAMS:
        if top + name not in names:
            continue
        pe = pefile.PE(data=archive.read(top + name))
        fixed = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, "VS_FIXEDFILEINFO") else None
        strings = version_strings(pe)
        file_name = name.rsplit("/", 1)[-1]
        facts = [
            ("machine", pe.FILE_HEADER.Machine, machine),
            ("subsystem", pe.OPTIONAL_HEADER.Subsystem, subsystem),
            ("link time stamp", pe.FILE_HEADER.TimeDateStamp, 0),
            ("debug directory", len(getattr(pe, "DIRECTORY_ENTRY_DEBUG", [])), 0),
            ("fixed file version", fixed and [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                                              fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF], numbers),
            ("fixed product version", fixed and (fixed.ProductVersionMS, fixed.ProductVersionLS),
             fixed and (fixed.FileVersionMS, fixed.FileVersionLS)),
            ("FileVersion", strings.get("FileVersion"), version),
            ("ProductVersion", strings.get("ProductVersion"), f"{version} (commit {commit})"),
            ("ProductName", strings.get("ProductName"), "fwupdate"),
            ("OriginalFilename", strings.get("OriginalFilename"), file_name),
            ("FileDescription", strings.get("FileDescription", "").startswith(description), True),
            ("LegalCopyright", strings.get("LegalCopyright", "").startswith("Copyright (c) "), True),
        ]
        wrong = [f"{fact} {found!r}, expected {expected!r}" for fact, found, expected in facts if found != expected]
        check(f"{name}: header and version resource", not wrong, "; ".join(wrong))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
