#!/usr/bin/env python3
"""End-to-end scenarios of update.exe under wine64.

    e2e.py <scenario>

Each scenario builds its own folders inside the Wine prefix's C: drive,
starts the local update server with an update set when it needs one, runs
update.exe and drives it with fkdrive.exe. The environment comes from CTest:
WINEPREFIX, FK_WINE, FK_UPDATE_EXE, FK_DRIVER_EXE, FK_TESTLIB, FK_TESTLIB_NOMAKE,
FK_SOURCE_DIR; for the signed sets FK_UPDATE_SIGNED_EXE (the program built
with the test key), FK_SIGN_KEY (its private half) and FK_CERTS (the test
certificates). Set FK_E2E_SHOTS=DIR to save screenshots of the dialog.
"""
import getpass
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

SOURCE = os.environ["FK_SOURCE_DIR"]
sys.path.insert(0, os.path.join(SOURCE, "server"))
import sampleset  # noqa: E402

WINE = os.environ.get("FK_WINE", "/usr/lib/wine/wine64")
PREFIX = os.environ["WINEPREFIX"]
DRIVE_C = os.path.join(PREFIX, "drive_c")
UPDATE_EXE = os.environ["FK_UPDATE_EXE"]
DRIVER = os.environ["FK_DRIVER_EXE"]
TESTLIB = os.environ["FK_TESTLIB"]
TESTLIB_NOMAKE = os.environ["FK_TESTLIB_NOMAKE"]
UPDATE_SIGNED_EXE = os.environ.get("FK_UPDATE_SIGNED_EXE", "")
SIGN_KEY = os.environ.get("FK_SIGN_KEY", "")
CERTS = os.environ.get("FK_CERTS", "")
PUBLISH = os.path.join(SOURCE, "tools", "publish")
INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
TITLE = " QUILLON - Internet"
# Found by its title, not by the form class: other toolkit tests may show
# their own forms on the same display at the same time.
DIALOG = TITLE
ENGLISH_CONNECT = "An error occurred during connection to the Internet:"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(actual, expected, what):
    if actual != expected:
        raise Failure("%s: expected %r, got %r" % (what, expected, actual))


def win(unix_path):
    """The Windows name of a path inside the prefix's C: drive."""
    rel = os.path.relpath(unix_path, DRIVE_C)
    check(not rel.startswith(".."), "not on C: " + unix_path)
    return "C:\\" + rel.replace("/", "\\")


def wine(*args, timeout=60, env=None):
    """Runs a Wine program and returns (exit code, output). The output goes
    through a file: a wineserver started on the way would inherit a pipe and
    keep it open long after the program ended."""
    full_env = dict(os.environ)
    full_env.update(env or {})
    with tempfile.TemporaryFile() as out:
        code = subprocess.run([WINE] + list(args), env=full_env, stdout=out, stderr=subprocess.DEVNULL,
                              stdin=subprocess.DEVNULL, timeout=timeout).returncode
        out.seek(0)
        return code, out.read()


def unescape(line):
    """The driver writes '\\', CR and LF as two-character escapes."""
    return re.sub(r"\\(.)", lambda m: {"r": "\r", "n": "\n"}.get(m.group(1), m.group(1)), line)


def drive(*commands, timeout=60, allow_fail=False):
    """Runs fkdrive with the commands (lists of words); returns its output lines."""
    args = []
    for c in commands:
        if args:
            args.append(";")
        args += list(c)
    code, raw = wine(DRIVER, *args, timeout=timeout)
    out = [unescape(line) for line in raw.decode("cp1252", "replace").splitlines()]
    if code != 0 and not allow_fail:
        raise Failure("driver failed: %s\n%s" % (" ".join(args), "\n".join(out)))
    return out


def children():
    """{class#n: (text, visible)} of the dialog's windows, numbered per class."""
    result, counts = {}, {}
    for line in drive(["children", DIALOG]):
        if not line.startswith("CHILD "):
            continue
        cls, text, visible, _rect = line[6:].split("|")
        n = counts.get(cls, 0)
        counts[cls] = n + 1
        result["%s#%d" % (cls, n)] = (text, visible == "1")
    return result


# The dialog's windowed controls in creation order.
PATH_EDIT, PATH_BTN, OK_BTN, CANCEL_BTN, PROXY_EDIT, PROXY_BTN = (
    "Edit#0", "Button#0", "Button#1", "Button#2", "Edit#1", "Button#3")


def box():
    """Waits for a message box and returns (title, text)."""
    for line in drive(["box", "20000"]):
        if line.startswith("BOX "):
            title, _, text = line[4:].partition("|")
            return title, text
    raise Failure("no message box")


def screenshot(name):
    folder = os.environ.get("FK_E2E_SHOTS")
    if folder and os.environ.get("DISPLAY"):
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, name + ".png")
        subprocess.run(["import", "-window", "root", path], timeout=30)
        print("screenshot", path)


