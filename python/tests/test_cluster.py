"""A grid search on a Dask cluster of worker processes scores as the serial one does,
through README's recipe."""

import os
from pathlib import Path

import numpy as np
import pytest
from conftest import readme_blocks
from sklearn.model_selection import GridSearchCV

import programma

pytest.importorskip("distributed", reason="Dask's distributed is not installed (scripts/install_deps.sh python)")


def test_readme_recipe_on_a_local_cluster_gives_the_serial_scores(beside_data, monkeypatch):
    # Worker processes import programma from where this process found it.
    package_dir = str(Path(programma.__file__).resolve().parents[1])
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join(filter(None, [package_dir, os.environ.get("PYTHONPATH")])))
    recipe, remote = readme_blocks("**On a Dask cluster.**")[:2]
    names = {"__name__": "__main__"}
    exec(recipe, names)
    compile(remote, "README.md", "exec")  # the same on a scheduler elsewhere

    search = names["search"]
    serial = GridSearchCV(search.estimator, search.param_grid, cv=search.cv).fit(names["X"], names["y"])
    assert len(search.cv_results_["params"]) == 4
    np.testing.assert_array_equal(search.cv_results_["mean_test_score"], serial.cv_results_["mean_test_score"])
    assert search.best_params_ == serial.best_params_
