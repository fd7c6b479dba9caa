"""The winget and Scoop manifests the package workflow writes: valid against
the published schemas (packaging/schemas/, offline), consistent across winget's
three files as winget requires, and naming the very packages built beside them."""
import hashlib
import json
import os
import re
import sys
import unittest
from pathlib import Path

import jsonschema
import yaml

SOURCE = Path(__file__).resolve().parent.parent
SCHEMAS = SOURCE / "packaging" / "schemas"
PACKAGES = Path(os.environ["KELVANE_PACKAGES"])
VERSION = os.environ["KELVANE_VERSION"]
HOMEPAGE = "https://github.com/tamrik/kelvane"
SETUP = f"kelvane-{VERSION}-setup.exe"
ZIP = f"kelvane-{VERSION}-win32.zip"
WINGET = {"version": "Tamrik.Kelvane.yaml", "defaultLocale": "Tamrik.Kelvane.locale.en-US.yaml",
          "installer": "Tamrik.Kelvane.installer.yaml"}


def sha256(name):
    return hashlib.sha256((PACKAGES / name).read_bytes()).hexdigest()


def validate(document, schema_name):
    schema = json.loads((SCHEMAS / schema_name).read_text("utf-8"))
    jsonschema.Draft7Validator(schema).validate(document)


