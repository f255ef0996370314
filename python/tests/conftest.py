"""Shared fixtures: the shipped data and the built programs, as ctest passes them."""

import os
from pathlib import Path

import pytest

import programma

DATA = Path(os.environ.get("PROGRAMMA_DATA", Path(__file__).resolve().parents[2] / "Data"))


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
