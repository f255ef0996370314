"""The classifier as scikit-learn uses it, its refusals, Ctrl-C, the library's errors as
Python's exceptions, and the file helpers."""

import errno
import pickle
import signal
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest
from sklearn.model_selection import GridSearchCV

import programma
from programma import KernelPerceptronClassifier, _programma
from conftest import readme_blocks


@pytest.fixture(scope="module")
def small(training):
    """Every fifth training row: quick fits on real digits."""
    X, y = training
    return X[::5], y[::5]


def test_readme_first_example_gives_what_its_comments_say(beside_data):
    names = {}
    exec(readme_blocks("## From Python")[0], names)
    X_test, y_test, clf = names["X_test"], names["y_test"], names["clf"]
    assert f"{clf.score(X_test, y_test):.4f}" == "0.9229"
    assert clf.predict(X_test[:4]).tolist() == [7, 7, 3, 5]
    assert [len(m) for m in clf.mistakes_] == [19, 50, 33, 45, 27, 43, 24, 30, 73, 62]
    assert names["search"].best_params_ == {"constant": 100, "epochs": 5}


def test_grid_search_over_constant_and_epochs(small, test_set):
    X, y = small
    grid = {"constant": [1.0, 3.0, 10.0], "epochs": [1, 3]}
    search = GridSearchCV(KernelPerceptronClassifier(kernel="gauss"), grid, cv=3, n_jobs=2).fit(X, y)
    assert all(value in grid[name] for name, value in search.best_params_.items())
    # The refitted best estimator is the one a direct fit gives.
    direct = KernelPerceptronClassifier(kernel="gauss", **search.best_params_).fit(X, y)
    np.testing.assert_array_equal(search.predict(test_set[0]), direct.predict(test_set[0]))
    assert search.score(*test_set) > 0.8


@pytest.mark.parametrize("combine", ["last", "average", "vote"])
def test_pickle_round_trip(small, test_set, combine):
    X, y = small
    clf = KernelPerceptronClassifier(kernel="gauss", epochs=3, combine=combine).fit(X, y)
    copy = pickle.loads(pickle.dumps(clf))
    for ours, theirs in zip(copy.mistakes_, clf.mistakes_):
        np.testing.assert_array_equal(ours, theirs)
    np.testing.assert_array_equal(copy.decision_function(test_set[0]), clf.decision_function(test_set[0]))
    # An unfitted one stays unfitted.
    assert not hasattr(pickle.loads(pickle.dumps(KernelPerceptronClassifier())), "classes_")


def test_combiners_answer_from_the_same_lists(small, test_set):
    X, y = small
    binary = y == 8
    fits = {c: KernelPerceptronClassifier(combine=c, epochs=3).fit(X, binary) for c in ("last", "average", "vote")}
    for fit in fits.values():
        np.testing.assert_array_equal(fit.mistakes_[0], fits["last"].mistakes_[0])
    votes = fits["vote"].decision_function(test_set[0])
    np.testing.assert_array_equal(votes, np.round(votes))  # whole numbers
    # Votes tie at zero now and then; such a row answers classes_[1], as
    # programma answers +1 for a sum of zero.
    assert np.count_nonzero(votes == 0) > 0
    np.testing.assert_array_equal(fits["vote"].predict(test_set[0]), votes >= 0)


def test_the_greatest_score_answers_the_earlier_class_on_ties_and_nan(small):
    model = KernelPerceptronClassifier(epochs=1).fit(small[0], small[1] % 3)._model
    scores = np.array([[1.0, 1.0, 0.0], [np.nan, 5.0, 1.0], [0.0, np.nan, 2.0], [-1.0, 3.0, 3.0]])
    np.testing.assert_array_equal(_programma.model_answers(model, scores.T), [0, 0, 2, 1])
    with pytest.raises(ValueError, match="a row per recogniser"):
        _programma.model_answers(model, scores)


