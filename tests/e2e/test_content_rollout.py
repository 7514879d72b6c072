"""A staged rollout seen by launcher_content.exe: installs whose kept bucket is below the
percentage take the new release, the others are held on (or brought to) the one before it; a
halt moves nobody back, and completing it brings everyone."""
import os

import harness
from test_content_patching import CONTENT, KEY, SIZES, client_files, game_files, write_tree
from test_fault_matrix import READY, shows

import patch_signing  # noqa: E402  (tools/, put on the path by test_content_patching)
import publish_patch  # noqa: E402



def publish(server, folder, version, files, rollout=100):
    write_tree(folder / "clients" / str(version), files)
    publish_patch.publish_content(folder / "clients" / str(version), version, server.root, sizes=SIZES, level=3,
                                  rollout=rollout)
    patch_signing.sign_folder(server.root, KEY)


def set_rollout(server, percent):
    import content_rollout
    info = server.root / "LauncherPatchInfo.txt"
    text = info.read_text(encoding="latin-1")
    info.write_text(content_rollout.with_rollout(text, content_rollout.read(text)[0], percent), encoding="latin-1")
    patch_signing.sign_folder(server.root, KEY)


def test_a_rollout_reaches_the_buckets_below_it_a_halt_moves_nobody_and_completing_brings_all(launcher, server,
                                                                                               folder):
    v1 = game_files(28)
    v2 = dict(v1, **{"data/maps/a.map": os.urandom(40000)})
    publish(server, folder, 10001, v1)
    publish(server, folder, 10002, v2, rollout=50)
    players = {}

    def start(name, bucket, expect, files):
        if name not in players:
            players[name] = launcher(name, CONTENT)
            write_tree(players[name].folder, v1)
            players[name].write_config(10001)
        run = players[name]
        harness.reg("add", harness.INSTALLER_KEY, "/v", "ContentBucket", "/t", "REG_DWORD", "/d", str(bucket), "/f")
        run.start()
        assert shows(run.origin(), READY.format(expect), timeout=60), (name, bucket, expect)
        run.stop()
        assert client_files(run.folder) == files and run.version() == expect

    try:
        start("inside", 49, 10002, v2)
        start("outside", 50, 10001, v1)  # held back: nothing fetched, nothing recorded
        set_rollout(server, 0)           # halted
        start("inside", 0, 10002, v2)    # stays: never back
        start("outside", 0, 10001, v1)
        set_rollout(server, 100)         # complete
        start("outside", 99, 10002, v2)
    finally:
        harness.reg("delete", harness.INSTALLER_KEY, "/v", "ContentBucket", "/f")
