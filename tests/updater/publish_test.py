#!/usr/bin/env python3
"""tools/publish: its reader on the client reader's cases; its refusals: one line, exit 1, the folder as it was."""
import codecs
import hashlib
import os
import re
import runpy
import shutil
import subprocess
import sys
import tempfile
import types

HERE = os.path.dirname(os.path.abspath(__file__))
PUBLISH = os.path.join(HERE, "..", "..", "tools", "publish")
publish = types.SimpleNamespace(**runpy.run_path(PUBLISH))
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def unescape(text):
    return codecs.escape_decode(re.sub(rb"\\\{(\d+)\}(.)", lambda m: m.group(2) * int(m.group(1)), text))[0]


cases = [line.partition(b" => ") for line in open(os.path.join(HERE, "description_cases.txt"), "rb").read()
         .splitlines() if line and not line.startswith(b"#")]
for text, _, outcome in cases:
    entries, problem = publish.read_description(unescape(text))
    check((problem is not None) == (outcome == b"refused"), "%r: %s" % (text, problem))
    for lookup in ([] if problem else outcome.split()):
        if b"/" not in lookup:  # Serial:N or Expires:YYYYMMDD, or :bad
            number = (publish.serial_of if lookup[0:1] == b"S" else publish.expiry_of)(entries)
            check(lookup.endswith(b":%s" % (b"bad" if number == -1 else b"%d" % (number or 0))), lookup)
            continue
        section, _, rest = lookup.partition(b"/")
        key, eq, value = rest.partition(b"=")
        got = entries.get((section.upper(), key.rstrip(b"!").upper()))
        check(got == (unescape(value) if eq else None), "%r: %r gives %r" % (text, lookup, got))
check(len(cases) > 10, "too few cases")

work = tempfile.mkdtemp()
subprocess.run([sys.executable, PUBLISH, "keygen", work], check=True, stdout=subprocess.DEVNULL)
KEY, PUB, P384 = (os.path.join(work, n) for n in ("update-key.pem", "update-key.pub.pem", "p384"))
publish.openssl("genpkey", "-out", P384, "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-384")
SET = os.path.join(work, "set")


def fresh_set(ini=None):  # the two files; ini: an update.ini edited by hand and signed
    shutil.rmtree(SET, ignore_errors=True)
    os.makedirs(SET)
    for name in publish.FILES:
        open(os.path.join(SET, name), "wb").write(name.encode())
    if ini is not None:
        open(os.path.join(SET, "update.ini"), "wb").write(ini.encode("utf-8"))
        publish.openssl("dgst", "-sha256", "-sign", KEY, "-out", os.path.join(SET, "update.ini.sig"),
                        os.path.join(SET, "update.ini"))


def run(*args):
    p = subprocess.run([sys.executable, PUBLISH, args[0], SET] + list(args[1:]), stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)
    return p.returncode, p.stderr.decode()


def write(name, text):
    return lambda: open(os.path.join(SET, name), "w").write(text)


GOOD = "[FileSize]\r\nupdate2.dll=11\r\nUPDATE.NFO=10\r\n[Sha256]\r\n" + "".join(
    "%s=%s\r\n" % (n, hashlib.sha256(n.encode()).hexdigest()) for n in publish.FILES)
# (after a fresh set, arguments, what the one line says)
REFUSED = [
    (None, ["make", "--key", P384], "not an ECDSA P-256 key"),  # as any other kind of key
    (None, ["make", "--key", KEY, "--adresses", "http://h/\r\nA=http://evil/"], "only printable ASCII"),
    (lambda: (os.remove(os.path.join(SET, "update2.dll")), os.mkdir(os.path.join(SET, "update2.dll"))),
     ["make", "--key", KEY], "cannot read"),
    (lambda: os.makedirs(os.path.join(SET, "update.ini.sig", "x")), ["make", "--key", KEY], "Is a directory"),
    (write("update.ini", "[Release]\nSerial=-7\n"), ["make", "--key", KEY], "no readable Release Serial"),
    (write("update.ini", "[release]\nserial=41\n"), ["make", "--key", KEY, "--serial", "40"],
     "between the replaced set's 41"),
    # Signed by hand, read otherwise by a reader that takes the last match.
    (lambda: fresh_set("[sha256]\r\nupdate2.dll=%s\r\n" % ("0" * 64) + GOOD), ["verify", "--pub", PUB],
     "line 6: section [SHA256] comes twice"),
    (lambda: fresh_set("\ufeff" + GOOD + "[Release]\r\nSerial=1\r\nExpires=2001-01-01\r\n"), ["verify", "--pub", PUB],
     "Expired release"),
]
for setup, args, message in REFUSED:
    fresh_set()
    if setup:
        setup()
    before = {n: os.path.isfile(os.path.join(SET, n)) and open(os.path.join(SET, n), "rb").read()
              for n in os.listdir(SET)}
    code, err = run(*args)
    check(code == 1 and err.count("\n") == 1 and err.startswith("publish: ") and message in err,
          "%s: exit %d, %r" % (args, code, err))
    check(before == {n: os.path.isfile(os.path.join(SET, n)) and open(os.path.join(SET, n), "rb").read()
                     for n in os.listdir(SET)}, "%s changed the folder" % args)

fresh_set("[release]\r\nserial=41\r\n")  # a lower-case serial counts; --serial may repeat it
check(run("make", "--key", KEY, "--expires", "30")[0] == 0, "make after serial=41")
check(b"Serial=42\r\nExpires=" in open(os.path.join(SET, "update.ini"), "rb").read(), "Serial 42")
check(run("make", "--key", KEY, "--serial", "42")[0] == 0, "--serial equal to the replaced one")
shutil.rmtree(work)
for f in failures:
    print("FAILED:", f)
sys.exit(1 if failures else 0)
