#!/usr/bin/env python3
"""Test certificates for the TLS mode of the local update server.

    server/testcerts.py DIR [--trust]

Writes into DIR (once; an existing set is kept if Wine can check it):
    trusted.pem, trusted.key      self-signed for 127.0.0.1
    untrusted.pem, untrusted.key  the same name, a key nobody trusts
    wrong_name.pem, .key          trusted, for another name
    expired.pem, expired.key      trusted, for 127.0.0.1, expired in 2020
With --trust, the trusted ones go into the root store of the Wine prefix in
WINEPREFIX (FK_WINE runs reg). WinInet checks the name against the
subjectAltName, and Wine accepts 127.0.0.1 only as a DNS name there.
"""
import argparse
import hashlib
import os
import ssl
import struct
import subprocess
import sys
import tempfile

ROOT_STORE = r"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates"
CERT_CERT_PROP_ID = 32


# What "openssl ca" needs to sign one certificate.
CA_CONFIG = """[ca]
default_ca = c
[c]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = p
copy_extensions = copy
unique_subject = no
[p]
commonName = supplied
"""


def der_items(data, pos, end):
    """(tag, start, length) of each DER element in data[pos:end]."""
    items = []
    while pos < end:
        tag, length = data[pos], data[pos + 1]
        pos += 2
        if length & 0x80:
            count = length & 0x7F
            length = int.from_bytes(data[pos:pos + count], "big")
            pos += count
        items.append((tag, pos, length))
        pos += length
    return items


def full_width_signature(cert):
    """Whether both scalars of the certificate's ECDSA signature take all 32
    bytes. Wine 8's crypt32 checks a signature without padding a shorter r or
    s, so about one certificate in 128 fails its own self-signature there and
    reads as untrusted (12045), trusted or not."""
    der = ssl.PEM_cert_to_DER_cert(open(cert).read())
    (_, start, length), = der_items(der, 0, len(der))
    _, signature, size = der_items(der, start, start + length)[2]
    (_, start, length), = der_items(der, signature + 1, signature + size)  # after the unused-bits byte
    return all(len(der[at:at + n].lstrip(b"\0")) == 32 for _, at, n in der_items(der, start, start + length))


def make_pair(folder, name, host="127.0.0.1", dates=None):
    cert = os.path.join(folder, name + ".pem")
    key = os.path.join(folder, name + ".key")
    while not (os.path.exists(cert) and os.path.exists(key) and full_width_signature(cert)):
        make_one(cert, key, host, dates)
    return cert


def make_one(cert, key, host, dates):
    run = lambda *args, **kw: subprocess.run(args, check=True, stdout=subprocess.DEVNULL,  # noqa: E731
                                             stderr=subprocess.DEVNULL, **kw)
    new_key, new_cert = os.path.abspath(key + ".tmp"), os.path.abspath(cert + ".tmp")
    san = "DNS:" + host + (",IP:127.0.0.1" if host == "127.0.0.1" else "")
    request = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", new_key, "-subj",
               "/CN=" + host, "-addext", "subjectAltName=" + san, "-addext", "basicConstraints=critical,CA:TRUE"]
    if dates is None:
        run("openssl", "req", "-x509", "-out", new_cert, "-days", "3650", *request)
    else:  # "openssl ca" signs with dates of our choice
        with tempfile.TemporaryDirectory() as ca:
            open(os.path.join(ca, "ca.cnf"), "w").write(CA_CONFIG)
            open(os.path.join(ca, "index.txt"), "w").close()
            open(os.path.join(ca, "serial"), "w").write("01\n")
            run("openssl", "req", "-new", "-out", "req.csr", *request, cwd=ca)
            run("openssl", "ca", "-batch", "-notext", "-config", "ca.cnf", "-selfsign", "-keyfile", new_key,
                "-in", "req.csr", "-out", new_cert, "-startdate", dates[0], "-enddate", dates[1], cwd=ca)
    os.replace(key + ".tmp", key)
    os.replace(cert + ".tmp", cert)


def trust(cert):
    """Adds the certificate to the prefix's machine root store: a registry
    key named by its SHA-1 thumbprint whose Blob is the serialized
    certificate property."""
    der = ssl.PEM_cert_to_DER_cert(open(cert).read())
    blob = struct.pack("<III", CERT_CERT_PROP_ID, 1, len(der)) + der
    key = "%s\\%s" % (ROOT_STORE, hashlib.sha1(der).hexdigest().upper())
    wine = os.environ.get("FK_WINE", "/usr/lib/wine/wine")
    subprocess.run([wine, "reg", "add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(), "/f"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("dir")
    ap.add_argument("--trust", action="store_true")
    args = ap.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    trusted = [make_pair(args.dir, "trusted"), make_pair(args.dir, "wrong_name", host="other.invalid"),
               make_pair(args.dir, "expired", dates=("20200101000000Z", "20200201000000Z"))]
    make_pair(args.dir, "untrusted")
    if args.trust:
        if "WINEPREFIX" not in os.environ:
            sys.exit("testcerts: --trust needs WINEPREFIX")
        for cert in trusted:
            trust(cert)
    print("test certificates in %s" % args.dir)


if __name__ == "__main__":
    main()
