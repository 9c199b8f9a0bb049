#!/usr/bin/env python3
"""Test certificates for the TLS mode of the local update server.

    server/testcerts.py DIR [--trust]

Writes into DIR (once; an existing set is kept):
    trusted.pem, trusted.key      self-signed for 127.0.0.1
    untrusted.pem, untrusted.key  the same name, a key nobody trusts
With --trust, trusted.pem goes into the root store of the Wine prefix in
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

ROOT_STORE = r"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates"
CERT_CERT_PROP_ID = 32


def make_pair(folder, name):
    cert = os.path.join(folder, name + ".pem")
    key = os.path.join(folder, name + ".key")
    if os.path.exists(cert) and os.path.exists(key):
        return cert
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-keyout", key + ".tmp", "-out", cert + ".tmp", "-days", "3650", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=DNS:127.0.0.1,IP:127.0.0.1",
                    "-addext", "basicConstraints=critical,CA:TRUE"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.replace(key + ".tmp", key)
    os.replace(cert + ".tmp", cert)
    return cert


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
    trusted = make_pair(args.dir, "trusted")
    make_pair(args.dir, "untrusted")
    if args.trust:
        if "WINEPREFIX" not in os.environ:
            sys.exit("testcerts: --trust needs WINEPREFIX")
        trust(trusted)
    print("test certificates in %s" % args.dir)


if __name__ == "__main__":
    main()
