"""Release channels: launcher_content.exe follows live, takes "--channel NAME" out of its
arguments, keeps the choice for later starts, goes down a version when the player switches to
a channel whose newest release is older, and refuses a channel the server does not have."""
import os
import re

import harness
from test_content_patching import client_files, content_run, game_files, write_tree
from test_fault_matrix import READY, shows

import sys
sys.path.insert(0, str(harness.ROOT / "tools"))
import patch_signing  # noqa: E402
import publish_patch  # noqa: E402

KEY = harness.BUILD / "test-signing" / "signing.key"
SIZES = (1024, 4096, 16384)
MISSING = "서버에 [{}] 채널이 없습니다. [{}] 채널을 유지합니다."


def kept_values():
    """{name: text} of the installation key's values as the test prefix's registry holds them
    (a REG_QWORD's as its hex(b) bytes)."""
    text = harness.installation_key_text("channels")
    return dict(re.findall(r'^"([^"]+)"=(.*?)\r?$', text, re.M))


def channel_fetches(server, mark):
    return {r["path"].split("?")[0].rsplit("/", 1)[1] if "/channels/" not in r["path"]
            else "channels/" + r["path"].split("/channels/")[1].split("?")[0]
            for r in server.requests_since(mark) if "LauncherPatchInfo" in r["path"]}


def test_players_switch_channels_each_way_and_an_unknown_one_changes_nothing(launcher, server, folder):
    live, beta = game_files(1), dict(game_files(1), **{"data/maps/a.map": os.urandom(50000)})
    for version, files, channel in ((10001, live, "live"), (10002, beta, "beta")):
        write_tree(folder / "clients" / str(version), files)
        publish_patch.publish_content(folder / "clients" / str(version), version, server.root, sizes=SIZES,
                                      level=3, channel=channel)
    patch_signing.sign_folder(server.root, KEY)
    run = content_run(launcher, {}, None)

    def start(*args, expect):
        mark = server.log_mark()
        run.start(*args)
        assert shows(run.origin(), expect, timeout=60)
        run.stop()
        return channel_fetches(server, mark)

    # A player on live, as without channels.
    assert start(expect=READY.format(10001)) == {"LauncherPatchInfo.txt", "LauncherPatchInfo.manifest",
                                                 "LauncherPatchInfo.manifest.sig"}
    assert client_files(run.folder) == live and "ContentChannel" not in kept_values()
    # On beta from then on: the choice and its own floor are kept, live's floor is not raised.
    floor = kept_values()["ManifestSequence"]
    assert "channels/beta/LauncherPatchInfo.txt" in start("--channel", "beta", expect=READY.format(10002))
    assert client_files(run.folder) == beta and run.version() == 10002
    values = kept_values()
    assert values["ContentChannel"] == '"beta"' and "ManifestSequence.beta" in values
    assert values["ManifestSequence"] == floor
    assert "channels/beta/LauncherPatchInfo.txt" in start(expect=READY.format(10002))
    # A channel the server does not have: its text, and the player stays where he was.
    refused = start("--channel", "nope", expect=MISSING.format("nope", "beta"))
    assert "channels/nope/LauncherPatchInfo.manifest" in refused
    assert client_files(run.folder) == beta and run.version() == 10002
    assert kept_values()["ContentChannel"] == '"beta"'
    # Back to live: down a version, by the player's own choice.
    assert "LauncherPatchInfo.txt" in start("--channel", "live", expect=READY.format(10001))
    assert client_files(run.folder) == live and run.version() == 10001
    assert kept_values()["ContentChannel"] == '"live"'