class Scenario:
    def __init__(self, name):
        self.name = name
        self.base = os.path.join(DRIVE_C, "e2e", name)
        shutil.rmtree(self.base, ignore_errors=True)
        os.makedirs(self.base)
        self.server = None
        self.port = None
        self.log = os.path.join(self.base, "requests.log")
        self.procs = []
        self.cleanups = []

    # ---------------------------------------------------------- set-up

    def install(self, rel="Varno3", marker=True, settings=None):
        """An installation folder; settings go to <user>.ini ({section: {key: value}})."""
        folder = os.path.join(self.base, *rel.split("/"))
        os.makedirs(folder, exist_ok=True)
        if marker:
            open(os.path.join(folder, "varnowin.ini"), "w").close()
        if settings:
            lines = []
            for section, values in settings.items():
                lines.append("[%s]" % section)
                lines += ["%s=%s" % kv for kv in values.items()]
            with open(os.path.join(folder, getpass.getuser() + ".ini"), "w", newline="\r\n") as f:
                f.write("\n".join(lines) + "\n")
        return folder

    def program_in(self, folder, program=UPDATE_EXE):
        os.makedirs(folder, exist_ok=True)
        target = os.path.join(folder, "update.exe")
        shutil.copyfile(program, target)
        return target

    def serve(self, library=TESTLIB, faults=None, tls=None, **set_args):
        root = os.path.join(self.base, "server")
        info = sampleset.make_update_set(root, library, **set_args)
        if faults:
            with open(os.path.join(root, ".faults.json"), "w") as f:
                json.dump(faults, f)
        port_file = os.path.join(self.base, "port")
        if os.path.exists(port_file):
            os.remove(port_file)  # a second server must not be taken for the first
        self.server = subprocess.Popen([sys.executable, os.path.join(SOURCE, "server", "updserver.py"),
                                        "--root", root, "--port", "0", "--port-file", port_file,
                                        "--log", self.log, "--max-seconds", "600"] +
                                       (["--tls-cert", os.path.join(CERTS, tls + ".pem"),
                                         "--tls-key", os.path.join(CERTS, tls + ".key")] if tls else []))
        for _ in range(100):
            if os.path.exists(port_file) and open(port_file).read().strip():
                break
            time.sleep(0.1)
        self.port = int(open(port_file).read().strip())
        return info

    def stop_server(self):
        if self.server is not None:
            self.server.kill()
            self.server.wait()
            self.server = None

    def capture_requests(self):
        """Listens instead of the update server: records the head of each
        request as it arrives and answers 404. Returns the list it fills."""
        self.stop_server()
        heads = []
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(4)
        self.port = listener.getsockname()[1]

        def serve():
            while True:
                try:
                    conn, _ = listener.accept()
                except OSError:
                    return
                with conn:
                    data = b""
                    while b"\r\n\r\n" not in data:
                        chunk = conn.recv(4096)
                        if not chunk:
                            break
                        data += chunk
                    heads.append(data.split(b"\r\n\r\n")[0].decode("latin-1"))
                    conn.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")

        threading.Thread(target=serve, daemon=True).start()
        self.cleanups.append(listener.close)
        return heads

    def proxy(self):
        return "127.0.0.1:%d" % self.port

    def registry_proxy(self, value):
        wine("reg", "add", INTERNET_SETTINGS, "/v", "ProxyServer", "/d", value, "/f")
        self.cleanups.append(lambda: wine("reg", "delete", INTERNET_SETTINGS, "/v", "ProxyServer", "/f"))

    def requests(self):
        if not os.path.exists(self.log):
            return []
        entries = [line.split() for line in open(self.log) if line.strip()]
        return [e[1] for e in sorted(entries, key=lambda e: int(e[4]))]

    # ---------------------------------------------------------- running

    def start(self, program, env=None):
        full_env = dict(os.environ)
        full_env.update(env or {})
        p = subprocess.Popen([WINE, win(program)], cwd=os.path.dirname(program), env=full_env,
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        return p

    def start_dialog(self, program, env=None):
        p = self.start(program, env)
        drive(["wait", DIALOG, "30000"])
        time.sleep(0.5)  # FormShow finishes its repaint
        return p

    def wait_exit(self, p, timeout=30):
        try:
            return p.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("update.exe did not end")

    def close(self):
        for p in self.procs:
            if p.poll() is None:
                p.kill()
                p.wait()
        self.stop_server()
        for c in self.cleanups:
            c()


def makeupdate_record(download_folder):
    path = os.path.join(download_folder, "makeupdate.txt")
    if not os.path.exists(path):
        return None
    record = {}
    for line in open(path, "rb").read().decode("cp1252").splitlines():
        key, _, value = line.partition("=")
        record[key] = value
    return record


def press_install_and_finish(s, p):
    drive(["click", DIALOG, "text=" + children()[OK_BTN][0]])
    check_equal(s.wait_exit(p, 60), 0, "exit code")


# ============================================================== scenarios

def second_instance(s):
    folder = s.install()
    program = s.program_in(folder)
    # Another process holding the name blocks the dialog.
    holder = subprocess.Popen([WINE, DRIVER, "hold", "webupdatevarno.exe", "6000"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    time.sleep(1.5)
    p = s.start(program)
    check_equal(s.wait_exit(p, 20), 0, "exit code while the name is held")
    drive(["gone", DIALOG, "100"])
    holder.wait(timeout=20)
    # A first copy shows its dialog; a second one ends at once without a window.
    first = s.start_dialog(program)
    second = s.start(program)
    check_equal(s.wait_exit(second, 20), 0, "exit code of the second copy")
    check_equal(children()[OK_BTN][1], True, "first dialog still there")
    drive(["click", DIALOG, "text=Cancel"], ["gone", DIALOG, "10000"])
    check_equal(s.wait_exit(first), 0, "exit code of the first copy")
    # After the first copy ended, a new start shows the dialog again.
    third = s.start_dialog(program)
    drive(["click", DIALOG, "text=Cancel"])
    check_equal(s.wait_exit(third), 0, "exit code of the third copy")


def expect_install_dir(s, program, expected, ok_caption):
    p = s.start_dialog(program)
    c = children()
    check_equal(c[PATH_EDIT][0].lower(), expected.lower(), "PathEdit")
    check_equal(c[OK_BTN][0], ok_caption, "Install caption")
    check_equal(drive(["text", DIALOG])[0], "TEXT " + TITLE, "title")
    drive(["click", DIALOG, "text=" + c[CANCEL_BTN][0]], ["gone", DIALOG, "10000"])
    check_equal(s.wait_exit(p), 0, "exit code")


def no_stray_installations():
    """The drive scan and the documents candidate must not find leftovers on C:."""
    names = {n.upper() for n in os.listdir(DRIVE_C)}
    check(not names & {"VARNO3", "VARNOWIN3"}, "a Varno3 or VARNOWIN3 folder is left on C:")
    check(not os.path.exists(os.path.join(DRIVE_C, "Program Files", "Varno3")), "Program Files\\Varno3 is left over")
    documents = os.path.join(DRIVE_C, "users", getpass.getuser(), "Documents")
    check(not os.path.exists(os.path.join(documents, "Varno3")), "Documents\\Varno3 is left over")


# Where the form resource puts the windowed controls (client coordinates).
LAYOUT = ["Edit|120,80,225,23", "Button|351,80,24,24", "Button|160,178,99,25", "Button|272,178,75,25",
          "Edit|120,136,145,22", "Button|16,176,49,25"]


def discovery_own_folder(s):
    folder = s.install("Varno3")
    p = s.start_dialog(s.program_in(os.path.join(s.base, "layout")))
    rows = [l.split("|") for l in drive(["children", DIALOG]) if l.startswith("CHILD ")]
    check_equal(["%s|%s" % (r[0][6:], r[3]) for r in rows], LAYOUT, "control layout")
    check_equal([r[1] for r in rows][1:], ["...", "Install", "Cancel", "", "Proxy..."], "stored captions")
    drive(["click", DIALOG, "text=Cancel"])
    s.wait_exit(p)
    # A marker one level up loses against the program's own folder.
    open(os.path.join(s.base, "varnowin.ini"), "w").close()
    expect_install_dir(s, s.program_in(folder), win(folder) + "\\", "Update")


def discovery_download_folder(s):
    folder = s.install("Varno3")
    program = s.program_in(os.path.join(folder, "Download"))
    expect_install_dir(s, program, win(folder) + "\\", "Update")
    # Nothing found: the documents folder's Varno3 is offered, Install keeps its caption.
    lonely = s.program_in(os.path.join(s.base, "elsewhere", "sub"))
    documents = "C:\\users\\%s\\Documents\\Varno3\\" % getpass.getuser()
    no_stray_installations()
    expect_install_dir(s, lonely, documents, "Install")
    # The drive scan finds C:\VARNOWIN3.
    scan = os.path.join(DRIVE_C, "VARNOWIN3")
    os.makedirs(scan)
    s.cleanups.append(lambda: shutil.rmtree(scan, ignore_errors=True))
    open(os.path.join(scan, "varnowin.ini"), "w").close()
    expect_install_dir(s, lonely, "C:\\VARNOWIN3\\", "Update")
    # An installation in the documents folder comes before the drive scan.
    mine = os.path.join(DRIVE_C, "users", getpass.getuser(), "Documents", "Varno3")
    os.makedirs(mine)
    s.cleanups.append(lambda: shutil.rmtree(mine, ignore_errors=True))
    open(os.path.join(mine, "varnowin.ini"), "w").close()
    expect_install_dir(s, lonely, documents, "Update")


def discovery_drive_root(s):
    root = os.path.join(s.base, "drive")
    os.makedirs(root)
    link = os.path.join(PREFIX, "dosdevices", "x:")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(root, link)
    s.cleanups.append(lambda: os.remove(link))
    open(os.path.join(root, "varnowin.ini"), "w").close()
    program = s.program_in(os.path.join(root, "Download"))
    # Started from X:\Download: the parent step gives the bare drive "X:",
    # which the folder test turns into X:\.
    p = subprocess.Popen([WINE, "X:\\Download\\update.exe"], cwd=os.path.dirname(program),
                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    s.procs.append(p)
    drive(["wait", DIALOG, "30000"])
    time.sleep(0.5)
    c = children()
    check_equal(c[PATH_EDIT][0].upper(), "X:\\", "PathEdit")
    check_equal(c[OK_BTN][0], "Update", "Install caption")
    drive(["click", DIALOG, "text=Cancel"])
    check_equal(s.wait_exit(p), 0, "exit code")


LANGUAGE_CAPTIONS = {
    # defLangue: (Install caption with an installation found, Cancel caption,
    #             the code MakeUpdate receives when the run is made, else None)
    "FR": ("Mise \xe0 jour", "Annuler", "FR"),
    "DE": ("Update", "Annullieren", None),
    "EN": ("Update", "Cancel", "EN"),
    "NL": ("Update", "Cancel", "GD"),     # no texts: the locale's entry (English here), English texts
    "fr": ("Update", "Cancel", None),     # codes are case-sensitive (the texts and the
                                          # code rules are checked in updater_rules)
}


def languages(s):
    s.serve()
    for code, (ok, cancel, handed) in LANGUAGE_CAPTIONS.items():
        folder = s.install("L" + code, settings={"Prefs": {"defLangue": code}, "Protect": {"Proxy": s.proxy()}})
        p = s.start_dialog(s.program_in(folder))
        c = children()
        check_equal((c[OK_BTN][0], c[CANCEL_BTN][0]), (ok, cancel), "captions for defLangue " + code)
        check_equal(drive(["text", DIALOG])[0], "TEXT " + TITLE, "title for " + code)
        if code in ("EN", "FR"):
            screenshot("dialog-" + code)
        if handed is None:
            drive(["click", DIALOG, "text=" + cancel])
            check_equal(s.wait_exit(p), 0, "exit code")
            continue
        press_install_and_finish(s, p)
        record = makeupdate_record(os.path.join(folder, "Download"))
        check(record is not None, "MakeUpdate was not called for " + code)
        check_equal(record["LanguageCode"], handed, "code handed over for defLangue " + code)


def locale_french(s):
    # Wine takes the thread locale from LANG/LC_ALL when the host knows it.
    no_stray_installations()
    folder = s.install("Varno3", marker=False)
    program = s.program_in(folder)
    p = s.start_dialog(program, env={"LC_ALL": "fr_FR.UTF-8", "LANG": "fr_FR.UTF-8"})
    c = children()
    drive(["click", DIALOG, "text=" + c[CANCEL_BTN][0]])
    s.wait_exit(p)
    if c[CANCEL_BTN][0] == "Cancel":
        print("SKIP: this Wine does not take the French locale from the environment")
        return
    # Nothing installed: the French captions from the table, Install stays "Installer".
    check_equal((c[OK_BTN][0], c[CANCEL_BTN][0]), ("Installer", "Annuler"), "French locale captions")


def full_run_in(s, folder, env=None):
    p = s.start_dialog(s.program_in(folder), env)
    press_install_and_finish(s, p)
    return makeupdate_record(os.path.join(folder, "Download"))


def full_run(s):
    s.serve()
    folder = s.install(settings={"Protect": {"Proxy": " " + s.proxy() + " "}})
    record = full_run_in(s, folder)
    check(record is not None, "MakeUpdate was not called")
    check_equal(record, {
        "InstallDir": win(folder) + "\\",
        "ClientCode": "QLN1",
        "DownloadAddress": "http://127.0.0.1/quillon/data/",
        "LanguageCode": "GD",  # the English locale's last entry, although the dialog shows EN's texts
        "ProxySetting": str(s.port),
        "CurrentFolder": win(folder) + "\\Download",
        "DialogVisible": "0",
    }, "MakeUpdate arguments")
    download = os.path.join(folder, "Download")
    for name in ("update.exe", "update.ini", "update2.dll", "UPDATE.NFO"):
        check(os.path.isfile(os.path.join(download, name)), name + " in Download")
    check_equal(s.requests(), ["/quillon/loader/update.ini", "/quillon/loader/update2.dll",
                               "/quillon/data/UPDATE.NFO"], "requests")
    drive(["gone", DIALOG, "100"])


def current_library_kept(s):
    s.serve()
    folder = s.install(settings={"Protect": {"Proxy": s.proxy()}})
    check(full_run_in(s, folder) is not None, "first run")
    os.remove(os.path.join(folder, "Download", "makeupdate.txt"))
    check(full_run_in(s, folder) is not None, "second run")
    check_equal(s.requests().count("/quillon/loader/update2.dll"), 1, "update2.dll fetches")
    check_equal(s.requests().count("/quillon/loader/update.ini"), 2, "update.ini fetches")
    # Any difference from update.ini's date brings a new copy.
    dll = os.path.join(folder, "Download", "update2.dll")
    os.utime(dll, (sampleset.LIBRARY_TIME - 3600, sampleset.LIBRARY_TIME - 3600))
    check(full_run_in(s, folder) is not None, "third run")
    check_equal(s.requests().count("/quillon/loader/update2.dll"), 2, "update2.dll fetches after a date change")


def no_adresses(s):
    s.serve(adresses={}, nfo_folder="loader")
    folder = s.install(settings={"Protect": {"Proxy": s.proxy()}})
    record = full_run_in(s, folder)
    check(record is not None, "MakeUpdate was not called")
    check_equal(record["DownloadAddress"], "http://127.0.0.1/quillon/loader/", "DownloadAddress")
    check("/quillon/loader/UPDATE.NFO" in s.requests(), "UPDATE.NFO from the base URL")


def expect_failure_box(s, folder, expected_text, env=None, program=UPDATE_EXE):
    p = s.start_dialog(s.program_in(folder, program), env)
    drive(["click", DIALOG, "text=" + children()[OK_BTN][0]])
    title, text = box()
    check_equal(text, expected_text, "error box")
    drive(["press", "OK"])
    check_equal(s.wait_exit(p), 0, "exit code")
    drive(["gone", DIALOG, "100"])
    check(makeupdate_record(os.path.join(folder, "Download")) is None, "MakeUpdate must not run")


def bad_size(s):
    info = s.serve(file_size=None)
    folder = s.install(settings={"Protect": {"Proxy": s.proxy()}})
    # update.ini names one byte more than the server sends.
    ini = os.path.join(s.base, "server", "quillon", "loader", "update.ini")
    text = open(ini).read().replace("update2.dll=%d" % info["size"], "update2.dll=%d" % (info["size"] + 1))
    open(ini, "w").write(text)
    expect_failure_box(s, folder, ENGLISH_CONNECT + "\r\r Bad size for http://127.0.0.1/quillon/loader/update2.dll")


def missing_nfo(s):
    s.serve(with_nfo=False)
    folder = s.install(settings={"Protect": {"Proxy": s.proxy()}})
    expect_failure_box(s, folder, ENGLISH_CONNECT + "\r\r http://127.0.0.1/quillon/data/UPDATE.NFO")
    # No update.ini at all: the connection text alone, still ending in '.'.
    # The request as it arrives: a plain HTTP/1.0 GET naming the program,
    # with nothing that would let a cache answer for the server.
    heads = s.capture_requests()
    folder = s.install("NoIni", settings={"Protect": {"Proxy": s.proxy()}})
    expect_failure_box(s, folder, "An error occurred during connection to the Internet.")
    check_equal(len(heads), 1, "requests")
    lines = heads[0].split("\r\n")
    check(re.fullmatch(r"GET (http://127\.0\.0\.1)?/quillon/loader/update\.ini HTTP/1\.0", lines[0]) is not None,
          "request line: " + lines[0])
    fields = {k.strip().lower(): v.strip() for k, _, v in (l.partition(":") for l in lines[1:] if l)}
    check_equal(fields.get("user-agent"), "update", "agent name")
    for name in ("if-modified-since", "if-none-match", "if-range", "range"):
        check(name not in fields, "validator sent: " + name)
    check(fields.get("pragma", "no-cache") == "no-cache", "Pragma: " + fields.get("pragma", ""))


def no_make_update(s):
    # Without MakeUpdate, and not a library at all: the same box.
    junk = os.path.join(s.base, "junk.dll")
    with open(junk, "wb") as f:
        f.write(b"MZ this is not a library" + b"\0" * 200)
    for n, library in enumerate((TESTLIB_NOMAKE, junk)):
        s.serve(library=library)
        folder = s.install("Varno3-%d" % n, settings={"Protect": {"Proxy": s.proxy()}})
        expect_failure_box(s, folder, "update2.dll")
        s.stop_server()


def proxy_registry(s):
    s.serve()
    s.registry_proxy(s.proxy())
    folder = s.install()  # no Proxy key: the registry value counts
    p = s.start_dialog(s.program_in(folder))
    check_equal(drive(["childtext", DIALOG, PROXY_EDIT])[0], "CHILDTEXT " + s.proxy(), "ProxyEdit")
    check_equal(children()[PROXY_EDIT][1], False, "ProxyEdit hidden")
    press_install_and_finish(s, p)
    record = makeupdate_record(os.path.join(folder, "Download"))
    check(record is not None and record["ProxySetting"] == str(s.port), "run through the registry proxy")


def proxy_settings(s):
    s.serve()
    s.registry_proxy("127.0.0.1:1")  # would fail: the settings file must win
    folder = s.install(settings={"Protect": {"Proxy": s.proxy()}})
    check(full_run_in(s, folder) is not None, "run through the settings file's proxy")
    # A present but empty Proxy clears the registry's value.
    empty = s.install("Empty", settings={"Protect": {"Proxy": ""}})
    p = s.start_dialog(s.program_in(empty))
    check_equal(drive(["childtext", DIALOG, PROXY_EDIT])[0], "CHILDTEXT ", "ProxyEdit with an empty Proxy")
    # The Proxy button reveals the entry and disappears for good.
    drive(["click", DIALOG, "text=Proxy..."])
    time.sleep(0.5)
    c = children()
    check_equal((c[PROXY_BTN][1], c[PROXY_EDIT][1]), (False, True), "after Proxy...")
    drive(["click", DIALOG, "text=Cancel"])
    s.wait_exit(p)


def no_marker_answers(s):
    s.serve()
    home = s.install(settings={"Protect": {"Proxy": s.proxy()}})
    program = s.program_in(home)
    target = os.path.join(s.base, "New")
    for answer in ("No", "Cancel"):
        p = s.start_dialog(program)
        drive(["settext", DIALOG, PATH_EDIT, win(target)], ["click", DIALOG, "text=Update"])
        title, text = box()
        check_equal((title, text), (TITLE, "Installation directory:\r\r " + win(target) + "\\"), "question")
        drive(["press", answer])
        time.sleep(0.5)
        c = children()
        check(c[OK_BTN][1] and c[PATH_EDIT][1] and c[PATH_BTN][1], "controls unchanged after " + answer)
        check(not os.path.exists(target), "no folder after " + answer)
        drive(["click", DIALOG, "text=Cancel"])
        check_equal(s.wait_exit(p), 0, "exit code")
    p = s.start_dialog(program)
    drive(["settext", DIALOG, PATH_EDIT, win(target)], ["click", DIALOG, "text=Update"], ["press", "Yes"])
    check_equal(s.wait_exit(p, 60), 0, "exit code after Yes")
    record = makeupdate_record(os.path.join(target, "Download"))
    check(record is not None and record["InstallDir"] == win(target) + "\\", "run on the new folder")


def read_only_folder(s):
    no_stray_installations()
    folder = s.install()
    program = s.program_in(os.path.join(s.base, "prog"))
    os.chmod(folder, 0o555)
    s.cleanups.append(lambda: os.chmod(folder, 0o755))
    p = s.start_dialog(program)
    drive(["settext", DIALOG, PATH_EDIT, win(folder)], ["click", DIALOG, "text=Install"])
    first = box()[1]
    drive(["press", "OK"])
    second = box()[1]
    drive(["press", "OK"])
    check_equal(first, win(folder) + "\\ 17", "attribute box")
    check_equal(second, win(folder) + "\\\r\rRead only error!", "read-only box")
    time.sleep(0.5)
    # Stopped: only Cancel is left, and it ends the program.
    c = children()
    check_equal([k for k, v in c.items() if v[1]], [CANCEL_BTN], "visible controls")
    drive(["click", DIALOG, "text=Cancel"])
    check_equal(s.wait_exit(p), 0, "exit code")


def cancel_during_run(s):
    stop_during_run(s, ["click", DIALOG, "text=Cancel"])


def close_during_run(s):
    stop_during_run(s, ["close", DIALOG])


def stop_during_run(s, stop):
    # A large library sent slowly: many 128 KiB blocks, each quick to arrive,
    # so the dialog stays responsive and the transfer lasts several seconds.
    big = os.path.join(s.base, "big-update2.dll")
    shutil.copyfile(TESTLIB, big)
    with open(big, "ab") as f:
        f.write(b"\0" * (12 << 20))
    s.serve(library=big, faults={"/quillon/loader/update2.dll": {"slow": {"chunk": 65536, "delay": 0.05}}})
    folder = s.install(settings={"Protect": {"Proxy": s.proxy()}})
    download = os.path.join(folder, "Download")
    os.makedirs(download)
    good = b"an older, complete copy"
    open(os.path.join(download, "update2.dll"), "wb").write(good)
    partial = os.path.join(download, "update2.dl~")
    p = s.start_dialog(s.program_in(folder))
    drive(["click", DIALOG, "text=Update"])
    for _ in range(100):
        if os.path.exists(partial) and os.path.getsize(partial) > 0:
            break
        time.sleep(0.1)
    check(os.path.exists(partial), "the transfer did not start")
    drive(stop)
    check_equal(s.wait_exit(p, 30), 0, "exit code")
    check(makeupdate_record(download) is None, "MakeUpdate must not run")
    check_equal(open(os.path.join(download, "update2.dll"), "rb").read(), good, "the older copy")
    check(not os.path.exists(partial), "no partial file left")
    check("/quillon/data/UPDATE.NFO" not in s.requests(), "nothing fetched after Cancel")


# Hostile or broken servers. Each case starts with a complete copy of the
# library in Download (dated differently, so the run fetches it again) and
# checks that the run keeps it and never reaches MakeUpdate.
PLANTED = b"MZ planted by a cut request"
LONG_FOLDER = "a" * 238  # "127.0.0.1/" + it + "/update2.dll" is 260 characters
HOSTILE = {
    # name: (update.ini's Adresses, faults, expected detail of the error box, stop with Cancel)
    "hostile_long_address": ({"1": "http://127.0.0.1/%s/update2.dll" % LONG_FOLDER}, {},
                             "http://127.0.0.1/%s/update2.dll/UPDATE.NFO" % LONG_FOLDER, False),
    "hostile_cut_library": (None, {"/quillon/loader/update2.dll": {"no_content_length": True, "cut_after": 1000}},
                            "Bad size for http://127.0.0.1/quillon/loader/update2.dll", False),
    "hostile_stalled_library": (None, {"/quillon/loader/update2.dll": {"stall_after": 100, "hold": 40}},
                                None, True),
}


def hostile(s, name):
    adresses, faults, detail, cancel = HOSTILE[name]
    s.serve(adresses=adresses, faults=faults)
    planted = os.path.join(s.base, "server", LONG_FOLDER, "update2.dll")
    os.makedirs(os.path.dirname(planted))
    open(planted, "wb").write(PLANTED)
    folder = s.install(settings={"Protect": {"Proxy": s.proxy()}})
    download = os.path.join(folder, "Download")
    os.makedirs(download)
    good = open(TESTLIB, "rb").read()
    library = os.path.join(download, "update2.dll")
    open(library, "wb").write(good)
    os.utime(library, (sampleset.LIBRARY_TIME - 7200, sampleset.LIBRARY_TIME - 7200))
    p = s.start_dialog(s.program_in(folder))
    drive(["click", DIALOG, "text=" + children()[OK_BTN][0]])
    if cancel:
        time.sleep(2)
        start = time.monotonic()
        drive(["click", DIALOG, "text=Cancel"])
        check_equal(s.wait_exit(p, 20), 0, "exit code")
        check(time.monotonic() - start < 5, "Cancel took %.1f s" % (time.monotonic() - start))
    else:
        title, text = box()
        check_equal(text, ENGLISH_CONNECT + "\r\r " + detail, "error box")
        drive(["press", "OK"])
        check_equal(s.wait_exit(p), 0, "exit code")
    check(makeupdate_record(download) is None, "MakeUpdate must not run")
    check(open(library, "rb").read() == good, "the complete library was replaced")
    check_equal(sorted(os.listdir(download)), ["update.exe", "update.ini", "update2.dll"], "files in Download")


for _name in HOSTILE:
    globals()[_name] = lambda s, n=_name: hostile(s, n)


def planted_library(s):
    # The copy runs from Download: a library lying there is not loaded by bare name.
    s.serve()
    folder = s.install(settings={"Protect": {"Proxy": s.proxy()}})
    download = os.path.join(folder, "Download")
    os.makedirs(download)
    shutil.copyfile(TESTLIB_NOMAKE, os.path.join(download, "plant-probe.dll"))
    record = full_run_in(s, folder)
    check(record is not None, "MakeUpdate was not called")
    check_equal(record.get("PlantLoaded"), "0", "plant-probe.dll loaded by bare name")


def folder_not_created(s):
    # A folder whose parent is missing cannot be created (one level only): the
    # runtime's input/output error, reported as an uncaught error, ends the program.
    no_stray_installations()
    p = s.start_dialog(s.program_in(os.path.join(s.base, "prog")))
    target = os.path.join(s.base, "missing", "deeper")
    drive(["settext", DIALOG, PATH_EDIT, win(target)], ["click", DIALOG, "text=Install"], ["press", "Yes"])
    texts = []
    for _ in range(3):
        texts.append(box()[1])
        drive(["press", "OK"])
    check(re.fullmatch(r"Error 0 at [0-9A-F]+", texts[0]) is not None, "first box: " + texts[0])
    check_equal(texts[1], texts[0], "uncaught-error box")
    check(re.fullmatch(r"Runtime error 217 at [0-9A-F]{8}", texts[2]) is not None, "stop report: " + texts[2])
    check_equal(s.wait_exit(p), 217, "exit code")
    check(not os.path.exists(os.path.dirname(target)), "nothing created")


def browse_cancelled(s):
    # The browse button: its prompt is the folder label's localised caption; a
    # cancelled choice, or a folder without the marker, changes nothing.
    folder = s.install(settings={"Prefs": {"defLangue": "FR"}})
    p = s.start_dialog(s.program_in(folder))
    drive(["click", DIALOG, "text=..."])
    title, text = box()
    check_equal(text, "R\xe9pertoire d'installation des fichiers:", "browse prompt")
    drive(["press", "Cancel"])
    time.sleep(0.5)
    c = children()
    check_equal(c[PATH_EDIT][0], win(folder) + "\\", "PathEdit after a cancelled browse")
    check_equal(c[OK_BTN], ("Mise \xe0 jour", True), "Install button after a cancelled browse")
    # The browser offers the desktop first: without the marker it is ignored.
    drive(["click", DIALOG, "text=..."], ["box"], ["press", "OK"])
    time.sleep(0.5)
    check_equal(children()[PATH_EDIT][0], win(folder) + "\\", "PathEdit after choosing a folder without the marker")
    drive(["click", DIALOG, "text=Annuler"])
    check_equal(s.wait_exit(p), 0, "exit code")
    # With the marker it is taken, and Install is not relabelled Update.
    no_stray_installations()
    desktop = os.path.join(DRIVE_C, "users", getpass.getuser(), "Desktop")
    open(os.path.join(desktop, "varnowin.ini"), "w").close()
    s.cleanups.append(lambda: os.remove(os.path.join(desktop, "varnowin.ini")))
    p = s.start_dialog(s.program_in(os.path.join(s.base, "elsewhere")))
    drive(["click", DIALOG, "text=..."], ["box"], ["press", "OK"])
    time.sleep(0.5)
    c = children()
    check_equal((c[PATH_EDIT][0], c[OK_BTN][0]), (win(desktop) + "\\", "Install"), "after choosing an installation")
    drive(["click", DIALOG, "text=Cancel"])
    check_equal(s.wait_exit(p), 0, "exit code")


# ============================================================== signed sets

def publish(folder, adresses, key=None):
    subprocess.run([sys.executable, PUBLISH, "make", folder, "--key", key or SIGN_KEY, "--adresses", "1=" + adresses],
                   check=True, stdout=subprocess.DEVNULL)


def snapshot(folder, names=("update.ini", "update.ini.sig", "update2.dll", "UPDATE.NFO")):
    """{name: (bytes, mtime)} of the files present."""
    result = {}
    for name in names:
        path = os.path.join(folder, name)
        if os.path.exists(path):
            result[name] = (open(path, "rb").read(), os.path.getmtime(path))
    return result


def restore(folder, files):
    os.makedirs(folder, exist_ok=True)
    for name, (data, mtime) in files.items():
        path = os.path.join(folder, name)
        open(path, "wb").write(data)
        os.utime(path, (mtime, mtime))


def flip_library(s, loader, releases):
    # One byte changed; size and date stay, so only the hash can tell.
    path = os.path.join(loader, "update2.dll")
    data, mtime = releases[2]["update2.dll"]
    data = bytearray(data)
    data[len(data) // 2] ^= 0x01
    restore(loader, {"update2.dll": (bytes(data), mtime)})


def change_description(s, loader, releases):
    path = os.path.join(loader, "update.ini")
    text = open(path, "rb").read().replace(b"1=http://", b"1=http://evil.invalid/")
    open(path, "wb").write(text)


def drop_signature(s, loader, releases):
    os.remove(os.path.join(loader, "update.ini.sig"))


def sign_with_other_key(s, loader, releases):
    keys = os.path.join(s.base, "otherkey")
    subprocess.run([sys.executable, PUBLISH, "keygen", keys], check=True, stdout=subprocess.DEVNULL)
    restore(loader, {"update.ini": releases[1]["update.ini"]})  # Serial 1 again, so the next is 2
    publish(loader, releases["adresses"], key=os.path.join(keys, "update-key.pem"))


def serve_older_release(s, loader, releases):
    restore(loader, releases[1])


BASE = "http://127.0.0.1/quillon/loader/"
# name: (what the attacker does to release 2 on the server, the release the
# client already holds, TLS certificate of the server, expected detail of the
# error box or None for a run that ends in MakeUpdate, files kept unchanged)
SIGNED_CASES = {
    "valid": (None, 1, None, None, ()),
    "flipped_library": (flip_library, 1, None, "Bad checksum for " + BASE + "update2.dll",
                        ("update2.dll", "UPDATE.NFO")),
    "changed_ini": (change_description, 1, None, "Bad signature for " + BASE + "update.ini",
                    ("update.ini", "update2.dll", "UPDATE.NFO")),
    "missing_signature": (drop_signature, 1, None, "Bad signature for " + BASE + "update.ini (no update.ini.sig: "
                          "HTTP 404 " + BASE + "update.ini.sig)", ("update.ini", "update2.dll", "UPDATE.NFO")),
    "other_key": (sign_with_other_key, 1, None, "Bad signature for " + BASE + "update.ini",
                  ("update.ini", "update2.dll", "UPDATE.NFO")),
    "older_serial": (serve_older_release, 2, None, "Older release in " + BASE + "update.ini (Serial 1, 2 already here)",
                     ("update.ini", "update2.dll", "UPDATE.NFO")),
    "https": (None, None, "trusted", None, ()),
    "untrusted_certificate": (None, None, "untrusted",
                              "Untrusted certificate (12045) https://127.0.0.1/quillon/data/UPDATE.NFO", ()),
}


def make_releases(s, tls):
    """Releases 1 and 2 of a signed set on the server (2 has a new library
    and is what the server offers); returns {1: files, 2: files, adresses}."""
    adresses = ("https" if tls else "http") + "://127.0.0.1/quillon/data"
    s.serve(tls=tls, adresses={"1": adresses})
    loader = os.path.join(s.base, "server", "quillon", "loader")
    shutil.copy2(os.path.join(s.base, "server", "quillon", "data", "UPDATE.NFO"), loader)
    releases = {"adresses": adresses}
    publish(loader, adresses)
    # Published an hour apart: the client's freshness check compares sizes
    # and two-second dates, and the two descriptions have the same size.
    for name in ("update.ini", "update.ini.sig"):
        os.utime(os.path.join(loader, name), (time.time() - 3600, time.time() - 3600))
    releases[1] = snapshot(loader)
    library = os.path.join(loader, "update2.dll")
    with open(library, "ab") as f:
        f.write(b"release 2")  # an overlay: the library still loads
    os.utime(library, (sampleset.LIBRARY_TIME + 3600, sampleset.LIBRARY_TIME + 3600))
    publish(loader, adresses)
    releases[2] = snapshot(loader)
    return loader, releases


def signed_set(s, case):
    attack, held, tls, expected, kept = SIGNED_CASES[case]
    loader, releases = make_releases(s, tls)
    folder = s.install(settings={"Protect": {"Proxy": s.proxy()}})
    download = os.path.join(folder, "Download")
    if held:
        restore(download, releases[held])  # what an earlier good run left
    if attack:
        attack(s, loader, releases)
    before = snapshot(download)
    p = s.start_dialog(s.program_in(folder, UPDATE_SIGNED_EXE))
    if expected is None:
        drive(["click", DIALOG, "text=" + children()[OK_BTN][0]])
        try:
            code = p.wait(timeout=60)
        except subprocess.TimeoutExpired:
            raise Failure("update.exe did not end; box: %r" % (box(),))
        check_equal(code, 0, "exit code")
        record = makeupdate_record(download)
        check(record is not None, "MakeUpdate was not called")
        check(open(os.path.join(download, "update2.dll"), "rb").read() == releases[2]["update2.dll"][0],
              "update2.dll in Download is not the new library")
        fetched = [line.split() for line in open(s.log)]
        if tls:
            nfo = [f for f in fetched if f[1] == "/quillon/data/UPDATE.NFO"]
            check(len(nfo) == 1 and nfo[0][-1] == "tls", "UPDATE.NFO over TLS: %r" % nfo)
        else:
            # The description first; UPDATE.NFO kept by its hash.
            check_equal(s.requests(), ["/quillon/loader/update.ini.sig", "/quillon/loader/update.ini",
                                       "/quillon/loader/update2.dll"], "requests")
        return
    expect_failure_box(s, folder, ENGLISH_CONNECT + "\r\r " + expected, program=UPDATE_SIGNED_EXE)
    after = snapshot(download)
    for name in kept:
        check(after.get(name) == before.get(name), name + " in Download changed")
    check(not os.path.exists(os.path.join(download, "update2.dll.part")), "no partial file left")


def bench_signing(s):
    """Not a test: full runs of the unsigned and the signed program against
    the same signed set, alternating, each into an empty Download folder."""
    make_releases(s, None)
    runs = int(os.environ.get("FK_BENCH_RUNS", "5"))
    times = {UPDATE_EXE: [], UPDATE_SIGNED_EXE: []}
    for i in range(runs):
        for program in (UPDATE_EXE, UPDATE_SIGNED_EXE):
            folder = s.install("bench", settings={"Protect": {"Proxy": s.proxy()}})
            shutil.rmtree(os.path.join(folder, "Download"), ignore_errors=True)
            p = s.start_dialog(s.program_in(folder, program))
            drive(["click", DIALOG, "text=" + children()[OK_BTN][0]])
            start = time.monotonic()
            check_equal(s.wait_exit(p, 60), 0, "exit code")
            times[program].append(time.monotonic() - start)
            check(makeupdate_record(os.path.join(folder, "Download")) is not None, "MakeUpdate was not called")
    unsigned, signed = (sorted(times[k])[runs // 2] for k in (UPDATE_EXE, UPDATE_SIGNED_EXE))
    print("median of %d runs from Install to exit: unsigned %.3f s, signed %.3f s, ratio %.2f"
          % (runs, unsigned, signed, signed / unsigned))


def main():
    name = sys.argv[1]
    scenario = globals().get(name)
    if name.startswith("signed_") and name[7:] in SIGNED_CASES:
        case = name[7:]
        scenario = lambda s: signed_set(s, case)  # noqa: E731
    if scenario is None:
        print("unknown scenario", name)
        return 2
    s = Scenario(name)
    try:
        scenario(s)
    except Failure as e:
        print("FAILED:", e)
        return 1
    finally:
        s.close()
    print("passed:", name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
