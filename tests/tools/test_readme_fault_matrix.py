"""The README's fault matrix and the end-to-end tests behind it must not drift apart."""
import ast
import re
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
E2E = ROOT / "tests" / "e2e"


def matrix_rows():
    text = (ROOT / "README.md").read_text()
    block = text.split("<!-- fault-matrix -->", 1)[1].split("<!-- /fault-matrix -->", 1)[0]
    return [line for line in block.splitlines() if line.startswith("| ") and not line.startswith("| Fault")]


def referenced_tests(row):
    """(file, function, parameter ids) named in a row's last cell."""
    cell = row.rstrip(" |").rsplit("|", 1)[1]
    found = []
    for chunk in re.split(r";", cell):
        names = re.findall(r"`([^`]+)`", chunk)
        if not names:
            continue
        file, _, rest = names[0].partition("::")
        function, _, first = rest.partition("[")
        params = [first.rstrip("]")] if first else []
        params += [n.strip("[]") for n in names[1:]]
        found.append((file, function, params))
    return found


def defined_tests(path):
    tree = ast.parse(path.read_text())
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef) and node.name.startswith("test_")}


def test_every_row_names_existing_tests_and_every_matrix_test_has_a_row():
    rows = matrix_rows()
    assert len(rows) >= 20
    named = set()
    for row in rows:
        references = referenced_tests(row)
        assert references, f"a row without a test: {row}"
        for file, function, params in references:
            source = (E2E / file).read_text()
            assert function in defined_tests(E2E / file), f"{file}::{function} does not exist"
            for param in params:
                assert f'"{param}"' in source, f"{file}::{function} has no case {param}"
            named.add((file, function))
    unlisted = {name for name in defined_tests(E2E / "test_fault_matrix.py")} - \
        {function for file, function in named if file == "test_fault_matrix.py"}
    assert not unlisted, f"matrix tests missing from the README: {sorted(unlisted)}"
