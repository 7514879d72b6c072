"""The launcher's fetch of the patch information at start, against the real HTTPS server."""
import time

import harness
from harness import wait_until

INFO = harness.INFO_HEAD + "10203\n"


def test_start_fetches_stores_and_parses_the_patch_information(launcher, server):
    server.put("LauncherPatchInfo.txt", INFO)
    run = launcher()
    run.write_config(10203)
    mark = server.log_mark()
    run.start()
    origin = run.origin()
    # The fetched text says 10203 is the newest client: ready, start button enabled.
    assert wait_until(lambda: harness.start_button_look(harness.screenshot(), origin) == "enabled", timeout=10)
    assert (run.folder / "update.dat").read_text() == INFO
    requests = server.requests_since(mark)
    info = [r for r in requests if r["path"].endswith("/LauncherPatchInfo.txt")]
    assert [r["method"] for r in info] == ["HEAD", "GET"]
    for r in info:
        assert r["agent"] == "downslib"
        assert r["query"].startswith("tick=") and r["query"][5:].isdigit()
        assert "Range" not in r["headers"] and "range" not in r["headers"]
        assert not r.get("body_length")


def test_server_down_shows_unreachable_but_an_old_copy_naming_the_version_ends_ready(launcher, server):
    run = launcher()
    run.write_config(10203)
    (run.folder / "update.dat").write_text(INFO)
    server.stop_main()
    try:
        run.start()
        origin = run.origin()
        assert wait_until(lambda: harness.start_button_look(harness.screenshot(), origin) == "enabled", timeout=20)
    finally:
        run.stop()
        server.start_main()
    assert (run.folder / "update.dat").read_text() == INFO  # the old copy is kept


def test_server_down_with_a_pending_step_fails_its_download_visibly(launcher, server):
    run = launcher()
    run.write_config(10203)
    (run.folder / "update.dat").write_text(INFO.replace("10203\n", "10203\n10204 a.zip\n"))
    server.stop_main()
    try:
        run.start()
        origin = run.origin()
        assert wait_until(lambda: harness.status_line_shows(harness.screenshot(), origin,
                                                            "Downloading failed - open (a.zip)"), timeout=30)
        assert harness.start_button_look(harness.screenshot(), origin) == "disabled"
        assert run.running()
    finally:
        run.stop()
        server.start_main()
    assert run.version() == 10203


def test_server_down_without_a_copy_asks_for_the_installation_client(launcher, server):
    run = launcher()
    run.write_config(10203)
    server.stop_main()
    try:
        run.start()
        origin = run.origin()
        # Nothing names a client version: the series differ, so the launcher asks for a new
        # installation client, start button disabled.
        assert wait_until(lambda: harness.status_line_shows(harness.screenshot(), origin,
                                                            "인스톨용 클라이언트를 다시 받아주세요."), timeout=20)
        assert harness.start_button_look(harness.screenshot(), origin) == "disabled"
    finally:
        run.stop()
        server.start_main()
