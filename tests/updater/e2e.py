#!/usr/bin/env python3
"""End-to-end scenarios of update.exe under Wine: e2e.py <scenario>

Each scenario builds its folders on the prefix's C: drive, serves an update set
when it needs one, runs update.exe and drives it with fkdrive.exe."""
import getpass
import http.server
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from datetime import datetime, timedelta, timezone

SOURCE = os.environ["FK_SOURCE_DIR"]
# high_dpi changes the DPI of its prefix: a prefix of its own, which no other test sees.
if sys.argv[1:] == ["high_dpi"]:
    os.environ["WINEPREFIX"] += "-dpi"
sys.path.insert(0, os.path.join(SOURCE, "server"))
import sampleset  # noqa: E402

WINE = os.environ.get("FK_WINE", "/usr/lib/wine/wine64")
DRIVE_C = os.path.join(os.environ["WINEPREFIX"], "drive_c")
UPDATE_EXE = os.environ["FK_UPDATE_EXE"]
UPDATE_SIGNED_EXE = os.environ.get("FK_UPDATE_SIGNED_EXE", "")
DRIVER = os.environ["FK_DRIVER_EXE"]
TESTLIB = os.environ["FK_TESTLIB"]
TESTLIB_NOMAKE = os.environ["FK_TESTLIB_NOMAKE"]
SIGN_KEY = os.environ.get("FK_SIGN_KEY", "")
NEXT_KEY = os.path.join(os.path.dirname(SIGN_KEY), "next", "update-key.pem")  # update_signed.exe holds both
CERTS = os.environ.get("FK_CERTS", "")
# Found by its title, not by the form class: other toolkit tests may show
# their own forms on the same display at the same time.
DIALOG = " QUILLON - Internet"
CONNECT = "An error occurred during connection to the Internet:"
DISK = "An error occurred while writing to the disk:"
LOADER = "http://127.0.0.1/quillon/loader/"
LIBRARY = "/quillon/loader/update2.dll"  # as the server names it
USER = getpass.getuser()
DOCUMENTS = os.path.join(DRIVE_C, "users", USER, "Documents")
# The dialog's windowed controls in creation order.
PATH_EDIT, PATH_BTN, OK_BTN, CANCEL_BTN, PROXY_EDIT, PROXY_BTN = (
    "Edit#0", "Button#0", "Button#1", "Button#2", "Edit#1", "Button#3")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(actual, expected, what):
    check(actual == expected, "%s: expected %r, got %r" % (what, expected, actual))


def win(unix_path):
    """The Windows name of a path inside the prefix's C: drive."""
    return "C:\\" + os.path.relpath(unix_path, DRIVE_C).replace("/", "\\")


def wine(*args, timeout=60, errors=None):
    """Runs a Wine program; returns (exit code, output). The output goes through
    a file: a wineserver started on the way would keep a pipe open. errors, a
    list, gets what went to stderr (Wine's own complaints)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run([WINE] + list(args), stdout=out, stderr=err,
                              stdin=subprocess.DEVNULL, timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        if errors is not None:
            errors.append(err.read().decode("utf-8", "replace"))
        return code, out.read()


def drive(*commands):
    """Runs fkdrive with the commands (lists of words); returns its output lines,
    with the driver's '\\', CR and LF escapes undone."""
    args = [w for c in commands for w in [";"] + list(c)][1:]
    for attempt in (1, 2):
        errors = []
        code, raw = wine(DRIVER, *args, errors=errors)
        out = [re.sub(r"\\(.)", lambda m: {"r": "\r", "n": "\n"}.get(m.group(1), m.group(1)), line)
               for line in raw.decode("cp1252", "replace").splitlines()]
        if code == 0 or "STARTED" in out or attempt == 2:
            break
        # Wine never ran the driver, so no command was carried out: once more.
        print("the driver did not start (exit %d); again. stderr: %s" % (code, errors[0][-2000:]), file=sys.stderr)
    if code != 0:
        raise Failure("driver failed (exit %d): %s\n%s\nstderr: %s" % (code, " ".join(args), "\n".join(out),
                                                                      errors[0][-2000:]))
    return out


def children(places=False):
    """{class#n: (text, visible)} of the dialog's windows, numbered per class; with places
    also its client size and {class#n: (left, top, right, bottom)}."""
    result, rects, lines = {}, {}, drive(["children", DIALOG])
    for cls, text, visible, rect in (line[6:].split("|") for line in lines if line[:6] == "CHILD "):
        key = "%s#%d" % (cls, sum(k.startswith(cls + "#") for k in result))
        result[key], rects[key] = (text, visible == "1"), tuple(map(int, rect.split()))
    client = next(tuple(map(int, line.split()[1:])) for line in lines if line[:7] == "CLIENT ")
    return (result, client, rects) if places else result


def answer_boxes(*answers):
    """The texts of the message boxes as they come, each answered in turn."""
    texts = []
    for answer in answers:
        shown = [line for line in drive(["answer", answer, "20000"]) if line.startswith("BOX ")]
        texts.append(shown[0][4:].partition("|")[2])
    return texts


def makeupdate_record(folder):
    """What the stand-in MakeUpdate wrote for the installation in folder, or None."""
    path = os.path.join(folder, "Download", "makeupdate.txt")
    if not os.path.exists(path):
        return None
    return dict(line.partition("=")[::2] for line in open(path, "rb").read().decode("cp1252").splitlines())


