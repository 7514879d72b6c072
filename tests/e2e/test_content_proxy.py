"""Content patching through the system's proxy: the prefix's Internet settings name a real
tinyproxy on 127.0.0.1, and launcher_content.exe brings a client to the newest release with
every connection it opens tunnelled through that proxy."""
import os
import re
import shutil
import signal
import socket
import subprocess

import pytest

import harness
from test_content_patching import client_files, content_run, publish, versions_four
from test_fault_matrix import READY, no_partial_files, shows, wait_until

SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
# The helper port beside the test server's own, so parallel runs on other ports never meet.
PROXY_PORT = harness.PORT + 1
# For INTERNET_OPEN_TYPE_PRECONFIG Wine's WinInet reads no_proxy instead of the registry's
# bypass list, and http_proxy while the registry's proxy is off: none may leak in from the caller.
PROXY_ENVIRONMENT = ("http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY")
PROXY_NAMES = ("ProxyEnable", "ProxyServer", "ProxyOverride")


def read_settings():
    """{name: (type, data) or None} of the proxy values as one `reg query` of the key prints them."""
    found = dict.fromkeys(PROXY_NAMES)
    result = harness.reg("query", SETTINGS)
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        parts = line.split(None, 2)
        if len(parts) >= 2 and parts[0] in found and parts[1].startswith("REG_"):
            found[parts[0]] = (parts[1], parts[2].strip() if len(parts) > 2 else "")
    return found


def write_settings(folder, values):
    """Sets (or, for None, deletes) the values with one `reg import`: each Wine start costs seconds."""
    lines = ["Windows Registry Editor Version 5.00", "", "[" + SETTINGS.replace("HKCU", "HKEY_CURRENT_USER", 1) + "]"]
    for name, value in values.items():
        if value is None:
            lines.append(f'"{name}"=-')
        elif value[0] == "REG_DWORD":
            lines.append(f'"{name}"=dword:{int(value[1], 0):08x}')
        else:
            assert value[0] == "REG_SZ", value
            text = value[1].replace("\\", "\\\\").replace('"', '\\"')
            lines.append(f'"{name}"="{text}"')
    path = folder / "proxy-settings.reg"
    path.write_bytes(("\r\n".join(lines) + "\r\n").encode("utf-16"))
    result = harness.reg("import", harness.windows_path(path))
    assert result.returncode == 0, result.stderr


def without_default(values):
    """WinInet itself writes ProxyEnable=0 where it finds none: the two mean the same."""
    return dict(values, ProxyEnable=None) if values["ProxyEnable"] == ("REG_DWORD", "0x0") else values


@pytest.fixture
def system_proxy(folder, monkeypatch):
    """Points the prefix's Internet settings at the test proxy for this test only. reg.exe goes
    through the running wineserver, so every later Wine process sees each change at once (the
    files on disk follow at its periodic save or its exit); the old values are put back, and read
    back, whatever the test did, so no other test of the shared prefix goes through a proxy."""
    for name in PROXY_ENVIRONMENT:
        monkeypatch.delenv(name, raising=False)
    saved = read_settings()
    if saved["ProxyServer"] == ("REG_SZ", f"127.0.0.1:{PROXY_PORT}"):
        # Left by a run killed before its restore: the prefix had no proxy before it.
        saved = dict.fromkeys(PROXY_NAMES)
    try:
        write_settings(folder, {"ProxyEnable": ("REG_DWORD", "1"),
                                "ProxyServer": ("REG_SZ", f"127.0.0.1:{PROXY_PORT}"), "ProxyOverride": None})
        yield
    finally:
        write_settings(folder, saved)
        assert without_default(read_settings()) == without_default(saved)


def port_answers(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


@pytest.fixture
def proxy(folder):
    """Debian's tinyproxy in the foreground on 127.0.0.1, CONNECT allowed to the test server's
    port only, logging each request to a file of the test's folder; bounded by timeout and
    ended by its process group."""
    program = shutil.which("tinyproxy") or "/usr/bin/tinyproxy"
    if not os.path.exists(program):
        pytest.skip("tinyproxy is not installed (scripts/setup.sh installs it)")
    assert not port_answers(PROXY_PORT), f"port {PROXY_PORT} is taken"
    log = folder / "tinyproxy.log"
    config = folder / "tinyproxy.conf"
    config.write_text(f'Port {PROXY_PORT}\nListen 127.0.0.1\nConnectPort {harness.PORT}\nLogFile "{log}"\n'
                      "LogLevel Info\nTimeout 60\nMaxClients 16\n")
    with open(folder / "tinyproxy.out", "wb") as out:
        process = subprocess.Popen(["timeout", "-k", "5", "120", program, "-d", "-c", str(config)],
                                   stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                   start_new_session=True)
    try:
        assert wait_until(lambda: port_answers(PROXY_PORT) or process.poll() is not None, timeout=10)
        assert process.poll() is None, (folder / "tinyproxy.out").read_text(errors="replace")
        yield log
    finally:
        try:
            os.killpg(process.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait(timeout=10)


def tunnels(log):
    """The targets of the CONNECT requests tinyproxy logged, in order."""
    text = log.read_text(errors="replace") if log.exists() else ""
    return re.findall(r"Request \(file descriptor \d+\): CONNECT (\S+) HTTP/1\.[01]", text)


def test_an_update_goes_through_the_system_proxy(launcher, server, folder, proxy, system_proxy):
    v1, v2, v3, v4 = versions_four(folder)
    publish(server, folder, [(10002, v2), (10003, v3), (10004, v4)])
    mark = server.log_mark()
    run = content_run(launcher, v1, 10001)
    run.start()
    assert shows(run.origin(), READY.format(10004), timeout=60)
    run.stop()
    assert client_files(run.folder) == v4
    assert run.version() == 10004
    assert not (run.folder / "content.cache").exists()
    assert not no_partial_files(run.folder)

    # The patch information, the signed manifest, the release manifest and the packs all came.
    requests = server.requests_since(mark)
    paths = [r["path"] for r in requests]
    assert any(p.endswith("/LauncherPatchInfo.txt") for p in paths)
    assert any(p.endswith("/Content/releases/10004.release") for p in paths)
    assert any("/Content/packs/" in p for p in paths)
    # Each connection the server saw is one tunnel the proxy opened: none went around it.
    connects = tunnels(proxy)
    assert connects and set(connects) == {f"127.0.0.1:{harness.PORT}"}, connects
    assert len({r["peer_port"] for r in requests}) == len(connects)
