#!/usr/bin/env python3
"""Builds an update set for the local update server.

    server/sampleset.py --root ROOT --library update2.dll [--nfo-folder data] [--no-adresses]

Layout under ROOT:
    quillon/loader/update.ini     FileDate, FileSize and Adresses of update2.dll
    quillon/loader/update2.dll    the installer library (a copy, with a fixed date)
    quillon/<nfo-folder>/UPDATE.NFO

FileDate is the DosDateTime the client computes from the server's
Last-Modified: the file's time converted to local time (this process's TZ,
which Wine shares) and packed with two-second resolution.
"""
import argparse
import os
import shutil
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# 5 March 2024 14:30:16 UTC: an even second, so packing loses nothing.
LIBRARY_TIME = 1709649016


def dos_date_time(seconds):
    t = time.localtime(seconds)
    date = ((t.tm_year - 1980) << 9) | (t.tm_mon << 5) | t.tm_mday
    clock = (t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec // 2)
    value = (date << 16) | clock
    return value - (1 << 32) if value >= 1 << 31 else value


def make_update_set(root, library, adresses=None, nfo_folder="data", file_size=None, file_date=None,
                    with_nfo=True, port=None):
    """Writes the set; adresses maps keys to URLs ({} for no Adresses section,
    None for the default key "1" pointing at the NFO folder). Returns a dict
    with the base URL path, the NFO URL path and the library's date and size."""
    loader = os.path.join(root, "quillon", "loader")
    os.makedirs(loader, exist_ok=True)
    target = os.path.join(loader, "update2.dll")
    shutil.copyfile(library, target)
    os.utime(target, (LIBRARY_TIME, LIBRARY_TIME))
    size = os.path.getsize(target)
    date = dos_date_time(LIBRARY_TIME)
    if adresses is None:
        adresses = {"1": "http://127.0.0.1/quillon/%s" % nfo_folder}
    lines = ["[FileDate]", "update2.dll=%d" % (date if file_date is None else file_date), "",
             "[FileSize]", "update2.dll=%d" % (size if file_size is None else file_size), ""]
    if adresses:
        lines.append("[Adresses]")
        lines += ["%s=%s" % (k, v) for k, v in adresses.items()]
        lines.append("")
    with open(os.path.join(loader, "update.ini"), "w", newline="\r\n") as f:
        f.write("\n".join(lines))
    if with_nfo:
        folder = os.path.join(root, "quillon", nfo_folder)
        os.makedirs(folder, exist_ok=True)
        shutil.copyfile(os.path.join(HERE, "sample", "UPDATE.NFO"), os.path.join(folder, "UPDATE.NFO"))
    return {"date": date, "size": size}


if __name__ == "__main__":
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--root", required=True)
    ap.add_argument("--library", required=True)
    ap.add_argument("--nfo-folder", default="data")
    ap.add_argument("--no-adresses", action="store_true")
    args = ap.parse_args()
    info = make_update_set(args.root, args.library, adresses={} if args.no_adresses else None,
                           nfo_folder=args.nfo_folder)
    print("update set in %s: update2.dll %d bytes, FileDate %d" % (args.root, info["size"], info["date"]))
