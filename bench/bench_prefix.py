"""The Wine prefix of the start-up and link benchmarks, apart from the tests' prefix: made once,
one wineserver kept for the whole run, and the test certificate authority trusted in it (as
tests/support/server_fixture.sh does for the tests' prefix), so that the test build's launcher
accepts the servers these benchmarks start.

Import after setting TEST_BUILD_DIR; call use() before the harness runs anything."""
import os
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
BENCH = ROOT / "build" / "bench"
PREFIX = BENCH / "wineprefix"
CERTS = BENCH / "certs"


def use():
    """Points every later Wine start at the benchmark prefix and prepares it."""
    os.environ["WINEPREFIX"] = str(PREFIX)
    sys.path.insert(0, str(ROOT / "tests" / "e2e"))
    import harness
    env = harness.wine_env()
    if not (PREFIX / "system.reg").exists():
        PREFIX.mkdir(parents=True, exist_ok=True)
        subprocess.run(["timeout", "-k", "5", "180", "wineboot", "-i"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # One wineserver for the whole run, so each start pays only for the process itself.
    subprocess.run(["timeout", "-k", "5", "10", "wineserver", "-p"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["/usr/bin/python3", str(ROOT / "tests" / "support" / "patch_server.py"), "make-certs", str(CERTS)],
                   check=True, capture_output=True, timeout=120)
    result = harness.run_wine([harness.BUILD / "import_root_ca.exe", harness.windows_path(CERTS / "ca.der")],
                              timeout=60)
    if result.returncode != 0:
        raise RuntimeError(f"import_root_ca failed: {result.stderr.decode(errors='replace')}")
    return harness


def stop():
    """Ends the benchmark prefix's wineserver (and with it whatever still runs there)."""
    env = dict(os.environ, WINEPREFIX=str(PREFIX))
    subprocess.run(["timeout", "-k", "5", "20", "wineserver", "-k"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