def last_run(download):
    """The texts of the newest run's lines in Download's update.log, time stamps checked and cut."""
    lines = open(os.path.join(download, "update.log"), "rb").read().decode("cp1252").split("\r\n")
    check(lines[-1] == "", "update.log ends with CRLF")
    texts = []
    for line in lines[:-1]:
        check(re.match(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ", line) is not None, "log line: " + line)
        texts = [] if line[24:].startswith("=== update.exe") else texts
        texts.append(line[24:])
    return texts


def log_box_line(download):
    return "\r\rLog: " + win(download) + "\\update.log"


def wait_until(condition, what, seconds=10):
    end = time.monotonic() + seconds
    while not condition():
        check(time.monotonic() < end, "no sign of " + what)
        time.sleep(0.1)


def no_stray_installations():
    """The drive scan and the documents candidate must not find leftovers."""
    for path in ("Varno3", "VARNOWIN3", "Program Files/Varno3", DOCUMENTS + "/Varno3"):
        check(not os.path.exists(os.path.join(DRIVE_C, path)), path + " is left over")


class Scenario:
    def __init__(self, name):
        self.base = os.path.join(DRIVE_C, "e2e", name)
        shutil.rmtree(self.base, ignore_errors=True)
        os.makedirs(self.base)
        self.server = None
        self.port = None
        self.log = os.path.join(self.base, "requests.log")
        self.procs = []
        self.cleanups = []
        self.trace = None  # a file for the texts the next programs draw

    def install(self, rel="Varno3", marker=True, settings=None, proxy=False):
        """An installation folder (an absolute one is removed afterwards);
        settings go to <user>.ini; proxy=True points Protect/Proxy at the server."""
        folder = os.path.join(self.base, rel)
        if not folder.startswith(self.base):
            self.cleanups.append(lambda: shutil.rmtree(folder, ignore_errors=True))
        os.makedirs(folder, exist_ok=True)
        if marker:
            open(os.path.join(folder, "varnowin.ini"), "w").close()
        settings = dict(settings or {}, **({"Protect": {"Proxy": self.proxy()}} if proxy else {}))
        with open(os.path.join(folder, USER + ".ini"), "w", newline="\r\n") as f:
            for section, values in settings.items():
                f.write("[%s]\n" % section + "".join("%s=%s\n" % kv for kv in values.items()))
        return folder

    def program_in(self, folder, program=UPDATE_EXE):
        os.makedirs(folder, exist_ok=True)
        shutil.copyfile(program, os.path.join(folder, "update.exe"))
        return os.path.join(folder, "update.exe")

    def serve(self, library=TESTLIB, faults=None, tls=None, **set_args):
        root = os.path.join(self.base, "server")
        sampleset.make_update_set(root, library, **set_args)
        with open(os.path.join(root, ".faults.json"), "w") as f:
            json.dump(faults or {}, f)
        port_file = os.path.join(self.base, "port")
        self.server = subprocess.Popen([sys.executable, os.path.join(SOURCE, "server", "updserver.py"),
                                        "--root", root, "--port", "0", "--port-file", port_file,
                                        "--log", self.log, "--max-seconds", "600"] +
                                       (["--tls-cert", os.path.join(CERTS, tls + ".pem"),
                                         "--tls-key", os.path.join(CERTS, tls + ".key")] if tls else []))
        wait_until(lambda: os.path.exists(port_file) and open(port_file).read().strip(), "the server's port")
        self.port = int(open(port_file).read().strip())

    def proxy(self):
        return "127.0.0.1:%d" % self.port

    def sent(self, path):
        """Body bytes the server sent for path."""
        return sum(int(line.split()[3]) for line in open(self.log) if line.split()[1] == path)

    def requests(self):
        """The paths asked of the server, in the order they arrived."""
        entries = [line.split() for line in open(self.log) if line.strip()] if os.path.exists(self.log) else []
        return [e[1] for e in sorted(entries, key=lambda e: int(e[4]))]

    # ---------------------------------------------------------- running

    def start(self, program, env=None):
        # Wine's font trace names every text drawn, windowless labels' too.
        env = dict(os.environ, **(env or {}), **({"WINEDEBUG": "-all,+font"} if self.trace else {}))
        p = subprocess.Popen([WINE, win(program)], cwd=os.path.dirname(program), env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=open(self.trace, "ab") if self.trace else subprocess.DEVNULL)
        self.procs.append(p)
        return p

    def start_dialog(self, program, env=None):
        p = self.start(program, env)
        try:
            drive(["wait", DIALOG, "30000"])
        except Failure as e:
            raise Failure("%s\nupdate.exe %s" % (e, "still runs" if p.poll() is None else "ended with %d" % p.returncode))
        time.sleep(0.5)  # FormShow finishes its repaint
        return p

    def press_install(self, program, typed=None):
        """Starts the dialog, types a folder into PathEdit if given and presses Install."""
        p = self.start_dialog(program)
        drive(*([["settext", DIALOG, PATH_EDIT, win(typed)]] if typed else []),
              ["click", DIALOG, "text=" + children()[OK_BTN][0]])
        return p

    def wait_exit(self, p, timeout=30, code=0):
        try:
            check_equal(p.wait(timeout=timeout), code, "exit code")
        except subprocess.TimeoutExpired:
            raise Failure("update.exe did not end within %d s" % timeout)
        # The window goes with the process, a moment after it under Wine.
        drive(["gone", DIALOG, "5000"])

    def cancel(self, p):
        drive(["click", DIALOG, "text=" + children()[CANCEL_BTN][0]])
        self.wait_exit(p)

    def run_to_end(self, folder, program=UPDATE_EXE):
        """Install pressed in a dialog on folder; returns what MakeUpdate got."""
        record = os.path.join(folder, "Download", "makeupdate.txt")
        if os.path.exists(record):
            os.remove(record)
        asked = len(self.requests())
        self.wait_exit(self.press_install(self.program_in(folder, program)), 60)
        self.check_log(os.path.join(folder, "Download"), "Run ended: handed over to the installer", asked)
        return makeupdate_record(folder)

    def check_log(self, download, outcome, asked):
        """The newest run in update.log names every request it made since asked and ends with outcome."""
        log = last_run(download)
        check(outcome in log[-1], "the run's end in update.log: %r, not %r" % (log[-1], outcome))
        named = " ".join(line for line in log if line.startswith("GET "))
        for path in self.requests()[asked:]:
            check(path in named, "update.log does not name the request for " + path)

    def close(self):
        for p in self.procs + [self.server]:
            if p is not None and p.poll() is None:
                p.kill()
                p.wait()
        for c in self.cleanups:
            c()


# ============================================================== dialog and discovery

def second_instance(s):
    program = s.program_in(s.install())
    # Another process holding the name blocks the dialog.
    holder = subprocess.Popen([WINE, DRIVER, "hold", "webupdatevarno.exe", "6000"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    time.sleep(1.5)
    s.wait_exit(s.start(program), 20)
    holder.wait(timeout=20)
    # Once it is gone, a first copy shows its dialog; a second one ends at once without a
    # window of its own and brings the first one's to the front, restored.
    first = s.start_dialog(program)
    drive(["minimize", DIALOG], ["sleep", "500"])
    check_equal(s.start(program).wait(timeout=20), 0, "exit code of the second copy")
    drive(["front", DIALOG])
    s.cancel(first)


def discovery(s):
    # What the dialog offers at start: the installation found, the Install
    # caption, and the proxy in the hidden entry.
    registry = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
    wine("reg", "add", registry, "/v", "ProxyServer", "/d", "127.0.0.1:8123", "/f")
    s.cleanups.append(lambda: wine("reg", "delete", registry, "/v", "ProxyServer", "/f"))
    # The settings file's Proxy wins over the registry's, even an empty one.
    folder = s.install("Varno3", settings={"Protect": {"Proxy": ""}})
    no_stray_installations()
    lonely = s.program_in(os.path.join(s.base, "elsewhere", "sub"))
    documents = win(os.path.join(DOCUMENTS, "Varno3")) + "\\"
    # (installation made before the start, program, its environment, (folder offered, Install caption, proxy))
    steps = [
        # Nothing found: the documents folder's Varno3 is offered, Install keeps its caption, or
        # takes the locale's when it has texts (Wine takes the thread locale from LC_ALL).
        (None, lonely, {}, (documents, "Install", "127.0.0.1:8123")),
        (None, lonely, {"LC_ALL": "fr_FR.UTF-8", "LANG": "fr_FR.UTF-8"}, (documents, "Installer", "127.0.0.1:8123")),
        # The program's own folder wins over a marker one level up; from Download
        # the parent is the installation.
        (s.base, s.program_in(folder), {}, (win(folder) + "\\", "Update", "")),
        (None, s.program_in(os.path.join(folder, "Download")), {}, (win(folder) + "\\", "Update", "")),
        # The drive scan finds C:\VARNOWIN3; an installation in the documents folder comes first.
        (os.path.join(DRIVE_C, "VARNOWIN3"), lonely, {}, ("C:\\VARNOWIN3\\", "Update", "127.0.0.1:8123")),
        (os.path.join(DOCUMENTS, "Varno3"), lonely, {}, (documents, "Update", "127.0.0.1:8123")),
    ]
    for installation, program, env, (offered, caption, proxy) in steps:
        if installation:
            s.install(installation)
        p = s.start_dialog(program, env)
        c = children()
        check_equal((c[PATH_EDIT][0].upper(), c[OK_BTN][0], c[PROXY_EDIT]), (offered.upper(), caption, (proxy, False)),
                    "PathEdit, Install and ProxyEdit")
        s.cancel(p)


def high_dpi(s):
    # Wine reports LogPixels as the DPI to every program and stretches none. At 144 and
    # 192 DPI the dialog and every window in it are 1.5 and 2 times as large as at 96,
    # within the frame's few pixels; each label's window lies inside the client area,
    # clear of the other controls; the keys work at every DPI. For screen readers each
    # edit is named after its prompt (MSAA takes the static text right before it).
    program = s.program_in(s.install())
    for dpi in (96, 144, 192):
        wine("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
        p = s.start_dialog(program)
        texts, client, places = children(places=True)
        base = (client, places) if dpi == 96 else base
        k = dpi / 96
        check(all(abs(got - k * was) <= 4 * k for got, was in zip(client, base[0])), "client %r at %d" % (client, dpi))
        for key, place in places.items():
            check(all(abs(got - k * was) <= k for got, was in zip(place, base[1][key])),
                  "%s %r at %d" % (key, place, dpi))
            clear = all(place[2] <= o[0] or o[2] <= place[0] or place[3] <= o[1] or o[3] <= place[1]
                        for c, o in places.items() if texts[c][1] and not c.startswith("Static"))
            check(not key.startswith("Static") or clear and place[2] <= client[0] and place[3] <= client[1],
                  "label %s %r at %d" % (key, place, dpi))
        name = lambda child: drive(["name", DIALOG, child])[-1]
        # The focus starts on Install and Tab follows TabOrder past the hidden proxy entry;
        # Space presses Proxy..., which reveals the entry and disappears for good.
        steps = [[], ["tab"], ["tab"], ["tab"], ["shift+tab"]]
        focus = [OK_BTN, CANCEL_BTN, PROXY_BTN, PATH_EDIT, PROXY_BTN]
        drive(*[c for keys, f in zip(steps, focus) for c in ([["key", DIALOG] + keys] if keys else []) +
                [["focus", DIALOG, f]]], ["key", DIALOG, "space"], ["sleep", "500"])
        c = children()
        check_equal((c[PROXY_BTN][1], c[PROXY_EDIT][1]), (False, True), "after Proxy...")
        check_equal(name(PROXY_EDIT), "NAME Proxy:         (adress:port)", "proxy edit's name")
        check_equal(name(PATH_EDIT), "NAME Installation directory:", "folder edit's name")
        drive(["key", DIALOG, "esc"])  # Cancel
        s.wait_exit(p)


def browse(s):
    # The browse button: its prompt is the folder label's localised caption; a
    # cancelled choice, or a folder without the marker, changes nothing.
    s.serve()
    folder = s.install(settings={"Prefs": {"defLangue": "FR"}}, proxy=True)
    p = s.start_dialog(s.program_in(folder))
    drive(["click", DIALOG, "text=..."])
    check_equal(answer_boxes("Cancel"), ["R\xe9pertoire d'installation des fichiers:"], "browse prompt")
    # The browser offers the desktop first: without the marker it is ignored.
    drive(["sleep", "500"], ["click", DIALOG, "text=..."], ["answer", "OK"], ["sleep", "500"])
    check_equal((children()[PATH_EDIT][0], children()[OK_BTN]), (win(folder) + "\\", ("Mise \xe0 jour", True)),
                "after a cancelled browse and a folder without the marker")
    # defLangue's code goes to the installer.
    drive(["click", DIALOG, "text=Mise \xe0 jour"])
    s.wait_exit(p, 60)
    check_equal(makeupdate_record(folder)["LanguageCode"], "FR", "code for defLangue FR")
    # With the marker it is taken, and Install is not relabelled Update.
    no_stray_installations()
    desktop = os.path.join(DRIVE_C, "users", USER, "Desktop")
    open(os.path.join(desktop, "varnowin.ini"), "w").close()
    s.cleanups.append(lambda: os.remove(os.path.join(desktop, "varnowin.ini")))
    p = s.start_dialog(s.program_in(os.path.join(s.base, "elsewhere")))
    drive(["click", DIALOG, "text=..."], ["answer", "OK"], ["sleep", "500"])
    c = children()
    check_equal((c[PATH_EDIT][0], c[OK_BTN][0]), (win(desktop) + "\\", "Install"), "after choosing an installation")
    s.cancel(p)


# ============================================================== the run

def full_run(s):
    # A library of some megabytes, so the path label shows each file's
    # progress. The installer's helpers lie in Download: one it imports, one it
    # loads by bare name. The program itself loads none from there (PlantLoaded).
    library = os.path.join(s.base, "large.dll")
    helped = os.path.join(os.path.dirname(TESTLIB), "update2_helped.dll")
    open(library, "wb").write(open(helped, "rb").read() + b"\0" * (5 << 20))
    s.serve(library=library)
    s.trace = os.path.join(s.base, "drawn.log")
    # defLangue without texts of its own: the locale's code and the English texts.
    folder = s.install(settings={"Protect": {"Proxy": " " + s.proxy() + " "}, "Prefs": {"defLangue": "NL"}})
    download = os.path.join(folder, "Download")
    os.makedirs(download)
    for name in ("update2_nomake.dll", "plant-probe.dll"):
        shutil.copyfile(TESTLIB_NOMAKE, os.path.join(download, name))
    check_equal(s.run_to_end(folder), {
        "InstallDir": win(folder) + "\\", "ClientCode": "QLN1", "DownloadAddress": "http://127.0.0.1/quillon/data/",
        "LanguageCode": "GD",  # the English locale's last entry, although the dialog shows EN's texts
        "ProxySetting": str(s.port), "CurrentFolder": win(download), "DialogVisible": "0", "InfoWritable": "1",
        "PlantLoaded": "0", "BareNameLoaded": "1", "ImportedHelper": "42",
        "InfoWritableAtLoad": "1", "DllDirectoryAtExit": "",  # the program's own search again after MakeUpdate
    }, "MakeUpdate arguments")
    check(os.path.isfile(os.path.join(download, "update.exe")), "update.exe copied to Download")
    check_equal(s.requests(), ["/quillon/loader/update.ini", LIBRARY, "/quillon/data/UPDATE.NFO"], "requests")
    s.trace = None
    # Each file's progress (repaints counted once): the library's first block at once, every file complete.
    drawn = re.findall(r'ExtTextOutW [^"]*L"(\S+): ([\d ]+) / ([\d ]+) \((\d+)%\)"', open(s.base + "/drawn.log").read())
    drawn = [t for i, t in enumerate(drawn) if i == 0 or drawn[i - 1] != t]
    size = "{:,}".format(os.path.getsize(library)).replace(",", " ")
    check_equal([(n, got == total) for n, got, total, percent in drawn if percent == "100"],
                [("update.ini", True), ("update2.dll", True), ("UPDATE.NFO", True)], "files complete")
    check(drawn[1][0] == "update2.dll" and drawn[1][2] == size and int(drawn[1][3]) < 100, "first block: %r" % drawn)
    # A current library is not fetched again; any difference from update.ini's date brings a new copy.
    check(s.run_to_end(folder) is not None, "second run")
    check_equal(s.requests().count(LIBRARY), 1, "update2.dll fetches")
    os.utime(os.path.join(download, "update2.dll"), (sampleset.LIBRARY_TIME - 3600,) * 2)
    check(s.run_to_end(folder) is not None, "third run")
    check_equal(s.requests().count(LIBRARY), 2, "update2.dll fetches after a date change")


def cut_every_mib(s):
    # Every connection cut after 1 MiB: one run resumes the library to its end, sending it about once.
    download = unsigned(library=lambda: BIG_LIBRARY, faults={LIBRARY: {"cut_after": 1 << 20}})(s)
    check(s.run_to_end(os.path.dirname(download)) is not None, "MakeUpdate after the cuts")
    check(s.sent(LIBRARY) <= 1.15 * len(BIG_LIBRARY), "library bytes sent: %d" % s.sent(LIBRARY))


def file_in_use(s):
    # A scanner holds the old library open (others may only read it) for 5 s as the new
    # copy arrives: the replace waits it out and the run completes.
    download = unsigned(True)(s)
    held = os.path.join(download, "update2.dll")
    locker = subprocess.Popen([WINE, DRIVER, "lock", win(held), "5000"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL)
    check_equal([locker.stdout.readline().strip() for _ in range(2)], [b"STARTED", b"LOCKED"], "the lock")
    check(s.run_to_end(os.path.dirname(download)) is not None, "MakeUpdate after the lock")
    check_equal(locker.wait(timeout=20), 0, "the lock's end")
    check_equal(os.path.getmtime(held), sampleset.LIBRARY_TIME, "date of the library in place")


def no_marker_answers(s):
    # A folder without the marker: No to the question changes nothing; Yes
    # creates the folder and runs there.
    s.serve()
    program = s.program_in(s.install(proxy=True))
    target = os.path.join(s.base, "New")
    # Enter presses the focused Install button, once: no second question after No.
    p = s.start_dialog(program)
    drive(["settext", DIALOG, PATH_EDIT, win(target)], ["key", DIALOG, "enter"])
    check_equal(answer_boxes("No"), ["Installation directory:\r\r " + win(target) + "\\"], "question")
    time.sleep(0.5)
    drive(["gone", "class=#32770", "0"])
    c = children()
    check(c[OK_BTN][1] and c[PATH_EDIT][1] and c[PATH_BTN][1] and not os.path.exists(target), "changed after No")
    s.cancel(p)
    p = s.press_install(program, target)
    answer_boxes("Yes")
    s.wait_exit(p, 60)
    check_equal((makeupdate_record(target) or {}).get("InstallDir"), win(target) + "\\", "run on the new folder")


def read_only_folder(s):
    folder = s.install()
    os.chmod(folder, 0o555)
    s.cleanups.append(lambda: os.chmod(folder, 0o755))
    p = s.press_install(s.program_in(os.path.join(s.base, "prog")), folder)
    check_equal(answer_boxes("OK", "OK"), [win(folder) + "\\ 17", win(folder) + "\\\r\rRead only error!"],
                "attribute and read-only boxes")
    # Stopped: only Cancel is left, and it ends the program. The status line, read as the
    # name of its label's window, still says what the run did.
    time.sleep(0.5)
    c = children()
    check_equal([k for k, v in c.items() if v[1] and not k.startswith("Static")], [CANCEL_BTN], "visible controls")
    check_equal([v[0] for k, v in c.items() if k.startswith("Static")], ["", "Loading, please wait...",
                                                                        " QUILLON - Internet"], "labels")
    s.cancel(p)


def folder_not_created(s):
    # A folder whose parent is missing cannot be created (one level only): a
    # failure on the local disk that names its cause; only Cancel is left.
    target = os.path.join(s.base, "missing", "deeper")
    p = s.press_install(s.program_in(os.path.join(s.base, "prog")), target)
    check_equal(answer_boxes("Yes", "OK")[1:], ["An error occurred while writing to the disk:\r\r Folder not found (3) "
                                                + win(target) + "\\"], "disk box")
    s.cancel(p)
    check(not os.path.exists(os.path.dirname(target)), "nothing created")


# ============================================================== refused runs

def request_head(s):
    # No update.ini at all: the connection text with the server's answer. The
    # request as it arrives: a plain HTTP/1.0 GET naming the program, with
    # nothing that would let a cache answer for the server.
    heads = []

    class Recorder(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            heads.append((self.requestline, {k.lower(): v for k, v in self.headers.items()}))
            self.send_error(404)

    listener = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Recorder)
    threading.Thread(target=listener.serve_forever, daemon=True).start()
    s.cleanups.append(listener.shutdown)
    s.port = listener.server_port
    folder = s.install(proxy=True)
    p = s.press_install(s.program_in(folder))
    download = os.path.join(folder, "Download")
    reason = "HTTP 404 " + LOADER + "update.ini"
    check_equal(answer_boxes("OK"), [CONNECT + "\r\r " + reason + log_box_line(download)], "error box")
    s.wait_exit(p)
    check_equal(last_run(download)[-1], "Run ended: no update description: " + reason, "log")
    check_equal(len(heads), 1, "requests")
    line, fields = heads[0]
    check(re.fullmatch(r"GET (http://127\.0\.0\.1)?/quillon/loader/update\.ini HTTP/1\.0", line) is not None,
          "request line: " + line)
    check_equal(fields.get("user-agent"), "update", "agent name")
    for name in ("if-modified-since", "if-none-match", "if-range", "range"):
        check(name not in fields, "validator sent: " + name)
    check(fields.get("pragma", "no-cache") == "no-cache", "Pragma: " + fields.get("pragma", ""))


def snapshot(folder, names=("update.ini", "update.ini.sig", "update2.dll", "UPDATE.NFO")):
    """{name: (bytes, mtime)} of the files present."""
    return {n: (open(os.path.join(folder, n), "rb").read(), os.path.getmtime(os.path.join(folder, n)))
            for n in names if os.path.exists(os.path.join(folder, n))}


def restore(folder, files):
    os.makedirs(folder, exist_ok=True)
    for name, (data, mtime) in files.items():
        open(os.path.join(folder, name), "wb").write(data)
        os.utime(os.path.join(folder, name), (mtime, mtime))


LONG_FOLDER = "a" * 238  # "127.0.0.1/" + it + "/update2.dll" is 260 characters


def unsigned(held=False, library=TESTLIB, **set_args):
    """An unsigned set, its library a file or made by library(); held: a complete
    library in Download, dated differently so that the run fetches it again."""
    def setup(s):
        if callable(library):
            restore(s.base, {"made.dll": (library(), 0)})
        s.serve(library=os.path.join(s.base, "made.dll") if callable(library) else library, **set_args)
        restore(os.path.join(s.base, "server", LONG_FOLDER), {"update2.dll": (b"MZ planted by a cut request", 0)})
        download = os.path.join(s.install(proxy=True), "Download")
        if held:
            restore(download, {"update2.dll": (open(TESTLIB, "rb").read(), sampleset.LIBRARY_TIME - 7200)})
        return download
    return setup


def publish(folder, adresses, key=SIGN_KEY, *options):
    subprocess.run([sys.executable, os.path.join(SOURCE, "tools", "publish"), "make", folder, "--key", key,
                    "--adresses", "1=" + adresses] + list(options), check=True, stdout=subprocess.DEVNULL)


def signed(attack=None, held=1, tls=None):
    """Releases 1 and 2 of a signed set; the server offers 2 (a new library) after
    attack(s, loader, releases); held: the release already in Download."""
    def setup(s):
        adresses = ("https" if tls else "http") + "://127.0.0.1/quillon/data"
        s.serve(tls=tls, adresses={"1": adresses})
        loader = os.path.join(s.base, "server", "quillon", "loader")
        shutil.copy2(os.path.join(s.base, "server", "quillon", "data", "UPDATE.NFO"), loader)
        releases = {"adresses": adresses}
        publish(loader, adresses)  # the two descriptions alike in size, maybe in date
        releases[1] = snapshot(loader)
        with open(os.path.join(loader, "update2.dll"), "ab") as f:
            f.write(b"release 2")  # an overlay: the library still loads
        os.utime(os.path.join(loader, "update2.dll"), (sampleset.LIBRARY_TIME + 3600,) * 2)
        publish(loader, adresses, NEXT_KEY)  # the key rotated
        releases[2] = snapshot(loader)
        download = os.path.join(s.install(proxy=True), "Download")
        if held:
            restore(download, releases[held])  # what an earlier good run left
        if tls in (None, "trusted"):  # the genuine release, to be served again after the attack
            s.genuine = (loader, releases[2])
        if attack:
            attack(s, loader, releases)
        return download
    return setup


def resign(loader, text, key=SIGN_KEY):  # a hand-edited description, signed with the publisher's key
    path = os.path.join(loader, "update.ini")
    open(path, "wb").write(text)
    subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, "-out", path + ".sig", path], check=True)


def drop_key_after_run(s, loader, r):
    # A good run takes release 2; then the key that signed it leaves the program (here the stored pair
    # is signed again by a key the program never held) and release 1 comes back.
    download = os.path.join(s.base, "Varno3", "Download")
    check(s.run_to_end(os.path.dirname(download), UPDATE_SIGNED_EXE) is not None, "release 2")
    os.remove(os.path.join(download, "makeupdate.txt"))
    dropped = os.path.join(s.base, "dropped.pem")
    subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", dropped],
                   check=True)
    resign(download, r[2]["update.ini"][0], dropped)
    restore(loader, r[1])


def faults(rules):
    return lambda s, *_: open(os.path.join(s.base, "server", ".faults.json"), "w").write(json.dumps(rules))


def other_processor():
    data = bytearray(open(TESTLIB, "rb").read())
    at = int.from_bytes(data[0x3C:0x40], "little") + 4  # the Machine field
    data[at:at + 2] = (0x8664 if data[at] == 0x4C else 0x14C).to_bytes(2, "little")
    return bytes(data)


def change_library_before_load(s, loader, releases):
    # While UPDATE.NFO arrives, the library just fetched and checked changes in place, size and date kept.
    faults({NFO: {"slow": {"chunk": 8, "delay": 0.25}}})(s)
    threading.Thread(daemon=True, target=lambda: wait_until(lambda: os.path.exists(CHANGED + "/UPDATE.NF~"), NFO, 60)
                     or restore(CHANGED, {"update2.dll": (RELEASE_2_FLIPPED, sampleset.LIBRARY_TIME + 3600)})).start()


SET_FILES = ("update.ini", "update.ini.sig", "update2.dll", "UPDATE.NFO")
LIBRARY_KEPT = ("update2.dll", "UPDATE.NFO")
NOT_LIBRARY = "Bad library for " + LOADER + "update2.dll"
RELEASE_2_FLIPPED = open(TESTLIB, "rb").read() + b"release 3"  # release 2's library, one byte changed
CHANGED = os.path.join(DRIVE_C, "e2e", "signed_library_changed_before_load", "Varno3", "Download")
INI, DLL = LOADER + "update.ini", LOADER + "update2.dll"
HUGE = {"no_content_length": True, "extra_mib": 65}
BIG_LIBRARY = open(TESTLIB, "rb").read() + b"\0" * (3 << 20)
HUGE_LIBRARY = BIG_LIBRARY + b"\0" * (6 << 20)
DISK_FULL = os.path.join(DRIVE_C, "e2e", "disk_full", "Varno3", "Download")
SKIPPED = 77  # the exit code ctest counts as skipped
NFO = "/quillon/data/UPDATE.NFO"
CERTIFICATE_URL = "https://127.0.0.1" + NFO
YESTERDAY = str(datetime.now(timezone.utc).date() - timedelta(1))
def closed_port(s):
    s.serve()
    s.server.kill()
    s.server.wait()
    return os.path.join(s.install(proxy=True), "Download")


def small_disk(s):
    """Download on a tmpfs of its own, 8 MiB: update.exe and the old library fit, the new one does not."""
    if os.geteuid() != 0:
        print("skipped: mounting a small disk needs root")
        sys.exit(SKIPPED)
    os.makedirs(DISK_FULL)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=8m", "tmpfs", DISK_FULL], check=True)
    s.cleanups.append(lambda: subprocess.run(["umount", "-l", DISK_FULL]))
    return unsigned(True, library=lambda: HUGE_LIBRARY)(s)


# A large library sent in many small blocks, each quick to arrive: the dialog
# stays responsive for seconds.
SLOW = unsigned(True, library=lambda: open(TESTLIB, "rb").read() + b"\0" * (12 << 20),
                faults={LIBRARY: {"slow": {"chunk": 65536, "delay": 0.05}}})
# name: (what the server offers and Download holds, how the run ends: the
# error box's text after the connection text (a bare "update2.dll" stands
# alone), or the driver command that stops it once update2.dll is on its way;
# files in Download that stay as they were). signed_* cases run update_signed.exe.
REFUSED = {
    # Only Cancel is left: Enter reaches it.
    "cancel_during_run": (SLOW, ["key", DIALOG, "enter"], LIBRARY_KEPT),
    "close_during_run": (SLOW, ["close", DIALOG], LIBRARY_KEPT),
    "missing_nfo": (unsigned(with_nfo=False), "HTTP 404 http://127.0.0.1/quillon/data/UPDATE.NFO", ()),
    "no_make_update": (unsigned(library=TESTLIB_NOMAKE), "update2.dll", ()),
    # No DLL for this program, at the FileSize of update.ini: the good copy stays.
    "junk_library": (unsigned(True, library=lambda: b"MZ this is not a library" + b"\0" * 200),
                     NOT_LIBRARY + " (no PE header)", LIBRARY_KEPT),
    "truncated_library": (unsigned(True, library=lambda: open(TESTLIB, "rb").read()[:20000]),
                          NOT_LIBRARY + " (truncated)", LIBRARY_KEPT),
    "other_processor_library": (unsigned(True, library=other_processor), NOT_LIBRARY + " (built for another processor)",
                                LIBRARY_KEPT),
    "empty_library": (unsigned(True, library=lambda: b""), NOT_LIBRARY + " (empty file)", LIBRARY_KEPT),
    # Hostile servers: a cut request would fetch the planted library.
    "hostile_long_address": (unsigned(True, adresses={"1": "http://127.0.0.1/%s/update2.dll" % LONG_FOLDER}),
                             "URL too long http://127.0.0.1/%s/update2.dll/UPDATE.NFO" % LONG_FOLDER, LIBRARY_KEPT),
    "hostile_cut_library": (unsigned(True, faults={LIBRARY: {"no_content_length": True, "cut_after": 1000}}),
                            "Bad size for " + LOADER + "update2.dll", LIBRARY_KEPT),
    # Every connection cut after 1 MiB by a server without ranges: a few attempts, each from zero.
    "hostile_cuts_without_range": (unsigned(True, library=lambda: BIG_LIBRARY, faults={
        LIBRARY: {"cut_after": 1 << 20, "no_range": True}}), "Connection kept dropping: 1048576 of %d bytes after 5 "
        "attempts (Incomplete transfer %s)" % (len(BIG_LIBRARY), DLL), LIBRARY_KEPT),
    "hostile_huge_nfo": (unsigned(faults={NFO: HUGE}), "Larger than 67108864 bytes http://127.0.0.1" + NFO, ()),
    # Nobody listens on the port of the proxy setting.
    "refused_connection": (closed_port, "Connection refused (12029) " + INI, ()),
    # The new library does not fit on the installation's disk.
    "disk_full": (small_disk, re.compile(re.escape("Not enough disk space (112) %s\\update2.dll: %d bytes needed in "
                  "%s\\, " % (win(DISK_FULL), len(HUGE_LIBRARY), win(DISK_FULL))) + r"\d+ free"), LIBRARY_KEPT),
    # Nothing after 100 bytes: Cancel (Escape) still ends the run at once.
    "hostile_stalled_library": (unsigned(True, faults={LIBRARY: {"stall_after": 100, "hold": 40}}),
                                ["key", DIALOG, "esc"], LIBRARY_KEPT),
    "signed_older_serial": (signed(lambda s, loader, r: restore(loader, r[1]), held=2),
                            "Older release in " + LOADER + "update.ini (Serial 1, 2 already here)", SET_FILES),
    # The floor a verified run wrote holds when the stored pair no longer verifies.
    "signed_older_serial_dropped_key": (signed(drop_key_after_run, held=None),
                                        "Older release in " + INI + " (Serial 1, 2 already here)", SET_FILES),
    **{"signed_%s_certificate" % name: (signed(held=None, tls=name), reason + CERTIFICATE_URL, ()) for name, reason in (
        ("untrusted", "Untrusted certificate (12045) "), ("wrong_name", "Certificate for another name (12038) "),
        ("expired", "Expired certificate (12037) "))},
    # The plain hop leads back to https: refused all the same.
    "signed_https_to_http": (signed(faults({NFO: {"redirect": "/hop", "scheme": "http"},
                                            "/hop": {"redirect": "/quillon/loader/UPDATE.NFO", "scheme": "https"}}),
                                    held=None, tls="trusted"), "Redirected from https to http " + CERTIFICATE_URL, ()),
    "signed_redirect_loop": (signed(faults({"/quillon/loader/update.ini.sig": {
        "redirect": "/quillon/loader/update.ini.sig"}})),
        "Bad signature for %s (no update.ini.sig: Too many redirects for %s.sig)" % (INI, INI), SET_FILES),
    # A first [sha256] names release 1's library, which Download holds.
    "signed_two_hash_sections": (signed(lambda s, loader, r: resign(loader, b"[sha256]\r\n" + re.search(
        rb"update2.dll=[0-9a-f]{64}", r[1]["update.ini"][0]).group(0) + b"\r\n" + r[2]["update.ini"][0])),
        "Unreadable lines in " + INI, SET_FILES),
    # The library's hash right in its first half only: as good as a swapped library.
    "signed_half_hash": (signed(lambda s, loader, r: resign(loader, re.sub(
        rb"(update2.dll=[0-9a-f]{32})[0-9a-f]{32}", rb"\g<1>" + b"0" * 32, r[2]["update.ini"][0]))),
        "Bad checksum for " + DLL, LIBRARY_KEPT),
    # Well-formed, the genuine one's size and date, one byte of r changed.
    "signed_swapped_signature": (signed(lambda s, loader, r: restore(loader, {"update.ini.sig": (bytes(
        b ^ (i == 8) for i, b in enumerate(r[2]["update.ini.sig"][0])), r[2]["update.ini.sig"][1])})),
        "Bad signature for " + INI, SET_FILES),
    "signed_huge_signature": (signed(faults({"/quillon/loader/update.ini.sig": HUGE})),
                              "Bad signature for %s (no update.ini.sig: Larger than 256 bytes %s.sig)" % (INI, INI),
                              SET_FILES),
    "signed_huge_library": (signed(faults({LIBRARY: {"content_length": "99999999"}})),
                            "Larger than %d bytes %s" % (len(RELEASE_2_FLIPPED), DLL), LIBRARY_KEPT),
    "signed_expired": (signed(lambda s, loader, r: resign(loader, r[2]["update.ini"][0].replace(
        b"[Release]\r\n", b"[Release]\r\nExpires=%s\r\n" % YESTERDAY.encode()))),
        "Expired release in %s (Expires %s)" % (INI, YESTERDAY), SET_FILES),
    # The hash right, FileSize one more: the size is the signed description's too.
    "signed_bad_size": (signed(lambda s, loader, r: resign(loader, re.sub(
        rb"update2.dll=(\d+)", lambda m: b"update2.dll=%d" % (int(m.group(1)) + 1), r[2]["update.ini"][0], 1))),
        "Bad size for " + DLL, LIBRARY_KEPT),
    # An Expires that cannot be read is refused, not taken as none.
    "signed_bad_expires": (signed(lambda s, loader, r: resign(loader, re.sub(
        rb"\[Release\]\r?\n", b"[Release]\r\nExpires=2031-13-01\r\n", r[2]["update.ini"][0]))),
        "Bad Expires in " + INI, SET_FILES),
    # Without a FileSize nothing may arrive; UPDATE.NFO is bounded by its own.
    "signed_no_filesize": (signed(lambda s, loader, r: resign(loader, re.sub(
        rb"\[FileSize\][^[]*", b"", r[2]["update.ini"][0]))), "Bad size for " + DLL + " (no FileSize in plain digits)", LIBRARY_KEPT),
    "signed_huge_nfo": (signed(faults({NFO: HUGE}), held=None), "Larger than %d bytes http://127.0.0.1%s" % (
        os.path.getsize(os.path.join(SOURCE, "server", "sample", "UPDATE.NFO")), NFO), ()),
    "signed_library_changed_before_load": (signed(change_library_before_load, held=None),
                                           "Bad checksum for " + win(os.path.join(CHANGED, "update2.dll")), ()),
}


def refused(s, name):
    setup, ending, kept = REFUSED[name]
    download = setup(s)
    folder = os.path.dirname(download)
    before = snapshot(download)
    asked = len(s.requests())
    p = s.press_install(s.program_in(folder, UPDATE_SIGNED_EXE if name.startswith("signed_") else UPDATE_EXE))
    if isinstance(ending, list):  # stopped during the transfer: the run ends within seconds
        wait_until(lambda: os.path.exists(os.path.join(download, "update2.dl~")), "the start of the transfer")
        drive(ending)
        s.wait_exit(p, 5)
        outcome = "Run ended: cancelled"
    else:
        pattern = ending if isinstance(ending, re.Pattern) else re.compile(re.escape(ending))
        header = "" if ending == "update2.dll" else (DISK if name == "disk_full" else CONNECT) + "\r\r "
        box = answer_boxes("OK")[0]
        check(re.fullmatch(re.escape(header) + pattern.pattern + re.escape(log_box_line(download)), box) is not None,
              "error box: %r" % box)
        s.wait_exit(p)
        outcome = "update2.dll cannot be loaded" if ending == "update2.dll" else box[len(header):box.index("\r\rLog: ")]
    s.check_log(download, outcome, asked)
    check(makeupdate_record(folder) is None, "MakeUpdate must not run")
    after = snapshot(download)
    for file in kept:  # by content: a good copy may be fetched again
        check(after.get(file, (None,))[0] == before.get(file, (None,))[0], file + " in Download changed")
    partial = sorted(n for n in os.listdir(download) if n[-1] in "~!")  # the partial copy and its note
    if isinstance(ending, list):  # they stay, and the next run asks only for the rest
        check(partial == ["update2.dl!", "update2.dl~"], "partial copy kept: %r" % partial)
        faults({})(s)
        check(s.run_to_end(folder) is not None, "the run after the stop")
        size = os.path.getsize(os.path.join(download, "update2.dll"))
        check(s.sent(LIBRARY) <= 1.15 * size, "library bytes sent: %d of %d" % (s.sent(LIBRARY), size))
    else:
        check(not partial, "no partial file left")
    if getattr(s, "genuine", None):  # no lasting harm: the genuine release runs next (over TLS for https)
        restore(*s.genuine)
        faults({})(s)
        check(s.run_to_end(folder, UPDATE_SIGNED_EXE) is not None, "the genuine release after the attack")


def signed_valid(s):
    # Release 2, signed again to expire today (not in a UTC day's last minutes), replaces release 1 and
    # runs twice, UPDATE.NFO locked while the library loads; an unsigned Serial=4294967295 sets no floor.
    download = signed()(s)
    wait_until(lambda: time.time() % 86400 < 86280, "a UTC day with minutes left", 130)
    today = str(datetime.now(timezone.utc).date()).encode()
    resign(s.genuine[0], s.genuine[1]["update.ini"][0].replace(b"[Release]\r\n", b"[Release]\r\nExpires=%s\r\n" % today))
    restore(download, {"update.ini": (b"[Release]\r\nSerial=4294967295\r\n", 0)})
    for run in (1, 2):
        record = s.run_to_end(os.path.dirname(download), UPDATE_SIGNED_EXE) or {}
        check_equal((record.get("InfoWritable"), record.get("InfoWritableAtLoad")), ("1", "0"),
                    "UPDATE.NFO writable in MakeUpdate, not while the library loads, in run %d" % run)
    pair = ["/quillon/loader/update.ini.sig", "/quillon/loader/update.ini"]  # always; UPDATE.NFO kept by its hash
    check_equal(s.requests(), pair + [LIBRARY] + pair, "requests")


def main():
    name = sys.argv[1]
    scenario = (lambda s: refused(s, name)) if name in REFUSED else globals().get(name)
    check(callable(scenario), "unknown scenario " + name)
    if name == "high_dpi":
        subprocess.run([os.path.join(SOURCE, "tools", "wine-prefix"), os.environ["WINEPREFIX"]], check=True,
                       stdout=subprocess.DEVNULL)
    # Without a window manager (Xvfb), Wine waits 2 s for every hidden managed
    # window to be withdrawn, and the dialog hides itself three times per run.
    wine("reg", "add", r"HKCU\Software\Wine\AppDefaults\update.exe\X11 Driver", "/v", "Managed", "/d", "N", "/f")
    s = Scenario(name)
    try:
        scenario(s)
    finally:
        s.close()
    print("passed:", name)


if __name__ == "__main__":
    try:
        main()
    except Failure as e:
        sys.exit("FAILED: %s" % e)
