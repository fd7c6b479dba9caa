"""Signed releases, with a throwaway certificate authority made here: the
package workflow signs kelvane.exe, the uninstaller and the installer, each of
which verifies against the authority's root; the published detached signatures
rebuild the same release, byte for byte, from another copy of the source in
another folder; a missing or wrong key fails with a message and publishes
nothing. The uninstaller is checked as the installer writes it, under Wine."""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

import yaml

import wine_session
from image_test import build_copy, package, published

BUILD = Path(os.environ["KELVANE_BUILD"])
VERSION = os.environ["KELVANE_VERSION"]
SOURCE = Path(__file__).resolve().parent.parent
SETUP = f"kelvane-{VERSION}-setup.exe"
ZIP = f"kelvane-{VERSION}-win32.zip"


def openssl(*arguments, cwd):
    subprocess.run(["openssl", *arguments], cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def make_authority(folder):
    """A root, a code-signing certificate it issued with its key (PEM, and
    PKCS#12 with a password), and a key of no certificate."""
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "root.key", "-out", "root.pem",
            "-days", "30", "-subj", "/CN=kelvane test root", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out", "signer.csr",
            "-subj", "/CN=kelvane test signer", cwd=folder)
    (folder / "signer.ext").write_text("basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\n"
                                       "extendedKeyUsage=codeSigning\n")
    openssl("x509", "-req", "-in", "signer.csr", "-CA", "root.pem", "-CAkey", "root.key", "-CAcreateserial",
            "-out", "signer.pem", "-days", "30", "-extfile", "signer.ext", cwd=folder)
    openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem", "-out", "signer.p12",
            "-passout", "pass:open sesame", cwd=folder)
    openssl("genrsa", "-out", "other.key", "2048", cwd=folder)


def signing_environment(**variables):
    environment = {name: value for name, value in os.environ.items() if not name.startswith("KELVANE_SIGN")}
    environment.pop("KELVANE_TIMESTAMP_URL", None)
    environment.update(variables)
    return environment


def verifies(image, root):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", str(root), "-in", str(image)],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