BAD_PARAMETERS = [
    {"kernel": "rbf"}, {"kernel": None}, {"combine": "max"}, {"epochs": -1}, {"epochs": 2.5}, {"epochs": 2**31},
    {"epochs": True}, {"degree": float("nan")}, {"degree": float("inf")}, {"degree": 0}, {"degree": -2.0},
    {"constant": np.float32("nan")}, {"constant": float("inf")}, {"constant": 0.0}, {"constant": -5},
    {"constant": True}, {"constant": "3"}, {"constant": None}, {"n_jobs": 0}, {"n_jobs": 1.5}, {"n_jobs": True},
    {"margin": -0.5}, {"margin": float("nan")}, {"margin": float("inf")}, {"margin": True}, {"margin": "1"},
    # Beyond the float32 range programma computes in: infinite there.
    {"kernel": "gauss", "constant": 1e39}, {"margin": 1e39},
]


def bad_data(X, y):
    with_nan, with_inf, too_large = X.copy(), X.copy(), X.astype(np.float64)
    with_nan[3, 7], with_inf[0, 0], too_large[1, 1] = np.nan, -np.inf, 1e39
    one_class, not_classes = np.full(len(y), 7.0), y + 0.5
    return [(with_nan, y), (with_inf, y), (too_large, y), (X[:, 0], y), (X[:, :, None], y), (X, y[:-1]),
            (X, one_class), (X, not_classes)]


@pytest.mark.parametrize("parameters", BAD_PARAMETERS, ids=repr)
def test_bad_parameters_leave_the_fit_as_it_was(small, parameters):
    X, y = small
    clf = KernelPerceptronClassifier(epochs=1).fit(X, y)
    clf.set_params(**parameters)
    before = dict(vars(clf))
    with pytest.raises(ValueError, match="|".join(parameters)):
        clf.fit(X, y)
    assert vars(clf).keys() == before.keys()
    assert all(vars(clf)[name] is value for name, value in before.items())


def test_bad_data_is_refused_with_a_clear_error(small):
    X, y = small
    clf = KernelPerceptronClassifier(epochs=1)
    for bad_X, bad_y in bad_data(X, y):
        with pytest.raises(ValueError, match=r"NaN|infinity|float32|1D|2D|dim|inconsistent|class|[Uu]nknown label"):
            clf.fit(bad_X, bad_y)
        assert vars(clf) == KernelPerceptronClassifier(epochs=1).__dict__
    clf.fit(X, y)
    with pytest.raises(ValueError, match="features"):
        clf.predict(X[:, :-1])
    with pytest.raises(ValueError, match="NaN"):
        clf.decision_function(bad_data(X, y)[0][0])


def test_parameters_are_keyword_only_and_zero_epochs_train_nothing(small):
    X, y = small
    with pytest.raises(TypeError):
        KernelPerceptronClassifier(3.0)
    assert all(len(m) == 0 for m in KernelPerceptronClassifier(epochs=0).fit(X, y).mistakes_)
    # The constant applies to the gaussian kernel; the polynomial one leaves it unused.
    assert KernelPerceptronClassifier(kernel="pol", constant=1e39, epochs=1).fit(X, y).score(X, y) >= 0


@pytest.mark.parametrize(
    "kind, raised",
    [("invalid_argument", ValueError), ("bad_data", ValueError), ("out_of_memory", MemoryError),
     ("cancelled", KeyboardInterrupt)],
)
def test_each_error_kind_raises_its_exception(kind, raised):
    with pytest.raises(raised, match="at fault"):
        _programma._raise_error(kind, "at fault")


