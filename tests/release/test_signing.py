#!/usr/bin/python3
"""Signs a copy of the exe with a throwaway certificate and checks the result.

    tests/release/test_signing.py [EXE]

EXE defaults to build/windows-x86/TAVOSweeper.exe. Makes a throwaway CA and a
code-signing certificate with openssl, signs a copy with scripts/sign.sh and
verifies it with `osslsigncode verify` against that CA. Leaves the signed copy
in build/release-test/TAVOSweeper-signed.exe and the CA in
build/release-test/ca.pem. One PASS/FAIL line per check, then
"N passed, M failed".
"""

import hashlib
import os
import shutil
import subprocess
import sys
from pathlib import Path

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from check_release import ROOT, BUILT_EXE, Report, unsigned_bytes, without_checksum  # noqa: E402

OUT = os.path.join(ROOT, "build", "release-test")
SIGN = os.path.join(ROOT, "scripts", "sign.sh")
SIGNER = "TAVOSweeper test signer"


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, cwd=OUT, **kw)


def make_certificates():
    """ca.pem and signer.p12 (password in password.txt), valid for two days."""
    Path(OUT, "password.txt").write_text("throwaway-%s" % os.getpid())
    Path(OUT, "signer.cnf").write_text("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                                       "extendedKeyUsage=codeSigning\n")
    for args in (
            ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
             "-days", "2", "-subj", "/CN=TAVOSweeper test CA",
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign"],
            ["req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out", "signer.csr",
             "-subj", "/CN=" + SIGNER],
            ["x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
             "-CAcreateserial", "-out", "signer.pem", "-days", "2", "-extfile", "signer.cnf"],
            ["pkcs12", "-export", "-out", "signer.p12", "-inkey", "signer.key", "-in", "signer.pem",
             "-certfile", "ca.pem", "-passout", "file:password.txt"]):
        run(["openssl"] + args, check=True)


def key_lines(text):
    return [line.strip() for line in text.splitlines()
            if line.strip().startswith(("Subject:", "Issuer :", "Signature verification",
                                        "Calculated message digest", "Text description",
                                        "Number of verified", "Succeeded", "Failed"))]


def verify(path):
    r = run(["osslsigncode", "verify", "-CAfile", "ca.pem", "-in", path])
    return r.returncode, r.stdout + r.stderr


def main(argv):
    exe = os.path.abspath(argv[1] if len(argv) > 1 else BUILT_EXE)
    shutil.rmtree(OUT, ignore_errors=True)
    os.makedirs(OUT)
    original = Path(exe).read_bytes()
    rep = Report()
    make_certificates()
    signed = os.path.join(OUT, "TAVOSweeper-signed.exe")

    r = run(["bash", SIGN, exe, "unsigned.exe"])
    copy = Path(OUT, "unsigned.exe").read_bytes()
    rep.check("no certificate", r.returncode == 0 and "NOT signed" in r.stdout and copy == original,
              "%s; the copy is %s" % (r.stdout.strip(), "the exe unchanged" if copy == original else "changed"))

    Path(OUT, "wrong-password.txt").write_text("not-the-password")
    r = run(["bash", SIGN, "--pkcs12", "signer.p12", "--password-file", "wrong-password.txt", exe,
             "wrong.exe"])
    rep.check("wrong password", r.returncode != 0 and not os.path.exists(os.path.join(OUT, "wrong.exe")),
              "sign.sh exit %d, %s" % (r.returncode, "no output" if not os.path.exists(
                  os.path.join(OUT, "wrong.exe")) else "an output was written"))

    r = run(["bash", SIGN, "--pkcs12", "signer.p12", "--password-file", "password.txt", exe, signed])
    print(r.stdout.strip())
    rep.check("signing", r.returncode == 0 and os.path.isfile(signed),
              "sign.sh exit %d%s" % (r.returncode, ", " + r.stderr.strip() if r.returncode else ""))
    if r.returncode != 0:
        print("%d passed, %d failed" % (rep.passed, rep.failed))
        return 1

    rc, out = verify(signed)
    print("\n".join("    " + line for line in key_lines(out)))
    rep.check("osslsigncode verify", rc == 0 and "Signature verification: ok" in out
              and "Subject: /CN=%s" % SIGNER in out,
              "exit %d against the throwaway CA" % rc)

    same = unsigned_bytes(signed) == without_checksum(original)
    rep.check("signature only", same,
              "but for its signature and PE checksum the signed copy is the exe, byte for byte" if same
              else "the signed copy differs from the exe beyond its signature and checksum")

    after = Path(exe).read_bytes()
    rep.check("input unchanged", after == original, "%s sha256 %s" % (
        os.path.relpath(exe, ROOT), hashlib.sha256(after).hexdigest()[:16]))

    for name in ("unsigned.exe", "wrong.exe", "ca.key", "signer.key", "signer.csr",
                 "signer.cnf", "signer.pem", "signer.p12", "password.txt", "wrong-password.txt", "ca.srl"):
        if os.path.exists(os.path.join(OUT, name)):
            os.remove(os.path.join(OUT, name))
    print("signed copy: %s" % os.path.relpath(signed, ROOT))
    print("%d passed, %d failed" % (rep.passed, rep.failed))
    return 1 if rep.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