class SignedRelease(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = Path(tempfile.mkdtemp())
        cls.keys = cls.work / "keys"
        cls.keys.mkdir()
        make_authority(cls.keys)
        cls.root = cls.keys / "root.pem"
        cls.first = cls.work / "first"
        cls.files = build_copy(cls.first, environment=signing_environment(
            KELVANE_SIGNING_CERTIFICATE=str(cls.keys / "signer.pem"), KELVANE_SIGNING_KEY=str(cls.keys / "signer.key")))
        cls.release = cls.work / "release"
        shutil.copytree(cls.first / "build" / "package", cls.release)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_signed_images_verify_and_a_flipped_byte_does_not(self):
        self.assertEqual(sorted(["signatures/kelvane.exe.sig", f"signatures/{SETUP}.sig", "signatures/uninstall.exe.sig"]),
                         sorted(name for name in self.files if name.startswith("signatures/")))
        run = subprocess.run(["bash", SOURCE / "scripts" / "verify-release.sh", self.release, self.root],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.assertEqual(0, run.returncode, run.stdout)
        self.assertIn(f"{SETUP}: signature verified", run.stdout)
        self.assertIn(f"kelvane.exe in {ZIP}: signature verified", run.stdout)
        # The signature is the only difference from the program built.
        signed = self.work / "signed-kelvane.exe"
        signed.write_bytes(self.zipped_program())
        subprocess.run(["osslsigncode", "remove-signature", "-in", signed, "-out", self.work / "unsigned.exe"],
                       check=True, stdout=subprocess.DEVNULL)
        self.assertEqual(self.files["kelvane.exe"], (self.work / "unsigned.exe").read_bytes())
        for image in (signed, self.release / SETUP):
            with self.subTest(image=image.name):
                flipped = self.work / f"flipped-{image.name}"
                data = bytearray(image.read_bytes())
                data[len(data) // 3] ^= 0x01
                flipped.write_bytes(bytes(data))
                self.assertTrue(verifies(image, self.root))
                self.assertFalse(verifies(flipped, self.root))

    def zipped_program(self):
        with zipfile.ZipFile(self.release / ZIP) as archive:
            return archive.read(f"kelvane-{VERSION}-win32/kelvane.exe")

    def test_uninstaller_as_the_installer_writes_it_verifies(self):
        session = wine_session.session_dir(BUILD)
        prefix = session / "signed-prefix"
        shutil.rmtree(prefix, ignore_errors=True)
        environment = wine_session.wine_env(session, json.loads((session / "session.json").read_text())["display"])
        environment["WINEPREFIX"] = str(prefix)
        try:
            subprocess.run(["wineboot", "--init"], env=environment, timeout=300, check=True, **wine_session.quiet())
            shutil.copyfile(self.release / SETUP, prefix / "drive_c" / "setup.exe")
            subprocess.run(["wine", "C:\\setup.exe", "/S", "/D=C:\\signed"], env=environment, timeout=300,
                           check=True, **wine_session.quiet())
            installed = prefix / "drive_c" / "signed"
            self.assertTrue(verifies(installed / "uninstall.exe", self.root))
            self.assertEqual(self.zipped_program(), (installed / "kelvane.exe").read_bytes())
        finally:
            subprocess.run(["wineserver", "-k"], env=environment, timeout=60, check=False)
            shutil.rmtree(prefix, ignore_errors=True)

    def test_rebuilt_with_the_signatures_byte_for_byte(self):
        # Another copy of the source, in another folder, without the key.
        rebuilt = build_copy(self.work / "second" / "elsewhere",
                             environment=signing_environment(KELVANE_SIGNATURES=str(self.release / "signatures")))
        self.assertEqual(sorted(self.files), sorted(rebuilt))
        for name in self.files:
            with self.subTest(name=name):
                self.assertEqual(hashlib.sha256(self.files[name]).hexdigest(),
                                 hashlib.sha256(rebuilt[name]).hexdigest())

    def test_manifests_take_the_signed_files_hashes(self):
        def sha256(name):
            return hashlib.sha256((self.release / name).read_bytes()).hexdigest()
        installer = yaml.safe_load((self.release / "winget" / "Tamrik.Kelvane.installer.yaml").read_text())
        scoop = json.loads((self.release / "scoop" / "kelvane.json").read_text())
        self.assertEqual(sha256(SETUP), installer["Installers"][0]["InstallerSha256"].lower())
        self.assertEqual(sha256(ZIP), scoop["hash"])
        self.assertEqual([f"{sha256(ZIP)}  {ZIP}", f"{sha256(SETUP)}  {SETUP}"],
                         (self.release / "SHA256SUMS").read_text().splitlines())

    def test_a_pkcs12_file_signs_and_a_missing_or_wrong_key_publishes_nothing(self):
        build = self.first / "build"
        keys = self.keys
        table = [
            (dict(KELVANE_SIGNING_CERTIFICATE=str(keys / "signer.p12"), KELVANE_SIGNING_PASSWORD="open sesame"),
             None),
            (dict(KELVANE_SIGNING_CERTIFICATE=str(keys / "signer.pem")), "KELVANE_SIGNING_KEY"),
            (dict(KELVANE_SIGNING_CERTIFICATE=str(keys / "signer.pem"), KELVANE_SIGNING_KEY=str(keys / "other.key")),
             "a key of another certificate"),
            (dict(KELVANE_SIGNING_CERTIFICATE=str(keys / "signer.p12"), KELVANE_SIGNING_PASSWORD="wrong"),
             "a wrong password"),
            (dict(KELVANE_SIGNING_CERTIFICATE=str(keys / "nowhere.pem")), "KELVANE_SIGNING_CERTIFICATE"),
            (dict(KELVANE_SIGNING_CERTIFICATE=str(keys / "signer.pem"), KELVANE_SIGNING_KEY=str(keys / "signer.key"),
                  KELVANE_TIMESTAMP_URL="http://127.0.0.1:9/"), "no timestamp from KELVANE_TIMESTAMP_URL"),
        ]
        for variables, failure in table:
            with self.subTest(variables=sorted(variables), failure=failure):
                run = package(build, signing_environment(**variables))
                if failure is None:
                    self.assertEqual(0, run.returncode, run.stdout)
                    self.assertTrue(verifies(build / "package" / SETUP, self.root))
                    self.assertEqual(sorted(self.files), sorted(published(build)))
                else:
                    # CMake folds a message's lines wherever a word ends.
                    said = " ".join(run.stdout.split())
                    self.assertNotEqual(0, run.returncode)
                    self.assertIn("Signing the release failed, and nothing was published", said)
                    self.assertIn(failure, said)
                    self.assertFalse((build / "package").exists())


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[1:]], verbosity=2)