def test_input_and_output_errors_are_os_errors_with_errno_and_file(tmp_path):
    with pytest.raises(PermissionError) as denied:
        _programma._raise_error("input_output", "cannot open: Permission denied", "some/file", errno.EACCES)
    assert (denied.value.errno, denied.value.filename) == (errno.EACCES, "some/file")
    with pytest.raises(FileNotFoundError) as missing:
        programma.read_samples(tmp_path / "missing")
    assert (missing.value.errno, missing.value.filename) == (errno.ENOENT, str(tmp_path / "missing"))
    with pytest.raises(FileNotFoundError):
        programma.save_list(tmp_path / "no" / "folder", [1])
    with pytest.raises(OSError, match="changed"):
        _programma._raise_error("input_output", "the file changed", "f")  # no errno: a plain OSError


class Stopped(Exception):
    pass


def test_a_cancelled_call_raises_what_the_signal_handler_raised():
    rng = np.random.RandomState(1)
    X = rng.standard_normal((3000, 64)).astype(np.float32)
    y = rng.randint(0, 10, len(X))

    def stop(signum, frame):
        raise Stopped()

    previous = signal.signal(signal.SIGALRM, stop)
    signal.setitimer(signal.ITIMER_REAL, 0.5)
    try:
        clf = KernelPerceptronClassifier(epochs=1000000)
        with pytest.raises(Stopped):
            clf.fit(X, y)
        assert not hasattr(clf, "classes_")
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


CHILD = textwrap.dedent(
    """
    import numpy as np
    import programma

    rng = np.random.RandomState(0)
    X = rng.standard_normal((3000, 64)).astype(np.float32)
    y = rng.randint(0, 10, len(X))
    clf = programma.KernelPerceptronClassifier(epochs=1000000)
    print("fitting", flush=True)
    try:
        clf.fit(X, y)
    except KeyboardInterrupt:
        print("unfitted" if not hasattr(clf, "classes_") else "fitted", flush=True)
        raise
    """
)


def test_ctrl_c_stops_a_long_fit():
    child = subprocess.Popen([sys.executable, "-c", CHILD], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "fitting"
        time.sleep(1.0)
        assert child.poll() is None, "the fit ended before it could be interrupted"
        child.send_signal(signal.SIGINT)
        sent = time.monotonic()
        out, err = child.communicate(timeout=30)
        took = time.monotonic() - sent
    finally:
        child.kill()
    assert out.strip() == "unfitted"
    assert "KeyboardInterrupt" in err
    assert child.returncode != 0
    assert took < 3.0, f"the fit went on {took:.1f} s after Ctrl-C"


def test_sample_files_and_lists(tmp_path, training):
    X, y = training
    assert X.shape == (1200, 256) and X.dtype == y.dtype == np.float32
    path = tmp_path / "samples"
    path.write_text("1 2 3 0\n4 5 x 1\n")
    with pytest.raises(ValueError, match=rf"{path}:2"):
        programma.read_samples(path)

    listed = tmp_path / "list"
    programma.save_list(listed, [5, 0, 5, 1199])
    assert programma.restore_list(listed, 1200).dtype == np.int32
    with pytest.raises(ValueError, match="1199"):
        programma.restore_list(listed, 1000)
    # A null byte would cut the name short: at "list", which must stay as it is.
    for path, bad, error in ((listed, [-1], ValueError), (tmp_path / "no" / "folder", [1], OSError),
                             (f"{listed}\0-not", [1], ValueError)):
        with pytest.raises(error):
            programma.save_list(path, bad)
    assert programma.restore_list(listed, 1200).tolist() == [5, 0, 5, 1199]  # as the failed saves left it
    for call in programma.read_samples, lambda path: programma.restore_list(path, 1200):
        with pytest.raises(ValueError, match="embedded null byte"):
            call(f"{listed}\0-not")


@pytest.mark.parametrize("text, line", [(b"1\n2\nhello\n3\n", 3), (b"\0PNG\r\n", 1), (b"+1\n0x10", 1), (b"1\n\n2", 2)])
def test_a_list_holds_one_row_index_a_line(tmp_path, text, line):
    (tmp_path / "list").write_bytes(text)
    with pytest.raises(ValueError, match=rf"list:{line}: is not one row index"):
        programma.restore_list(tmp_path / "list", 1200)
