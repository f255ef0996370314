"""The classifier's lists, sums and answers are programma's own, bit for bit."""

import re
import subprocess

import numpy as np
import pytest
from conftest import DATA, program
from sklearn.base import clone

import programma
from programma import _programma


@pytest.fixture(scope="module")
def gauss_fit(training):
    X, y = training
    return programma.KernelPerceptronClassifier(kernel="gauss", constant=3, epochs=5).fit(X, y)


def run_programma(digit, list_path):
    """programma -dg DIGIT -k gauss -e 5, saving its list: (list, test wrong +1, test wrong -1)."""
    out = subprocess.run(
        [program("PROGRAMMA_PROGRAM"), "-dg", str(digit), "-k", "gauss", "-e", "5",
         "-tr", str(DATA / "Training_set"), "-ts", str(DATA / "Test_set")],
        input=f"y\n{list_path}\n", capture_output=True, text=True, check=True, timeout=60,
    ).stdout
    wrong = re.search(r"I was wrong (\d+) times saying 1 e (\d+) times saying -1", out)
    return int(wrong[1]), int(wrong[2])


@pytest.mark.parametrize("digit", range(10))
def test_gauss_lists_and_test_answers_match_programma(digit, gauss_fit, training, test_set, tmp_path):
    saved = tmp_path / "list"
    wrong_plus, wrong_minus = run_programma(digit, saved)
    mistakes = gauss_fit.mistakes_[digit]
    assert mistakes.dtype == np.int32
    np.testing.assert_array_equal(programma.restore_list(saved, len(training[0])), mistakes)

    # The same bytes as programma's file, through the safe save.
    ours = tmp_path / "ours"
    programma.save_list(ours, mistakes)
    assert ours.read_bytes() == saved.read_bytes()

    # Its test answers: a row says +1 when its sum is not below zero.
    X_test, y_test = test_set
    sums = gauss_fit.decision_function(X_test)[:, digit]
    assert np.count_nonzero((sums >= 0) & (y_test != digit)) == wrong_plus
    assert np.count_nonzero((sums < 0) & (y_test == digit)) == wrong_minus


def test_scores_are_classify_sums_bit_for_bit(gauss_fit, training, test_set):
    X_test, _ = test_set
    scores = gauss_fit.decision_function(X_test)
    train_set = _programma.SampleSet(*training)
    samples = _programma.SampleSet(X_test, np.zeros(len(X_test), np.float32))
    for digit, mistakes in enumerate(gauss_fit.mistakes_):
        recogniser = _programma.Recogniser(digit, _programma.KernelKind.gaussian, 3.0, 5)
        sums = _programma.decision_sums(train_set, recogniser, mistakes, samples)
        assert sums.dtype == np.float32
        np.testing.assert_array_equal(scores[:, digit].astype(np.float32).view(np.uint32), sums.view(np.uint32))


def test_polynomial_lists_and_answers_match_digit_tools(training, test_set, tmp_path):
    tools = program("PROGRAMMA_TOOLS")
    subprocess.run(
        [tools, "classify", "-tr", str(DATA / "Training_set"), "-ts", str(DATA / "Test_set"),
         "--lists", str(tmp_path), "--predictions", str(tmp_path / "answers")],
        capture_output=True, check=True, timeout=120,
    )
    X, y = training
    clf = programma.KernelPerceptronClassifier(kernel="pol").fit(X, y)
    for digit in range(10):
        restored = programma.restore_list(tmp_path / f"{digit}.list", len(X))
        np.testing.assert_array_equal(restored, clf.mistakes_[digit])
    answers = np.loadtxt(tmp_path / "answers")
    np.testing.assert_array_equal(clf.predict(test_set[0]), answers)


def test_margin_lists_and_answers_match_digit_tools(training, test_set, tmp_path):
    subprocess.run(
        [program("PROGRAMMA_TOOLS"), "classify", "-k", "gauss", "-c", "30", "-e", "3", "--margin", "0.5",
         "-tr", str(DATA / "Training_set"), "-ts", str(DATA / "Test_set"),
         "--lists", str(tmp_path), "--predictions", str(tmp_path / "answers")],
        capture_output=True, check=True, timeout=120,
    )
    X, y = training
    settings = dict(kernel="gauss", constant=30, epochs=3)
    clf = programma.KernelPerceptronClassifier(margin=0.5, **settings).fit(X, y)
    plain = programma.KernelPerceptronClassifier(**settings).fit(X, y)
    for digit in range(10):
        restored = programma.restore_list(tmp_path / f"{digit}.list", len(X))
        np.testing.assert_array_equal(restored, clf.mistakes_[digit])
    assert sum(map(len, clf.mistakes_)) > sum(map(len, plain.mistakes_))  # rows too close join too
    np.testing.assert_array_equal(clf.predict(test_set[0]), np.loadtxt(tmp_path / "answers"))


def test_two_classes_train_the_recogniser_of_the_second(gauss_fit, training):
    X, y = training
    named = np.where(y == 3, "three", "other")
    clf = programma.KernelPerceptronClassifier(kernel="gauss", epochs=5).fit(X, named)
    assert list(clf.classes_) == ["other", "three"]
    assert len(clf.mistakes_) == 1
    np.testing.assert_array_equal(clf.mistakes_[0], gauss_fit.mistakes_[3])
    np.testing.assert_array_equal(clf.decision_function(X), gauss_fit.decision_function(X)[:, 3])


def test_scale_and_shuffle_are_classify_options(training, test_set, tmp_path):
    subprocess.run(
        [program("PROGRAMMA_TOOLS"), "classify", "-k", "gauss", "-c", "scale", "-e", "2", "--shuffle", "4",
         "--combine", "vote", "-tr", str(DATA / "Training_set"), "-ts", str(DATA / "Test_set"),
         "--lists", str(tmp_path), "--predictions", str(tmp_path / "answers")],
        capture_output=True, check=True, timeout=120,
    )
    X, y = training
    clf = programma.KernelPerceptronClassifier(
        kernel="gauss", constant="scale", epochs=2, shuffle=True, random_state=4, combine="vote"
    ).fit(X, y)
    constant = (tmp_path / "manifest").read_text().split("\nconstant ")[1].split("\n")[0]
    assert np.float32(constant) == np.float32(clf.constant_) and clf.shuffle_seed_ == 4
    for digit in range(10):
        np.testing.assert_array_equal(programma.restore_list(tmp_path / f"{digit}.list", len(X)), clf.mistakes_[digit])
    np.testing.assert_array_equal(clf.predict(test_set[0]), np.loadtxt(tmp_path / "answers"))
    # A seed drawn is recorded, and gives the same lists again.
    drawn = programma.KernelPerceptronClassifier(kernel="gauss", epochs=1, shuffle=True).fit(X, y)
    again = clone(drawn).set_params(random_state=drawn.shuffle_seed_).fit(X, y)
    assert all(np.array_equal(a, b) for a, b in zip(drawn.mistakes_, again.mistakes_))
