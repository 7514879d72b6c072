"""content-plan's model of what the launcher reads from the player's folder: only the paths of
the two releases, an old file deleted in the way of a new path never, and a file rebuilt earlier
in the run only through the bytes saved in memory before it, up to the launcher's bound."""
import random
import sys
from concurrent.futures import ThreadPoolExecutor

from tool_support import ROOT, tree

sys.path.insert(0, str(ROOT / "tools"))
import content_plan  # noqa: E402
import publish_patch  # noqa: E402

SIZES = (1024, 4096, 16384)


def publish(tmp_path, releases):
    for version, files in releases:
        tree(tmp_path / str(version), files)
        publish_patch.publish_content(tmp_path / str(version), version, tmp_path / "out", sizes=SIZES, level=3,
                                      delta_releases=0)
    return tmp_path / "out"


def planned(client, out, version, installed):
    with ThreadPoolExecutor(1) as executor:
        return content_plan.plan(client, out, version, executor, installed=installed)


def test_what_the_launcher_never_reads_is_fetched(tmp_path):
    rng = random.Random(7)
    old, moved = rng.randbytes(30000), rng.randbytes(30000)
    # "data" and "a" of 10001 become folders in 10002, their bytes moved below them.
    out = publish(tmp_path, [(10001, {"data": old, "a": moved, "keep.bin": b"k" * 5000}),
                             (10002, {"data/x.bin": old, "a/y.bin": moved, "keep.bin": b"k" * 5000})])
    client = tree(tmp_path / "player", {"data": old, "a": moved, "keep.bin": b"k" * 5000,
                                        "screenshots/copy.bin": old})
    plan = planned(client, out, 10002, 10001)
    entries = {f["path"]: f for f in plan["files"]}
    assert entries["data/x.bin"]["reused_chunks"] == entries["a/y.bin"]["reused_chunks"] == 0
    assert plan["saved_chunks"] == 0 and plan["ideal_bytes"] >= len(old) + len(moved)
    assert plan["delete"] == ["a", "data"] and entries["keep.bin"]["status"] == "unchanged"


def test_files_trading_contents_save_up_to_the_bound_then_fetch(tmp_path, monkeypatch):
    rng = random.Random(8)
    a, b = rng.randbytes(60000), rng.randbytes(60000)
    out = publish(tmp_path, [(10001, {"a.pak": a, "b.pak": b}), (10002, {"a.pak": b, "b.pak": a})])
    client = tree(tmp_path / "player", {"a.pak": a, "b.pak": b})
    whole = planned(client, out, 10002, 10001)
    assert whole["saved_bytes"] == len(a) and whole["fetch_bytes"] == 0
    monkeypatch.setattr(content_plan, "SAVE_BOUND", len(a) // 2)
    half = planned(client, out, 10002, 10001)
    b_entry = {f["path"]: f for f in half["files"]}["b.pak"]
    assert 0 < half["saved_bytes"] <= len(a) // 2
    assert half["saved_bytes"] + b_entry["fetched_bytes"] == len(a) and half["fetch_bytes"] > 0
