#!/usr/bin/env python3
"""tools/publish: its reader of update.ini against the cases the client's
reader is tested with, and its refusals: one line, exit code 1, the set as
it was."""
import importlib.machinery
import importlib.util
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
PUBLISH = os.path.join(HERE, "..", "..", "tools", "publish")
loader = importlib.machinery.SourceFileLoader("publish", PUBLISH)
publish = importlib.util.module_from_spec(importlib.util.spec_from_loader("publish", loader))
loader.exec_module(publish)
failures = []


def unescape(text):
    return re.sub(rb"\\(x..|\{\d+\}.|.)", lambda m: (
        bytes.fromhex(m.group(1)[1:].decode()) if m.group(1)[:1] == b"x" else
        m.group(1)[-1:] * int(m.group(1)[1:-2]) if m.group(1)[:1] == b"{" else
        {b"r": b"\r", b"n": b"\n", b"t": b"\t"}.get(m.group(1), m.group(1))), text)


def check(ok, what):
    if not ok:
        failures.append(what)


# The shared cases: refused, or the same first matches.
count = 0
for line in open(os.path.join(HERE, "description_cases.txt"), "rb").read().splitlines():
    if not line or line.startswith(b"#"):
        continue
    count += 1
    text, _, outcome = line.partition(b" => ")
    entries, problem = publish.read_description(unescape(text))
    check((problem is not None) == (outcome == b"refused"), "%r: %s" % (line, problem))
    for lookup in ([] if problem else outcome.split(b" ; ")):
        section, _, rest = lookup.partition(b"/")
        key, eq, value = rest.partition(b"=")
        got = entries.get((section.upper(), key.rstrip(b"!").upper()))
        check(got == (unescape(value) if eq else None), "%r: %r gives %r" % (line, lookup, got))
check(count > 10, "too few cases")

work = tempfile.mkdtemp()
keys = os.path.join(work, "keys")
subprocess.run([sys.executable, PUBLISH, "keygen", keys], check=True, stdout=subprocess.DEVNULL)
KEY, PUB = os.path.join(keys, "update-key.pem"), os.path.join(keys, "update-key.pub.pem")
for name, options in (("rsa.pem", ["-algorithm", "RSA"]),
                      ("p384.pem", ["-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-384"])):
    subprocess.run(["openssl", "genpkey", "-out", os.path.join(work, name)] + options, check=True,
                   stderr=subprocess.DEVNULL)


def fresh_set(ini=None):
    folder = os.path.join(work, "set")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name in publish.FILES:
        open(os.path.join(folder, name), "wb").write(name.encode())
    if ini is not None:  # hand-edited and signed
        open(os.path.join(folder, "update.ini"), "wb").write(ini)
        subprocess.run(["openssl", "dgst", "-sha256", "-sign", KEY, "-out", os.path.join(folder, "update.ini.sig"),
                        os.path.join(folder, "update.ini")], check=True)
    return folder


def run(*args):
    p = subprocess.run([sys.executable, PUBLISH] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return p.returncode, p.stderr.decode()


def contents(folder):
    return {n: open(os.path.join(folder, n), "rb").read() if os.path.isfile(os.path.join(folder, n)) else None
            for n in sorted(os.listdir(folder))}


SHA = "[Sha256]\r\nupdate2.dll=%s\r\nUPDATE.NFO=%s\r\n" % tuple(
    __import__("hashlib").sha256(n.encode()).hexdigest() for n in publish.FILES)
SIZES = "[FileSize]\r\nupdate2.dll=11\r\nUPDATE.NFO=10\r\n"
# (set up the folder, arguments after the folder, what the one line says)
REFUSED = [
    (lambda f: None, ["make", "--key", os.path.join(work, "rsa.pem")], "not an ECDSA P-256 key"),
    (lambda f: None, ["make", "--key", os.path.join(work, "p384.pem")], "not an ECDSA P-256 key"),
    (lambda f: None, ["make", "--key", KEY, "--adresses", "http://h\xe9/"], "only printable ASCII"),
    (lambda f: None, ["make", "--key", KEY, "--adresses", "http://h/\r\nA=http://evil/"], "only printable ASCII"),
    (lambda f: None, ["make", "--key", KEY, "--serial", "x"], "invalid int value"),
    (lambda f: (os.remove(os.path.join(f, "update2.dll")), os.mkdir(os.path.join(f, "update2.dll"))),
     ["make", "--key", KEY], "cannot read"),
    (lambda f: os.remove(os.path.join(f, "UPDATE.NFO")), ["make", "--key", KEY], "UPDATE.NFO is missing"),
    (lambda f: os.makedirs(os.path.join(f, "update.ini.sig", "in-the-way")), ["make", "--key", KEY],
     "Is a directory"),
    (lambda f: open(os.path.join(f, "update.ini"), "w").write("[Release]\nSerial=-7\n"), ["make", "--key", KEY],
     "no readable Release Serial"),
    (lambda f: open(os.path.join(f, "update.ini"), "w").write("[release]\nserial=41\n"),
     ["make", "--key", KEY, "--serial", "40"], "between the replaced set's 41"),
    # Signed by hand where the client would install another library than verify checks.
    (lambda f: fresh_set(("[sha256]\r\nupdate2.dll=%s\r\n" % ("0" * 64) + SHA + SIZES).encode()),
     ["verify", "--pub", PUB], "line 3: section [SHA256] comes twice"),
    (lambda f: fresh_set((SIZES + SHA + "update2.dll=" + "0" * 64 + "\r\n").encode()),
     ["verify", "--pub", PUB], "line 7: key UPDATE2.DLL comes twice"),
    (lambda f: fresh_set(("\ufeff" + SIZES + SHA + "[Release]\r\nSerial=1\r\nExpires=2001-01-01\r\n").encode()),
     ["verify", "--pub", PUB], "Expired release"),
    (lambda f: fresh_set((SIZES + SHA + "garbage\r\n").encode()), ["verify", "--pub", PUB],
     "line 7: not a key=value line"),
]
for setup, args, message in REFUSED:
    folder = fresh_set()
    setup(folder)
    before = contents(folder)
    code, err = run(args[0], folder, *args[1:])
    check(code == 1 and err.count("\n") == 1 and err.startswith("publish: ") and message in err,
          "%s: exit %d, %r" % (args, code, err))
    check(contents(folder) == before, "%s changed the folder" % args)

# What it accepts: a lower-case serial counts, --serial may repeat it, verify
# takes any of the keys and reports the expiry.
folder = fresh_set(b"[release]\r\nserial=41\r\n")
check(run("make", folder, "--key", KEY, "--expires", "30")[0] == 0, "make after serial=41")
check(b"Serial=42\r\nExpires=" in open(os.path.join(folder, "update.ini"), "rb").read(), "Serial 42")
check(run("make", folder, "--key", KEY, "--serial", "42")[0] == 0, "--serial equal to the previous one")
code, err = run("verify", folder, "--pub", os.path.join(work, "rsa.pem"), "--pub", PUB)
check(code == 0, "verify with the second key: " + err)
shutil.rmtree(work)
for f in failures:
    print("FAILED:", f)
sys.exit(1 if failures else 0)
