"""A grid search on a Dask cluster of worker processes scores as the serial one does,
through README's recipe."""

import os
from pathlib import Path

import numpy as np
import pytest
from conftest import DATA
from sklearn.model_selection import GridSearchCV

import programma

pytest.importorskip("distributed", reason="Dask's distributed is not installed (scripts/install_deps.sh python)")

README = Path(__file__).resolve().parents[2] / "README.md"


def test_readme_recipe_on_a_local_cluster_gives_the_serial_scores(tmp_path, monkeypatch):
    # Worker processes import programma from where this process found it.
    package_dir = str(Path(programma.__file__).resolve().parents[1])
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join(filter(None, [package_dir, os.environ.get("PYTHONPATH")])))
    monkeypatch.setenv("DASK_TEMPORARY_DIRECTORY", str(tmp_path))
    monkeypatch.chdir(tmp_path)
    (tmp_path / "Data").symlink_to(DATA)
    text = README.read_text()
    recipe = text[text.index("**On a Dask cluster.**"):].split("```python\n", 1)[1].split("```", 1)[0]
    names = {}
    exec(recipe, names)

    search = names["search"]
    serial = GridSearchCV(search.estimator, search.param_grid, cv=search.cv).fit(names["X"], names["y"])
    assert len(search.cv_results_["params"]) == 4
    np.testing.assert_array_equal(search.cv_results_["mean_test_score"], serial.cv_results_["mean_test_score"])
    assert search.best_params_ == serial.best_params_
