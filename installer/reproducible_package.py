#!/usr/bin/python3
"""Makes the package that wixl builds the same, byte for byte, for every build of one commit,
wherever it is built, and gives each program in it its file version.

Usage:
  reproducible_package.py stamp SOURCE_DIR FILE...
      gives each file the sources' time, which the cabinet records for it.
  reproducible_package.py finish SOURCE_DIR PACKAGE KEY=EXE[,KEY=EXE...] INPUT...
      writes each EXE's own file version into the File table row KEY, the event source's
      message file as REG_EXPAND_SZ, and a summary whose
      revision number (the package code) is a name of the package's inputs and whose times
      are the sources' time. INPUT: every file and text the package is made of.

The sources' time is SOURCE_DATE_EPOCH when it is set, else the time of SOURCE_DIR's commit.
Runs with the system's Python, which has the Libmsi bindings (gir1.2-libmsi-1.0, python3-gi).
"""
import hashlib
import os
import struct
import subprocess
import sys
import uuid

# Every package code of the product family is a name in this namespace: its upgrade code.
PACKAGE_CODE_NAMESPACE = uuid.UUID("6C1D7E52-3B8A-4F0E-9D2A-5E4B7C9A1F30")
# A FILETIME counts 100-nanosecond steps from 1601.
FILETIME_1970 = 11644473600 * 10**7
# A cabinet keeps DOS times, which begin in 1980.
DOS_EPOCH = 315532800


def source_time(source_dir):
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        out = subprocess.run(["git", "-C", source_dir, "log", "-1", "--format=%ct"], capture_output=True,
                             text=True, check=True).stdout.strip()
        return int(out)
    except (OSError, subprocess.CalledProcessError, ValueError):
        # Neither: a source tree without history still builds one package.
        return DOS_EPOCH


def file_version(exe):
    """The FILEVERSION of the executable's VS_FIXEDFILEINFO, as a.b.c.d."""
    with open(exe, "rb") as f:
        data = f.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        sys.exit(f"{exe} carries no version resource")
    most, least = struct.unpack_from("<II", data, at + 8)
    return f"{most >> 16}.{most & 0xFFFF}.{least >> 16}.{least & 0xFFFF}"


def package_code(inputs):
    digest = hashlib.sha256()
    for item in inputs:
        if os.path.isfile(item):
            with open(item, "rb") as f:
                digest.update(f.read())
        else:
            digest.update(item.encode())
        digest.update(b"\0")
    return "{" + str(uuid.uuid5(PACKAGE_CODE_NAMESPACE, digest.hexdigest())).upper() + "}"


def stamp(source_dir, *files):
    when = max(source_time(source_dir), DOS_EPOCH)
    for name in files:
        os.utime(name, (when, when))


def finish(source_dir, package, programs, *inputs):
    import gi

    gi.require_version("Libmsi", "1.0")
    from gi.repository import Libmsi

    versions = []
    database = Libmsi.Database.new(package, Libmsi.DbFlags.TRANSACT, None)
    # wixl leaves the Version column empty, which makes a program an unversioned file to
    # Windows Installer: repairs and replacements would go by dates and hashes.
    for program in programs.split(","):
        file_key, exe = program.split("=", 1)
        version = file_version(exe)
        versions.append(version)
        query = Libmsi.Query.new(database, f"UPDATE `File` SET `Version` = '{version}' WHERE `File` = '{file_key}'")
        query.execute(None)
        query.close()
    # The event source's message file is REG_EXPAND_SZ, which Windows Installer writes for a
    # value that begins "#%"; wixl knows no such type and escapes the "#" of a string.
    query = Libmsi.Query.new(database, "UPDATE `Registry` SET `Value` = '#%[#TarvelExe]' "
                                       "WHERE `Name` = 'EventMessageFile'")
    query.execute(None)
    query.close()
    database.commit()

    summary = Libmsi.SummaryInfo.new(database, 16)
    summary.set_string(Libmsi.Property.UUID, package_code((*versions, *inputs)))
    saved = FILETIME_1970 + source_time(source_dir) * 10**7
    summary.set_filetime(Libmsi.Property.CREATED_TM, saved)
    summary.set_filetime(Libmsi.Property.LASTSAVED_TM, saved)
    summary.persist()
    database.commit()


if __name__ == "__main__":
    commands = {"stamp": (stamp, 2), "finish": (finish, 4)}
    if len(sys.argv) < 2 or sys.argv[1] not in commands or len(sys.argv) - 2 < commands[sys.argv[1]][1]:
        sys.exit(__doc__)
    commands[sys.argv[1]][0](*sys.argv[2:])