class Winget(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.texts = {kind: (PACKAGES / "winget" / name).read_text("utf-8") for kind, name in WINGET.items()}
        cls.manifests = {kind: yaml.safe_load(text) for kind, text in cls.texts.items()}

    def test_each_file_is_valid_against_its_schema(self):
        for kind, manifest in self.manifests.items():
            with self.subTest(kind=kind):
                validate(manifest, f"manifest.{kind}.1.10.0.json")
                self.assertEqual(kind, manifest["ManifestType"])
                self.assertEqual("1.10.0", manifest["ManifestVersion"])
                self.assertTrue(self.texts[kind].startswith(
                    f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{kind}.1.10.0.schema.json\n"))

    def test_files_agree_as_winget_requires(self):
        for key in ("PackageIdentifier", "PackageVersion"):
            with self.subTest(key=key):
                self.assertEqual(1, len({m[key] for m in self.manifests.values()}))
        self.assertEqual("Tamrik.Kelvane", self.manifests["version"]["PackageIdentifier"])
        self.assertEqual(VERSION, self.manifests["version"]["PackageVersion"])
        self.assertEqual(self.manifests["version"]["DefaultLocale"],
                         self.manifests["defaultLocale"]["PackageLocale"])

    def test_installer_is_the_built_one(self):
        installer = self.manifests["installer"]
        self.assertEqual(("nullsoft", "user", "elevationProhibited"),
                         (installer["InstallerType"], installer["Scope"], installer["ElevationRequirement"]))
        (entry,) = installer["Installers"]
        self.assertEqual("x86", entry["Architecture"])
        self.assertEqual(sha256(SETUP), entry["InstallerSha256"].lower())
        self.assertEqual(f"{HOMEPAGE}/releases/download/v{VERSION}/{SETUP}", entry["InstallerUrl"])
        self.assertEqual("kelvane", installer["ProductCode"])

    def test_setups_own_exit_codes_are_mapped(self):
        # kelvane running; a folder that holds what is not kelvane's; a
        # location refused (no full path, a '%', too deep).
        codes = {entry["InstallerReturnCode"]: entry["ReturnResponse"]
                 for entry in self.manifests["installer"]["ExpectedReturnCodes"]}
        self.assertEqual({2: "packageInUse", 3: "custom", 4: "invalidParameter", 5: "invalidParameter",
                          6: "invalidParameter"}, codes)
        for entry in self.manifests["installer"]["ExpectedReturnCodes"][1:]:
            self.assertEqual(f"{HOMEPAGE}#install", entry["ReturnResponseUrl"])

    def test_no_field_repeats_a_default(self):
        # nullsoft's switches, every install mode, upgrading by installing, and
        # an Apps & features entry that says what the manifest says.
        installer = self.manifests["installer"]
        for field in ("InstallerSwitches", "InstallModes", "UpgradeBehavior", "AppsAndFeaturesEntries"):
            with self.subTest(field=field):
                self.assertNotIn(field, installer)

    def test_locale_has_what_reviewers_ask_for(self):
        locale = self.manifests["defaultLocale"]
        self.assertEqual({"Moniker": "kelvane", "PublisherUrl": "https://github.com/tamrik",
                          "PublisherSupportUrl": f"{HOMEPAGE}/issues", "PackageUrl": HOMEPAGE,
                          "LicenseUrl": f"{HOMEPAGE}/blob/main/LICENSE"},
                         {key: locale.get(key) for key in ("Moniker", "PublisherUrl", "PublisherSupportUrl",
                                                           "PackageUrl", "LicenseUrl")})


class Scoop(unittest.TestCase):
    def test_manifest_is_valid_and_names_the_built_zip(self):
        manifest = json.loads((PACKAGES / "scoop" / "kelvane.json").read_text("utf-8"))
        validate(manifest, "scoop.schema.json")
        self.assertEqual(VERSION, manifest["version"])
        self.assertEqual(sha256(ZIP), manifest["hash"])
        self.assertEqual(f"{HOMEPAGE}/releases/download/v{VERSION}/{ZIP}", manifest["url"])
        self.assertEqual(f"kelvane-{VERSION}-win32", manifest["extract_dir"])
        self.assertEqual("kelvane.exe", manifest["bin"])
        # The Explorer verbs are only offered, never merged by the install, and
        # taken away by an uninstall but not by an update.
        self.assertNotIn("reg import", "\n".join(manifest["post_install"]))
        self.assertIn("reg import", "\n".join(manifest["notes"]))
        uninstaller = "\n".join(manifest["uninstaller"]["script"])
        self.assertIn("if ($cmd -eq 'uninstall')", uninstaller)
        self.assertIn('uninstall-context.reg', uninstaller)
        # The same verbs as the installer's.
        post_install = "\n".join(manifest["post_install"])
        for text in ("'Open conso&le here'", "'Open console &here as administrator'", "NoWorkingDirectory"):
            self.assertIn(text, post_install)
        # --global writes the machine's classes.
        self.assertIn("if ($global) { 'HKEY_LOCAL_MACHINE' } else { 'HKEY_CURRENT_USER' }",
                      "\n".join(manifest["post_install"]))

    def test_autoupdate_finds_the_next_release_and_its_published_hash(self):
        manifest = json.loads((PACKAGES / "scoop" / "kelvane.json").read_text("utf-8"))
        self.assertEqual({"github": HOMEPAGE}, manifest["checkver"])
        autoupdate = manifest["autoupdate"]
        # Filled with this release's version, it names this release's zip.
        self.assertEqual(manifest["url"], autoupdate["url"].replace("$version", VERSION))
        self.assertEqual(manifest["extract_dir"], autoupdate["extract_dir"].replace("$version", VERSION))
        self.assertEqual({"url": "$baseurl/SHA256SUMS"}, autoupdate["hash"])
        self.assertIn(f"{manifest['hash']}  {ZIP}", (PACKAGES / "SHA256SUMS").read_text().splitlines())


class Templates(unittest.TestCase):
    def test_no_hash_or_address_is_committed_by_hand(self):
        templates = [*(SOURCE / "packaging" / "winget").iterdir(), *(SOURCE / "packaging" / "scoop").iterdir()]
        self.assertEqual(4, len(templates))
        for template in templates:
            with self.subTest(template=template.name):
                text = template.read_text("utf-8")
                self.assertIsNone(re.search(r"[0-9a-fA-F]{64}", text))
                self.assertIsNone(re.search(r"https?://(?!aka\.ms/winget-manifest)", text))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[1:]], verbosity=2)
