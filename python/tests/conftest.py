"""Shared fixtures: the shipped data, the built programs as ctest passes them, README's examples."""

import os
import re
from pathlib import Path

import pytest

import programma

DATA = Path(os.environ.get("PROGRAMMA_DATA", Path(__file__).resolve().parents[2] / "Data"))
README = Path(__file__).resolve().parents[2] / "README.md"


@pytest.fixture(scope="session")
def training():
    return programma.read_samples(DATA / "Training_set")


@pytest.fixture(scope="session")
def test_set():
    return programma.read_samples(DATA / "Test_set")


def program(variable):
    """A built program that ctest names in the environment, or a skip."""
    path = os.environ.get(variable)
    if not path or not os.access(path, os.X_OK):
        pytest.skip(f"{variable} does not name a built program")
    return path


def readme_blocks(marker):
    """The ```python blocks of README.md after `marker`."""
    text = README.read_text()
    return re.findall(r"```python\n(.*?)```", text[text.index(marker):], re.S)


@pytest.fixture
def beside_data(tmp_path, monkeypatch):
    """A folder of its own, holding Data/ as README's examples expect it."""
    monkeypatch.chdir(tmp_path)
    (tmp_path / "Data").symlink_to(DATA)
    return tmp_path
