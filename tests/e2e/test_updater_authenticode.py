"""The Updater built for an Authenticode publisher (signed/Updater.exe: the keyed Updater with the
build tree's test publisher, itself signed as it linked) under Wine: after the signed manifest it
starts only a launcher whose signature is whole, chains to a trusted root and names the
publisher's key; each refusal leaves the folder as it was. The build tree's test root
(cmake/authenticode_tests.cmake) is trusted in the prefix while this file runs."""
import hashlib
import shutil
import sys
import time

import pytest

import harness
from harness import BASE_URL, BUILD, wait_until
from test_updater import (DONE, NEW, ends, game_folder, ready_launcher_window, start_updater,  # noqa: F401
                          temporaries)
from test_updater_signing import INSTALLER, KEY, KEYED_LAUNCHER, NOT_VERIFIED, flip_a_byte, listed_launcher

sys.path.insert(0, str(harness.ROOT / "tools"))
import patch_signing  # noqa: E402
import publish_patch  # noqa: E402

PKI = BUILD / "test-authenticode"
SIGNED_UPDATER = BUILD / "signed" / "Updater.exe"
SIGNED = BUILD / "signed"
UNSIGNED = BUILD / "keyed" / "next" / "launcher.exe"


@pytest.fixture(scope="module", autouse=True)
def trusted_test_root():
    """The test root in the prefix's machine ROOT store, taken out again by its thumbprint."""
    if not SIGNED_UPDATER.exists():
        pytest.skip("no signed test programs in this build (osslsigncode missing at configure time)")
    der = PKI / "root.der"
    result = harness.run_wine([BUILD / "import_root_ca.exe", harness.windows_path(der)], timeout=45)
    assert result.returncode == 0, result.stderr.decode("utf-8", "replace")
    yield
    thumbprint = hashlib.sha1(der.read_bytes()).hexdigest().upper()
    harness.reg("delete", rf"HKLM\Software\Microsoft\SystemCertificates\ROOT\Certificates\{thumbprint}", "/f")


def signed_folder(launcher, server, published):
    """The keyed launcher 1.1.1.24 with the signed Updater beside it; `published` served as the
    next launcher in a folder signed afterwards, so that the manifest vouches for it."""
    run = game_folder(launcher, server)
    shutil.copy2(KEYED_LAUNCHER, run.folder / "launcher.exe")
    shutil.copy2(SIGNED_UPDATER, run.folder / "Updater.exe")
    publish_patch.place_file(published, server.root / listed_launcher())
    return run


def test_a_signed_updater_installs_the_publishers_launcher(launcher, server, ends):
    run = signed_folder(launcher, server, SIGNED / "publisher" / "launcher.exe")
    patch_signing.sign_folder(server.root, KEY)
    updater = start_updater(run.folder, "Launcher", 0, NEW, BASE_URL)
    assert updater.wait(60) == DONE
    ready_launcher_window()
    assert (run.folder / "launcher.exe").read_bytes() == (SIGNED / "publisher" / "launcher.exe").read_bytes()


def changed_after_signing(server):
    """A byte of the publisher's launcher changed, then the folder signed: the manifest vouches
    for the changed file, the Authenticode digest does not."""
    flip_a_byte(server.root / listed_launcher())


NOT_VALID = "its Authenticode signature is not valid: "
REFUSALS = {
    # name: (the launcher published, how it is spoiled before the folder is signed, words)
    "another-publisher": (SIGNED / "other" / "launcher.exe", None,
                          'it is signed by "QOR Launcher Test Another Publisher", not by the publisher '
                          "this Updater was built for"),
    "unsigned": (UNSIGNED, None, NOT_VALID + "the file is not signed (0x800B0100)"),
    # The publisher's own key, certified by a root the machine does not trust.
    "untrusted-root": (SIGNED / "untrusted" / "launcher.exe", None,
                       NOT_VALID + "its certificate does not chain to a trusted root (0x800B0109)"),
    "changed-after-signing": (SIGNED / "publisher" / "launcher.exe", changed_after_signing,
                              NOT_VALID + "the file was changed after it was signed (0x80096010)"),
}


@pytest.mark.parametrize("kind", sorted(REFUSALS))
def test_a_signed_updater_refuses_what_its_publisher_did_not_sign(launcher, server, ends, kind):
    published, spoil, words = REFUSALS[kind]
    run = signed_folder(launcher, server, published)
    if spoil:
        spoil(server)
    patch_signing.sign_folder(server.root, KEY)
    kept = sorted((p.name, p.read_bytes()) for p in run.folder.iterdir())
    updater = start_updater(run.folder, "Launcher", 0, NEW, BASE_URL)
    box = harness.probe_box("Updater", timeout_ms=30000)
    assert box["found"], "no box from the Updater"
    assert "The new launcher.exe was refused, because " + words in box["text"], box["text"]
    assert "Nothing was changed" in box["text"]
    assert updater.wait(30) == NOT_VERIFIED
    assert sorted((p.name, p.read_bytes()) for p in run.folder.iterdir()) == kept
    assert not harness.find_windows()  # no launcher was started


@pytest.mark.parametrize("signed", [True, False], ids=["publishers", "unsigned"])
def test_a_signed_updater_starts_only_the_publishers_installer(launcher, server, ends, signed):
    run = signed_folder(launcher, server, SIGNED / "publisher" / "launcher.exe")
    program = SIGNED / "publisher" / "stand_in.exe" if signed else BUILD / "stand_in.exe"
    installer = server.put(f"Installer/{INSTALLER}/QOR_Installer.exe", program.read_bytes())
    patch_signing.sign_folder(server.root, KEY)
    updater = start_updater(run.folder, "Installer", 0, INSTALLER, BASE_URL)
    if signed:
        assert updater.wait(60) == DONE
        assert wait_until(lambda: run.started_record("QOR_Installer.exe"), timeout=60), "the installer was not started"
        assert (run.folder / "QOR_Installer.exe").read_bytes() == installer.read_bytes()
        return
    box = harness.probe_box("Updater", timeout_ms=30000)
    assert box["found"] and "The new QOR_Installer.exe was refused, because " + NOT_VALID in box["text"], box
    assert updater.wait(30) == NOT_VERIFIED
    time.sleep(2)  # a started installer would have written its record by now
    assert run.started_record("QOR_Installer.exe") is None
    assert not (run.folder / "QOR_Installer.exe").exists() and temporaries(run.folder) == []
