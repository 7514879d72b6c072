"""Fixtures of the end-to-end tests: a folder per test, the patch server, one launcher at a time."""
import os
import shutil
from pathlib import Path

import pytest

import harness


def pytest_configure(config):
    if os.environ.get("PYTEST_XDIST_WORKER") and not harness.WORKER:
        raise pytest.UsageError("workers sharing one network would share the test ports: "
                                "split the suite with tests/support/e2e_run.sh")


# The files that take longest (about 150, 100, 85, 65 and 55 s of a 2-core machine's run) go out
# to the workers first, so that no worker is left with a long file when the others are done.
LONGEST_FIRST = ("test_updater.py", "test_fault_matrix.py", "test_content_patching.py", "test_patching.py",
                 "test_content_locked.py")


def pytest_collection_modifyitems(items):
    if harness.WORKER:
        rank = {name: i for i, name in enumerate(LONGEST_FIRST)}
        items.sort(key=lambda item: rank.get(item.path.name, len(rank)))  # stable: a file keeps its order


@pytest.fixture(scope="session", autouse=True)
def worker_environment():
    """A worker's own display, prefix and patch servers; a run in one process has the run's."""
    if not harness.WORKER:
        yield
        return
    environment = harness.WorkerEnvironment()
    try:
        environment.start()
        yield
    finally:
        environment.stop()


@pytest.fixture(scope="session", autouse=True)
def warm_display(worker_environment):
    """The first Wine program on a new display also starts its desktop; do that once here."""
    harness.system_metrics()


@pytest.fixture
def folder(request):
    path = harness.RUNS / request.node.name
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
