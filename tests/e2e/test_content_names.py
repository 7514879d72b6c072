"""Names in content mode as NTFS compares them: a rename that only changes letter case beyond
ASCII keeps the file, and a release naming a component shaped like an 8.3 alias is refused
before anything in the folder changes."""
import dataclasses
import sys

import harness
from test_content_patching import CONTENT, KEY, RELEASE_FAILED, SIZES, client_files, content_run, write_tree
from test_fault_matrix import READY, shows, watched_outside

sys.path.insert(0, str(harness.ROOT / "tools"))
import content_paths  # noqa: E402
import content_release  # noqa: E402
import patch_signing  # noqa: E402
import publish_patch  # noqa: E402

OLD_NAME = "übung/Ärger.pk3"
NEW_NAME = "übung/ärger.pk3"


def publish(server, folder, version, files):
    write_tree(folder / "clients" / str(version), files)
    publish_patch.publish_content(folder / "clients" / str(version), version, server.root, sizes=SIZES, level=3)
    patch_signing.sign_folder(server.root, KEY)


def named_alike(files, name):
    """{path: bytes} of the files whose names NTFS takes for name."""
    return {path: data for path, data in files.items() if content_paths.fold(path) == content_paths.fold(name)}


def test_a_rename_that_changes_only_the_case_of_a_non_ascii_letter_keeps_the_file(launcher, server, folder):
    v1 = {"Brevanta.exe": b"MZ" * 4000, OLD_NAME: b"old bytes " * 3000}
    v2 = {"Brevanta.exe": v1["Brevanta.exe"], NEW_NAME: b"new bytes " * 3000}
    publish(server, folder, 10001, v1)
    run = content_run(launcher, {}, None)
    run.start()
    assert shows(run.origin(), READY.format(10001), timeout=60)
    run.stop()
    publish(server, folder, 10002, v2)
    run.start()
    # The old name is the new file's on NTFS: deleting it as "dropped" would delete the new file.
    assert shows(run.origin(), READY.format(10002), timeout=60)
    run.stop()
    assert run.version() == 10002
    now = client_files(run.folder)
    assert list(named_alike(now, NEW_NAME).values()) == [v2[NEW_NAME]], sorted(now)


def test_a_release_naming_a_short_alias_is_refused_and_nothing_changes(launcher, server, folder):
    v1 = {"Brevanta.exe": b"MZ" * 4000, "Data Files/x": b"the installed bytes " * 500}
    publish(server, folder, 10002, dict(v1, **{"Data Files/x": b"other bytes " * 800}))
    # Written past the publisher, which refuses the name: the alias NTFS gives "Data Files".
    path = server.root / "Content" / "releases" / "10002.release"
    release = content_release.parse(path.read_bytes(), 10002)
    files = sorted((f._replace(path=b"DATAFI~1/x") if f.path == b"Data Files/x" else f
                    for f in release.files), key=lambda f: f.path)
    path.write_bytes(content_release.encode(dataclasses.replace(release, files=tuple(files))))
    patch_signing.sign_folder(server.root, KEY)
    run = content_run(launcher, v1, 10001)
    before = {p.relative_to(run.folder): p.read_bytes() for p in run.folder.rglob("*") if p.is_file()}
    with watched_outside(run):
        run.start()
        assert shows(run.origin(), RELEASE_FAILED.format("Content/releases/10002.release"), timeout=60)
        run.stop()
    after = {p.relative_to(run.folder): p.read_bytes() for p in run.folder.rglob("*") if p.is_file()}
    # Only what every start writes before it reads a release: the patch information and its
    # signature, and the version record written again (its bytes differ each time).
    def lasting(files):
        return {k: v for k, v in files.items() if str(k) != "config" and not str(k).startswith("update.")}
    assert lasting(after) == lasting(before)
    assert run.version() == 10001
