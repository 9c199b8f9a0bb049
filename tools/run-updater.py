#!/usr/bin/env python3
"""The demo's run itself; tools/run-updater builds and sets up Wine first.

By default the set is signed with the build tree's test key (tools/publish)
and run by update_signed.exe, which has that key built in; --unsigned runs
update.exe on an unsigned set."""
import argparse
import getpass
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "server"))
import sampleset  # noqa: E402

WINE = os.environ.get("FK_WINE", "/usr/lib/wine/wine")
# The build tools/run-updater chose: the shipped i686 one where 32-bit programs run.
BUILD = os.environ.get("FK_BUILD_DIR", os.path.join(ROOT, "build", "i686-test"))
DEMO = os.path.join(ROOT, "build", "demo")
UPDATE_EXE = os.path.join(BUILD, "src", "update.exe")
UPDATE_SIGNED_EXE = os.path.join(BUILD, "src", "update_signed.exe")
TEST_KEY = os.path.join(BUILD, "testkeys", "update-key.pem")
TESTLIB = os.path.join(BUILD, "src", "testlib", "update2.dll")
DRIVER = os.path.join(BUILD, "tests", "updater", "fkdrive.exe")
PREFIX = os.environ["WINEPREFIX"]
INSTALL = os.path.join(PREFIX, "drive_c", "Quillon", "Varno3")
INSTALL_WIN = "C:\\Quillon\\Varno3\\"
LANG = ""
DPI = 96


def driver(*words):
    with open(os.path.join(DEMO, "driver.out"), "w+b") as out:
        env = dict(os.environ, FKDRIVE_DESKTOP="quillon")
        code = subprocess.run([WINE, DRIVER] + list(words), env=env, stdout=out, stderr=subprocess.DEVNULL,
                              stdin=subprocess.DEVNULL, timeout=120).returncode
        out.seek(0)
        text = out.read().decode("cp1252", "replace")
    if code != 0:
        sys.exit("run-updater: driver step failed: %s\n%s" % (" ".join(words), text))
    return text.split("\n", 1)[1] if text.startswith("STARTED") else text


def shot(name):
    path = os.path.join(DEMO, (LANG + "-" if LANG else "") + ("%ddpi-" % DPI if DPI != 96 else "") + name)
    subprocess.run(["import", "-window", "root", path], check=True, timeout=60)
    return path


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--lang", default="", help="defLangue in the user's settings file")
    ap.add_argument("--unsigned", action="store_true", help="an unsigned set, run by the program without a key")
    ap.add_argument("--dpi", type=int, default=96, help="the display's DPI (Wine reports it to every program)")
    args = ap.parse_args()
    global LANG, DPI
    LANG, DPI = args.lang, args.dpi
    # Set on every run, so that an earlier --dpi does not stay.
    subprocess.run([WINE, "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d",
                    str(DPI), "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    os.makedirs(DEMO, exist_ok=True)

    # The update set, served on the loopback address.
    server_root = os.path.join(DEMO, "server")
    shutil.rmtree(server_root, ignore_errors=True)
    # A library of some megabytes (the stand-in plus padding it ignores), so
    # that its progress line has several steps to show.
    library = os.path.join(DEMO, "update2.dll")
    with open(library, "wb") as f:
        f.write(open(TESTLIB, "rb").read() + b"\0" * (4 << 20))
    info = sampleset.make_update_set(server_root, library)
    if not args.unsigned:
        # The whole set in the loader folder, signed; UPDATE.NFO also at its address.
        loader = os.path.join(server_root, "quillon", "loader")
        shutil.copy2(os.path.join(server_root, "quillon", "data", "UPDATE.NFO"), loader)
        subprocess.run([sys.executable, os.path.join(ROOT, "tools", "publish"), "make", loader, "--key", TEST_KEY,
                        "--adresses", "1=http://127.0.0.1/quillon/data"], check=True)
    with open(os.path.join(server_root, ".faults.json"), "w") as f:
        # Slow enough for the progress display to be seen (about 4 s).
        f.write('{"/quillon/loader/update2.dll": {"slow": {"chunk": 65536, "delay": 0.06}}}')
    port_file = os.path.join(DEMO, "port")
    if os.path.exists(port_file):
        os.remove(port_file)
    log = os.path.join(DEMO, "requests.log")
    open(log, "w").close()
    server = subprocess.Popen([sys.executable, os.path.join(ROOT, "server", "updserver.py"), "--root", server_root,
                               "--port", "0", "--port-file", port_file, "--log", log, "--max-seconds", "300"])
    try:
        for _ in range(100):
            if os.path.exists(port_file) and open(port_file).read().strip():
                break
            time.sleep(0.1)
        port = int(open(port_file).read().strip())

        # A fake installation: the marker and the user's settings with the proxy
        # rule that sends every connection to the server's port.
        shutil.rmtree(os.path.dirname(INSTALL), ignore_errors=True)
        os.makedirs(INSTALL)
        open(os.path.join(INSTALL, "varnowin.ini"), "w").close()
        settings = "[Protect]\r\nProxy=127.0.0.1:%d\r\n" % port
        if args.lang:
            settings = "[Prefs]\r\ndefLangue=%s\r\n" % args.lang + settings
        with open(os.path.join(INSTALL, getpass.getuser() + ".ini"), "w", newline="") as f:
            f.write(settings)
        shutil.copyfile(UPDATE_EXE if args.unsigned else UPDATE_SIGNED_EXE, os.path.join(INSTALL, "update.exe"))

        size = "%dx%d" % (640 * DPI // 96, 480 * DPI // 96)
        desktop = subprocess.Popen([WINE, "explorer", "/desktop=quillon," + size, INSTALL_WIN + "update.exe"],
                                   cwd=INSTALL, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        try:
            driver("wait", "class=LFORM", "60000")
            time.sleep(1.5)
            shots = [shot("1-dialog.png")]
            print(driver("children", "class=LFORM").strip().replace("\\\\", "\\"))
            buttons = [l.split("|")[1] for l in driver("children", "class=LFORM").splitlines() if l.startswith("CHILD Button")]
            driver("click", "class=LFORM", "text=" + buttons[1])
            time.sleep(2.5)  # into the library's transfer: its progress line shows
            shots.append(shot("2-loading.png"))
            driver("gone", "class=LFORM", "120000")
            time.sleep(0.5)
            shots.append(shot("3-after.png"))
        finally:
            time.sleep(1)
            if desktop.poll() is None:
                desktop.terminate()
                try:
                    desktop.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    desktop.kill()
    finally:
        server.terminate()
        server.wait()

    record = os.path.join(INSTALL, "Download", "makeupdate.txt")
    print("\nserver requests:")
    entries = sorted((line.split() for line in open(log) if line.strip()), key=lambda e: int(e[4]))
    print("\n".join(" ".join(e[:4]) for e in entries))
    print("\nupdate2.dll: %d bytes, FileDate %d" % (info["size"], info["date"]))
    if os.path.exists(record):
        print("\nMakeUpdate received:")
        print(open(record, "rb").read().decode("cp1252").rstrip())
    else:
        print("\nMakeUpdate was not called")
    print("\nscreenshots:")
    for s in shots:
        print("  " + s)
    return 0 if os.path.exists(record) else 1


if __name__ == "__main__":
    sys.exit(main())
