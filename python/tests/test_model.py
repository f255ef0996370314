"""Model files: a fit saved and loaded answers the same, bit for bit; models travel between
digit-tools and Python; damaged files are refused; README's model and probability examples."""

import pickle
import re
import subprocess

import numpy as np
import pytest
from conftest import DATA, program, readme_blocks
from sklearn.base import clone

import programma
from programma import KernelPerceptronClassifier

NAMES = np.array(["zero", "one\n", "two\\", "three, quoted \"", "vier", "cinq", "šest", "7", "eight", " nine"])

# (settings, labels from the digits, classes_' dtype kind once loaded)
ROUND_TRIPS = {
    "binary": (dict(kernel="gauss", epochs=3), lambda y: (y == 3).astype(int), "i"),
    "multiclass": (dict(degree=3.0), lambda y: y.astype(np.int64) - 4, "i"),
    "strings": (dict(kernel="gauss", combine="average"), lambda y: NAMES[y.astype(int)], "O"),
    "binary strings": (dict(kernel="gauss", combine="vote"), lambda y: np.where(y == 8, "eight", "other"), "O"),
    "floats": (dict(kernel="gauss", shuffle=True, random_state=7), lambda y: y * 2.0**40 - 2.0**42, "f"),
    "margin": (dict(kernel="gauss", constant="scale", margin=0.5, combine="vote"), lambda y: y % 3, "f"),
}
SETTINGS = ("kernel", "degree", "constant", "epochs", "margin", "combine", "shuffle", "random_state")


@pytest.fixture(scope="module")
def small(training):
    X, y = training
    return X[::4], y[::4]


def same_bits(a, b):
    assert a.shape == b.shape and a.dtype == b.dtype and a.tobytes() == b.tobytes()


@pytest.mark.parametrize("case", ROUND_TRIPS)
def test_a_saved_fit_loads_with_the_same_answers_and_scores(case, small, test_set, tmp_path):
    settings, labels_of, kind = ROUND_TRIPS[case]
    X, y = small[0], labels_of(small[1])
    clf = KernelPerceptronClassifier(**settings).fit(X, y)
    clf.save_model(tmp_path / "model")
    loaded = programma.load_model(tmp_path / "model")
    for copy in loaded, pickle.loads(pickle.dumps(loaded)):
        assert copy.classes_.dtype.kind == kind
        np.testing.assert_array_equal(copy.classes_, clf.classes_)
        np.testing.assert_array_equal(copy.predict(test_set[0]), clf.predict(test_set[0]))
        same_bits(copy.decision_function(test_set[0]), clf.decision_function(test_set[0]))
        assert all(np.array_equal(a, b) for a, b in zip(copy.mistakes_, clf.mistakes_, strict=True))
        assert (copy.n_features_in_, copy.constant_, copy.shuffle_seed_) == (256, clf.constant_, clf.shuffle_seed_)
    # It saves back the same file, and its parameters refit the same model.
    loaded.save_model(tmp_path / "again")
    clone(loaded).fit(X, y).save_model(tmp_path / "refit")
    assert (tmp_path / "again").read_bytes() == (tmp_path / "model").read_bytes()
    assert (tmp_path / "refit").read_bytes() == (tmp_path / "model").read_bytes()
    if not isinstance(clf.constant, str):
        assert {k: loaded.get_params()[k] for k in SETTINGS} == {k: clf.get_params()[k] for k in SETTINGS}


def tools_with_models():
    return program("PROGRAMMA_TOOLS")


def predicted(tools, model, tmp_path):
    """digit-tools predict's answers and its scores CSV (header, table) for the test set."""
    run = subprocess.run([tools, "predict", str(model), str(DATA / "Test_set"), "--predictions",
                          str(tmp_path / "answers"), "--scores", str(tmp_path / "scores")],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    header, _, table = (tmp_path / "scores").read_text().partition("\n")
    return np.loadtxt(tmp_path / "answers"), header, np.loadtxt(table.splitlines(), delimiter=",", ndmin=2)


def test_models_travel_between_digit_tools_and_python(training, test_set, tmp_path):
    tools = tools_with_models()
    made = tmp_path / "cli.model"
    subprocess.run([tools, "classify", "-k", "gauss", "-c", "30", "-e", "3", "--margin", "0.5", "--combine",
                    "average", "--shuffle", "5", "-tr", str(DATA / "Training_set"), "-ts", str(DATA / "Test_set"),
                    "--save-model", str(made)], capture_output=True, check=True, timeout=120)
    loaded = programma.load_model(made)
    assert loaded.get_params()["combine"] == "average" and loaded.shuffle_seed_ == 5
    answers, header, scores = predicted(tools, made, tmp_path)
    np.testing.assert_array_equal(loaded.predict(test_set[0]), answers)
    assert header == ",".join(map(str, range(10)))
    same_bits(loaded.decision_function(test_set[0]), scores)
    loaded.save_model(tmp_path / "back")
    assert (tmp_path / "back").read_bytes() == made.read_bytes()

    # Python's models, by_sign for two classes, answer the same in digit-tools.
    X, y = training
    for labels in y.astype(int), (y == 3).astype(int):
        clf = KernelPerceptronClassifier(kernel="gauss", epochs=2).fit(X, labels)
        clf.save_model(tmp_path / "py.model")
        answers, header, scores = predicted(tools, tmp_path / "py.model", tmp_path)
        np.testing.assert_array_equal(clf.predict(test_set[0]), answers)
        assert header == ",".join(map(str, clf.classes_))
        ours = clf.decision_function(test_set[0])
        same_bits(np.column_stack([-ours, ours]) if ours.ndim == 1 else ours, scores)


# A line that starts so, and what takes its place (None: nothing); a missing line names none.
DAMAGES = [("programma-model", "programma-model 99"), ("kernel", "kernel rbf 3"), ("epochs", "epochs two"),
           ("combine", "combine max"), ("rule", "rule majority"), ("0 0 ", "0 0 0 x1"), ("margin", None), ("end", None)]


@pytest.mark.parametrize("start, text", DAMAGES)
def test_a_damaged_model_is_refused_naming_the_line(start, text, small, tmp_path):
    path = tmp_path / "model"
    KernelPerceptronClassifier(epochs=1).fit(*small).save_model(path)
    lines = path.read_text().split("\n")
    n = next(n for n, line in enumerate(lines) if line.startswith(start))
    lines[n:n + 1] = [text] if text else []
    path.write_text("\n".join(lines))
    with pytest.raises(ValueError, match=re.escape(f"{path}:{n + 1 if text else ''}")):
        programma.load_model(path)


def test_readme_model_files_and_probabilities(beside_data, test_set):
    names = {}
    exec(readme_blocks("**Model files.**")[0], names)
    np.testing.assert_array_equal(names["same"].predict(test_set[0]), names["clf"].predict(test_set[0]))
    assert names["same"].get_params()["constant"] == 3.0
    assert names["same"].classes_.dtype == np.float64 and names["same"].classes_.tolist() == list(range(10))
    proba = names["proba"]
    assert proba.shape == (len(test_set[0]), 10) and (proba >= 0).all()
    np.testing.assert_allclose(proba.sum(axis=1), 1.0)
    assert f"{names['calibrated'].score(*test_set):.4f}" == "0.9648"
