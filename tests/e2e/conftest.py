"""Fixtures of the end-to-end tests: a folder per test, the patch server, one launcher at a time."""
import os
import shutil
from pathlib import Path

import pytest

import harness


@pytest.fixture(scope="session", autouse=True)
def warm_display():
    """The first Wine program on a new display also starts its desktop; do that once here."""
    harness.system_metrics()


@pytest.fixture
def folder(request):
    path = harness.BUILD / "e2e-runs" / request.node.name
    if path.exists():
        shutil.rmtree(path)
    path.mkdir(parents=True)
    return path


@pytest.fixture
def server():
    if not (harness.STATE / "ready.json").exists():
        pytest.skip("the test patch server is not running")
    s = harness.PatchServer()
    s.reset()
    yield s
    s.set_faults([])


@pytest.fixture
def launcher(folder):
    harness.set_installed_installer(None)
    # The pointer stays where the last test left it; over a button it would show a hover.
    harness.move_pointer(0, 0)
    runs = []

    def make(subfolder=None, exe="launcher.exe"):
        run = harness.Launcher(folder / subfolder if subfolder else folder, exe)
        runs.append(run)
        return run
    yield make
    for run in runs:
        run.stop()
