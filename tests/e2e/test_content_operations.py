"""Release operations seen by launcher_content.exe: a rollback brings a player on the newest
release to the older content fetching only what differs, and after a prune a player on a
removed release, and an empty folder, still reach the newest."""
import os

from test_content_patching import KEY, client_files, content_run, publish, ranges
from test_fault_matrix import READY, shows

import content_operations  # noqa: E402
import content_release  # noqa: E402  (tools/ is on the path through test_content_patching)
import patch_signing  # noqa: E402
import publish_patch  # noqa: E402


def clients():
    v1 = {"Brevanta.exe": os.urandom(30000), "data/base.pak": os.urandom(200000), "data/old.txt": b"1" * 5000}
    v2 = dict(v1, **{"data/base.pak": v1["data/base.pak"][:100000] + os.urandom(30000) + v1["data/base.pak"][130000:]})
    del v2["data/old.txt"]
    return v1, v2


def test_a_rollback_brings_the_old_content_back_fetching_only_what_differs(launcher, server, folder):
    v1, v2 = clients()
    publish(server, folder, [(10001, v1), (10002, v2)])
    run = content_run(launcher, v2, 10002)
    run.start()
    assert shows(run.origin(), READY.format(10002), timeout=90)
    run.stop()
    summary = publish_patch.rollback_content(server.root, 10001, 10003, launcher="1.1.1.24")
    patch_signing.sign_folder(server.root, KEY)
    assert not (server.root / "Content" / "packs" / "10003-0.pack").exists()
    mark = server.log_mark()
    run.start()
    assert shows(run.origin(), READY.format(10003), timeout=90)
    run.stop()
    assert client_files(run.folder) == v1 and run.version() == 10003
    fetched = ranges(server, mark)
    # base.pak's old middle and old.txt, from 10001's pack: what the tool said, never the whole client.
    assert fetched and {name for name, _, _ in fetched} == {"10001-0.pack"}, fetched
    total = sum(last - first + 1 for _, first, last in fetched)
    assert summary["ideal_bytes"] <= total <= summary["fetch_bytes"], (total, summary)
    # Where the chunker cuts random data decides how far the chunks around the changed middle
    # reach; never as far as base.pak whole.
    assert total < len(v1["data/base.pak"]), (total, summary)


def test_after_a_prune_a_removed_release_and_an_empty_folder_reach_the_newest(launcher, server, folder):
    v1, v2 = clients()
    # 10003 replaces the middle 10002 brought: nothing of 10002's pack is needed any more.
    v3 = dict(v2, **{"data/base.pak": v1["data/base.pak"][:100000] + os.urandom(30000) + v1["data/base.pak"][130000:],
                     "data/maps/new.map": os.urandom(20000)})
    publish(server, folder, [(10001, v1)])
    old = content_run(launcher, {}, None)
    old.start()
    assert shows(old.origin(), READY.format(10001), timeout=90)
    old.stop()
    publish(server, folder, [(10002, v2), (10003, v3)])
    result = content_operations.prune(server.root, 1, 0, publish_patch.channel_lines(server.root))
    patch_signing.sign_folder(server.root, KEY)
    # Whether a chunk of 10002's pack is still 10003's depends on where the chunker cut the random
    # middles: the packs left are exactly those the kept release names.
    kept = content_release.parse((server.root / "Content" / "releases" / "10003.release").read_bytes())
    named = {f"{r}-{i}.pack" for r, i, _ in kept.packs}
    assert result["removed"] and {"Content/releases/10001.release", "Content/releases/10002.release"} <= set(
        result["removed_files"])
    assert {p.name for p in (server.root / "Content" / "packs").iterdir()} == named
    assert sorted(p.name for p in (server.root / "Content" / "releases").iterdir()) == ["10003.release"]
    for run in (old, content_run(launcher, {}, None)):
        run.start()
        assert shows(run.origin(), READY.format(10003), timeout=90)
        run.stop()
        assert client_files(run.folder) == v3 and run.version() == 10003
