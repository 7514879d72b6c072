"""A staged rollout in a channel's signed patch information: published with `content --rollout`,
widened, halted and completed with `rollout --to`, ended by the next full release."""
import random
import sys
from pathlib import Path

from tool_support import run, tree

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import patch_signing  # noqa: E402

FAST = ["--level", "3", "--launcher-version", "1.1.1.24", "--delta-releases", "0", "--chunk-sizes", "1K,4K,16K"]


def test_a_rollout_is_published_widened_halted_completed_and_ended(tmp_path):
    rng = random.Random(28)
    key, public = tmp_path / "signing.key", tmp_path / "signing.pub"
    patch_signing.keygen(key, public)
    out = tmp_path / "patches"
    info = out / "channels" / "beta" / "LauncherPatchInfo.txt"
    clients = [tree(tmp_path / f"v{i}", {"data/a.pak": rng.randbytes(20000)}) for i in range(3)]

    def publish(index, *extra):
        return run("content", "--new", clients[index], "--version", 10001 + index, "--channel", "beta",
                   "--out", out, "--sign-key", key, *FAST, *extra)

    def rollout(percent):
        return run("rollout", "--channel", "beta", "--to", percent, "--out", out, "--sign-key", key)

    assert publish(0).returncode == 0
    result = publish(1, "--rollout", "25")
    assert result.returncode == 0, result.stderr
    assert "rolled out to 25%" in result.stdout
    text = info.read_text()
    assert text.startswith("[ROLLOUT]\n10002 25\n[INSTALLER]\n") and text.split()[-2:] == ["10001", "10002"]
    for percent, line in ((50, "10002 50"), (0, "10002 0")):
        result = rollout(percent)
        assert result.returncode == 0, result.stderr
        assert info.read_text().splitlines()[1] == line
    assert "halted" in result.stdout
    assert patch_signing.read_manifest(out, "beta")[2][b"LauncherPatchInfo.txt"][0] == len(info.read_bytes())
    assert run("verify", out, "--public-key", public).returncode == 0
    assert rollout(100).returncode == 0 and not info.read_text().startswith("[ROLLOUT]")
    refused = rollout(10)
    assert refused.returncode == 1 and "no rollout under way" in refused.stderr
    for bad in (["--rollout", "101"], ["--rollout", "50", "--old", clients[1]]):
        refused = run("content", "--new", clients[2], "--version", 10003, "--out", out, *FAST, *bad)
        assert refused.returncode == 1 and "--" in refused.stderr, refused.stderr
    assert publish(2, "--rollout", "5").returncode == 0
    assert info.read_text().startswith("[ROLLOUT]\n10003 5\n")
    # The next full release ends the rollout under way.
    clients.append(tree(tmp_path / "v3", {"data/a.pak": rng.randbytes(20000)}))
    assert publish(3).returncode == 0 and not info.read_text().startswith("[ROLLOUT]")
