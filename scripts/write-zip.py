#!/usr/bin/env python3
"""Writes a zip of a folder's files that has the same bytes every time: entries in name order, each with the time
of SOURCE_DATE_EPOCH, the same permissions and no extra fields.

    write-zip.py OUT.zip FOLDER
"""
import os
import sys
import time
import zipfile

# The zip format keeps times from 1980 on, in two-second steps, without a time zone.
ZIP_EPOCH = 315532800


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    out, folder = sys.argv[1], sys.argv[2]
    stamp = max(int(os.environ.get("SOURCE_DATE_EPOCH", ZIP_EPOCH)), ZIP_EPOCH)
    date_time = time.gmtime(stamp)[:6]
    names = []
    for parent, _, files in os.walk(folder):
        names += [os.path.relpath(os.path.join(parent, name), folder) for name in files]
    with zipfile.ZipFile(out, "w") as archive:
        for name in sorted(names):
            entry = zipfile.ZipInfo(name.replace(os.sep, "/"), date_time)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 3  # Unix, so that the permissions are read as such
            entry.external_attr = 0o644 << 16
            with open(os.path.join(folder, name), "rb") as source:
                archive.writestr(entry, source.read(), compresslevel=9)


if __name__ == "__main__":
    main()
