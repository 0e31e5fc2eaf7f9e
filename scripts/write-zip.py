#!/usr/bin/env python3
"""Writes a zip of one folder the same way every time: the folder's files
(no folder entries), sorted by path, each dated EPOCH (seconds since 1970,
in UTC: a zip's dates have no time zone) and marked 0755 if executable,
0644 otherwise, compressed at level 9. Nothing is taken from the file
system but the files' contents and whether they are executable, so neither
the files' dates, owners, modes nor the time zone change the bytes.

Usage: scripts/write-zip.py ZIP PARENT_DIR FOLDER EPOCH
"""
import os
import sys
import time
import zipfile


def main(argv):
    if len(argv) != 5:
        sys.exit(__doc__.strip().splitlines()[-1])
    output, parent, folder, epoch = argv[1], argv[2], argv[3], int(argv[4])
    date_time = time.gmtime(epoch)[:6]
    paths = []
    for directory, _, files in os.walk(os.path.join(parent, folder)):
        for name in files:
            paths.append(os.path.relpath(os.path.join(directory, name), parent))
    # Sorted by the bytes of the path, as LC_ALL=C would.
    paths.sort(key=lambda path: path.encode())
    with zipfile.ZipFile(output + ".tmp", "w") as archive:
        for path in paths:
            full = os.path.join(parent, path)
            entry = zipfile.ZipInfo(path.replace(os.sep, "/"), date_time)
            entry.create_system = 3  # Unix, for the modes below
            entry.external_attr = (0o100755 if os.access(full, os.X_OK) else 0o100644) << 16
            with open(full, "rb") as data:
                archive.writestr(entry, data.read(), zipfile.ZIP_DEFLATED, 9)
    os.replace(output + ".tmp", output)


if __name__ == "__main__":
    main(sys.argv)
