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
        if b"/" not in lookup:  # Serial:N, Expires:YYYYMMDD, Size:NAME:N, Url:KEY:good; or :bad
            kind, _, name = lookup.rpartition(b":")[0].partition(b":")
            number = {b"Serial": publish.serial_of, b"Expires": publish.expiry_of,
                      b"Size": lambda e: publish.size_of(e, name.decode())}.get(kind, lambda e: 0)(entries)
            if kind == b"Url" and not publish.address_usable(entries.get((b"ADRESSES", name.upper()), b"")):
                number = -1
            got = b"bad" if number == -1 else b"good" if kind == b"Url" else b"%d" % (number or 0)
            check(lookup.endswith(b":" + got), "%r: %r gives %r" % (text, lookup, got))
            continue
        section, _, rest = lookup.partition(b"/")
        key, eq, value = rest.partition(b"=")
        got = entries.get((section.upper(), key.rstrip(b"!").upper()))
        check(got == (unescape(value) if eq else None), "%r: %r gives %r" % (text, lookup, got))
check(len(cases) > 10, "too few cases")

work = tempfile.mkdtemp()
subprocess.run([sys.executable, PUBLISH, "keygen", work], check=True, stdout=subprocess.DEVNULL)
KEY, PUB, P384, RSA, ED, COMPRESSED = (os.path.join(work, n) for n in (
    "update-key.pem", "update-key.pub.pem", "p384", "rsa", "ed25519", "compressed.pub"))
for key, kind in ((P384, ["EC", "-pkeyopt", "ec_paramgen_curve:P-384"]), (RSA, ["RSA"]), (ED, ["ED25519"])):
    publish.openssl("genpkey", "-out", key, "-algorithm", *kind)
    publish.openssl("pkey", "-in", key, "-pubout", "-out", key + ".pub")
publish.openssl("ec", "-in", KEY, "-pubout", "-conv_form", "compressed", "-out", COMPRESSED)
SET = os.path.join(work, "set")

# The build refuses, in one error, every public key the program cannot use.
for key, message in ((PUB, ""), (P384 + ".pub", "not an ECDSA P-256 public key"), (RSA + ".pub", "not an ECDSA"),
                     (ED + ".pub", "not an ECDSA"), (COMPRESSED, "compressed P-256 point; give the uncompressed")):
    p = subprocess.run([sys.argv[1] if len(sys.argv) > 1 else "cmake", "-DKEY=" + key, "-DOUT=" + work + "/key.h", "-P",
                        os.path.join(HERE, "..", "..", "src", "signing", "EmbedKey.cmake")], stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE)
    err = " ".join(p.stderr.decode().split())
    check((p.returncode != 0, err.count("CMake Error"), message in err) == (bool(message), int(bool(message)), True),
          "embedding %s: exit %d, %s" % (key, p.returncode, err))


def fresh_set(ini=None, key=KEY):  # the two files; ini: an update.ini edited by hand and signed
    shutil.rmtree(SET, ignore_errors=True)
    os.makedirs(SET)
    for name in publish.FILES:
        open(os.path.join(SET, name), "wb").write(name.encode())
    if ini is not None:
        open(os.path.join(SET, "update.ini"), "wb").write(ini.encode("utf-8"))
        publish.openssl("dgst", "-sha256", "-sign", key, "-out", os.path.join(SET, "update.ini.sig"),
                        os.path.join(SET, "update.ini"))


def run(*args):
    p = subprocess.run([sys.executable, PUBLISH, args[0], SET] + list(args[1:]), stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, timeout=60)
    return p.returncode, p.stderr.decode()


def write(name, text):
    return lambda: open(os.path.join(SET, name), "w").write(text)


GOOD = "[FileSize]\r\nupdate2.dll=11\r\nUPDATE.NFO=10\r\n[Sha256]\r\n" + "".join(
    "%s=%s\r\n" % (n, hashlib.sha256(n.encode()).hexdigest()) for n in publish.FILES)
# (after a fresh set, arguments, what the one line says)
REFUSED = [
    (None, ["make", "--key", P384], "not an ECDSA P-256 key"),  # as any other kind of key
    (None, ["make", "--key", KEY, "--adresses", "http://h/\r\nA=http://evil/"], "only printable ASCII"),
    (lambda: (os.remove(os.path.join(SET, "update2.dll")), os.mkfifo(os.path.join(SET, "update2.dll"))),
     ["make", "--key", KEY], "update2.dll is not a regular file"),  # never opened: it would hang
    (None, ["make", "--key", KEY, "--tz", "No/Such_Zone"], "not a known time zone"),
    (None, ["make", "--key", KEY, "--tz", "../../etc/passwd"], "not a known time zone"),
    (None, ["make", "--key", KEY, "--expires", "99999999"], "give 1 to 3650 days"),
    (None, ["make", "--key", KEY, "--expires", "-1"], "give 1 to 3650 days"),
    (None, ["make", "--key", KEY, "--adresses", "http://h/", "--adresses", "a=https://h/"], "key a is given twice"),
    (None, ["make", "--key", KEY, "--adresses", "[x]=http://h/"], "key '[x]' cannot be read back"),
    (None, ["make", "--key", KEY, "--adresses", ";c=http://h/"], "key ';c' cannot be read back"),
    (None, ["make", "--key", KEY, "--adresses", "1=htp://h/"], "not an http:// or https:// address"),
    (lambda: os.makedirs(os.path.join(SET, "update.ini.sig", "x")), ["make", "--key", KEY], "Is a directory"),
    (write("update.ini", "[Release]\nSerial=-7\n"), ["make", "--key", KEY], "no readable Release Serial"),
    (write("update.ini", "[release]\nserial=41\n"), ["make", "--key", KEY, "--serial", "40"],
     "between the replaced set's 41"),
    # Signed by hand, read otherwise by a reader that takes the last match.
    (lambda: fresh_set("[sha256]\r\nupdate2.dll=%s\r\n" % ("0" * 64) + GOOD), ["verify", "--pub", PUB],
     "line 6: section [SHA256] comes twice"),
    (lambda: fresh_set("\ufeff" + GOOD + "[Release]\r\nSerial=1\r\nExpires=2001-01-01\r\n"), ["verify", "--pub", PUB],
     "Expired release"),
    (lambda: fresh_set(GOOD, P384), ["verify", "--pub", PUB, "--pub", P384 + ".pub"], "not an ECDSA P-256 key"),
    # The client's rules for sizes and addresses, from the shared cases.
    (lambda: fresh_set(GOOD.replace("=11", "=+11")), ["verify", "--pub", PUB], "Bad size for update2.dll"),
    (lambda: fresh_set(GOOD.replace("=10", "=11")), ["verify", "--pub", PUB], "Bad size for UPDATE.NFO"),
    (lambda: fresh_set(GOOD + "[Adresses]\r\nA=htp://h/\r\n"), ["verify", "--pub", PUB], "Adresses A=htp://h/"),
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
