#!/usr/bin/env python3
"""A benchmark peer: reads every member of every zip archive under the given
paths with Python's zipfile, as a user's script would; nested archives are
read in turn. zipfile checks each member's CRC-32 as it reads it. Prints the
number of members read; a damaged archive ends the run with an error."""

import io
import os
import sys
import zipfile


def read_archive(archive):
    images = 0
    for info in archive.infolist():
        if info.is_dir():
            continue
        data = archive.read(info)
        if info.filename.lower().endswith(".zip"):
            with zipfile.ZipFile(io.BytesIO(data)) as inner:
                images += read_archive(inner)
        else:
            images += 1
    return images


def archive_paths(path):
    if not os.path.isdir(path):
        yield path
        return
    for folder, _, names in os.walk(path):
        for name in names:
            if name.lower().endswith(".zip"):
                yield os.path.join(folder, name)


def main():
    images = 0
    for argument in sys.argv[1:]:
        for path in archive_paths(argument):
            with zipfile.ZipFile(path) as archive:
                images += read_archive(archive)
    print(f"{images} members read")


if __name__ == "__main__":
    main()
