"""The kernel-perceptron classifier: programma's recognisers, one per class."""

import numbers
import os

import numpy as np
from sklearn.base import BaseEstimator, ClassifierMixin
from sklearn.utils._param_validation import Interval, StrOptions
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import check_is_fitted, check_random_state, check_X_y

from . import _programma

# Kernel names, with programma's own spelling of the polynomial kernel.
_KERNELS = {
    "poly": _programma.KernelKind.polynomial,
    "pol": _programma.KernelKind.polynomial,
    "gauss": _programma.KernelKind.gaussian,
}
_COMBINES = {
    "last": _programma.Combine.last,
    "average": _programma.Combine.average,
    "vote": _programma.Combine.vote,
}
_NUMERIC = ("degree", "constant", "epochs", "margin", "n_jobs")
_FITTED = ("classes_", "mistakes_", "constant_", "shuffle_seed_", "n_features_in_", "feature_names_in_", "_model")


def _thread_count(n_jobs):
    """The engine's thread count for n_jobs, counted the joblib way."""
    try:
        processors = len(os.sched_getaffinity(0))
    except AttributeError:  # no affinity on this system
        processors = os.cpu_count() or 1
    if n_jobs is None:
        return processors
    threads = int(n_jobs) if n_jobs > 0 else processors + 1 + int(n_jobs)
    return min(max(threads, 1), 1024)


def _float32_rows(X):
    """X as C-ordered float32, the precision programma computes in."""
    with np.errstate(over="ignore"):
        rows = np.ascontiguousarray(X, dtype=np.float32)
    if not np.isfinite(rows).all():
        raise ValueError("X holds values beyond the float32 range")
    return rows


def _real_text(value):
    """The shortest text that reads back to the float, without a trailing ".0"."""
    text = repr(float(value))
    return text[:-2] if text.endswith(".0") else text


def _label_texts(classes):
    """The kind and texts of a model's labels for classes_: whole numbers
    (bools as 0 and 1), reals, or any other value's text."""
    values = classes.tolist()
    if all(isinstance(v, numbers.Integral) for v in values):
        return _programma.LabelKind.integer, [str(int(v)) for v in values]
    if all(isinstance(v, numbers.Real) for v in values):
        return _programma.LabelKind.real, [_real_text(v) for v in values]
    return _programma.LabelKind.text, [str(v) for v in values]


def _classes_of(model):
    """classes_ of a model's labels: int64, float64 or str by their kind (the
    library has refused labels of one value written twice, such as "1" and "1.0")."""
    kind, labels = model.label_kind, model.labels
    if kind == _programma.LabelKind.text:
        return np.array(labels, dtype=object)
    integer = kind == _programma.LabelKind.integer
    return np.array([int(t) if integer else float(t) for t in labels], dtype=np.int64 if integer else np.float64)


def load_model(path):
    """Read a model file as a fitted :class:`KernelPerceptronClassifier`.

    The file may come from :meth:`KernelPerceptronClassifier.save_model` or
    from ``digit-tools classify --save-model`` (or ``tune --save-model``);
    the classifier predicts and scores as the model does, bit for bit, and
    saves back the same model. Its parameters are the model's (kernel,
    degree or constant, epochs, margin, combine; ``shuffle=True`` and
    ``random_state`` the seed when the model was trained in a seeded order),
    so a clone refits the same way on the same rows.

    Parameters
    ----------
    path : str or path-like
        The model file.

    Returns
    -------
    clf : KernelPerceptronClassifier
        Fitted: ``classes_`` are the model's labels in its order (int64,
        float64 or str objects, by the labels' kind), ``mistakes_`` its
        lists, ``n_features_in_`` its feature count. A model made with
        scaled data (``--ranges``) scales the rows it is given by its ranges
        first, so it takes raw rows; a refit of a clone does not.

    Raises
    ------
    ValueError
        When the file is not a whole, valid model; the message names the
        file and the line at fault. Also when the path holds a null byte.
    OSError
        When the file cannot be read, with its errno and file name.
    """
    return KernelPerceptronClassifier._of_model(_programma.read_model(os.fspath(path)))


class KernelPerceptronClassifier(ClassifierMixin, BaseEstimator):
    """Kernel perceptrons trained as programma trains them, one per class.

    Each class is recognised against the rest by a kernel perceptron: over
    ``epochs`` passes through the training rows in order (or, with
    ``shuffle``, in one seeded order, the same in every pass), every row the
    perceptron answers wrongly (or, with a ``margin`` above 0, too closely)
    joins its mistake list, and a row's decision
    sum is the sum of the kernel values between it and the list's rows, each
    signed by the listed row's class. With two classes one recogniser, for
    ``classes_[1]``, answers; with more, one per class, and the greatest
    score wins (the earlier class on a tie or a NaN).

    A fit keeps a model (the listed rows, the lists and the settings), and
    predicts and scores through it; :meth:`save_model` writes it as a model
    file, and :func:`load_model` reads one back, or one that ``digit-tools``
    saved, as a fitted classifier.

    On the same rows the lists and sums are programma's, bit for bit:
    a recogniser for class ``d`` on programma's own data keeps the very list
    that ``programma -dg d`` saves with the same options.

    Parameters
    ----------
    kernel : {"poly", "gauss"}, default="poly"
        The kernel: ``(x . z + 1) ** degree``, or ``exp(-|x - z|^2 / constant)``
        as programma defines them. ``"pol"``, programma's spelling, is taken
        for ``"poly"``.
    degree : float, default=2.0
        The polynomial kernel's degree (programma's ``-d``), finite and
        above 0.
    constant : float or "scale", default=3.0
        The gaussian kernel's constant (programma's ``-c``), finite and
        above 0; ``"scale"`` takes it from the training data (the features
        times the variance of every feature value, as ``-c scale``).
    epochs : int, default=2
        Passes through the training rows (programma's ``-e``); 0 leaves
        every list empty.
    margin : float, default=0.0
        A row answered right also joins the list when it is too close:
        when ``y * sum < margin * k(x, x)``, ``y`` its sign (+1 for the
        recogniser's class), ``sum`` its decision sum and ``k(x, x)`` its
        kernel value with itself (in float32). 0, the default, keeps the
        mistakes alone, programma's lists; above 0 the lists also hold rows
        that were right but too close, as ``digit-tools classify --margin``
        makes them. Finite and 0 or more.
    combine : {"last", "average", "vote"}, default="last"
        How the hypotheses a training went through (the prefixes of its
        list) answer: ``"last"`` the whole list's sum, programma's own
        answer; ``"average"`` every prefix's sum weighted by the steps it
        survived; ``"vote"`` every prefix's sign so weighted.
    shuffle : bool, default=False
        Whether training visits the rows in a seeded order instead of their
        order in X (as ``--shuffle SEED``): rows that come sorted by class
        train poorly in order.
    random_state : int, RandomState instance or None, default=None
        The seed of that order, when ``shuffle``: an int is the seed itself
        (the order ``--shuffle`` gives); None or a RandomState draws one.
    n_jobs : int, default=None
        Threads for training and scoring: None for every processor this
        process may use, -1 too, -2 for all but one, and so on.

    Attributes
    ----------
    classes_ : ndarray of shape (n_classes,)
        The class labels, sorted.
    n_features_in_ : int
        The number of features seen in fit.
    feature_names_in_ : ndarray of shape (n_features_in_,)
        The feature names seen in fit, when X had string column names.
    mistakes_ : list of ndarray of int32
        Each recogniser's mistake list: training-row indices in the order
        training added them (the rows answered wrongly, and with a margin
        those answered too closely). One list for two classes, else one per
        class.
    constant_ : float
        The gaussian constant used (``constant="scale"`` worked out).
    shuffle_seed_ : int or None
        The seed of the training order, None when not shuffled.

    Notes
    -----
    Input is checked as scikit-learn checks it (NaN and infinities refused)
    and computed in float32. Parameters are keyword-only, and checked in fit
    against ``_parameter_constraints`` (a degree and a constant finite and
    above 0, epochs from 0 to 2147483647, a margin from 0, no ``True`` for
    a number) and then
    by the library's own check of the recogniser they make, in float32 (a
    constant beyond the float32 range is infinite there, and refused). A
    refused parameter or input raises ValueError naming it and leaves the
    estimator as it was; a fit interrupted with Ctrl-C raises
    KeyboardInterrupt and leaves it unfitted.

    Examples
    --------
    >>> import programma
    >>> X, y = programma.read_samples("Data/Training_set")
    >>> clf = programma.KernelPerceptronClassifier(kernel="gauss").fit(X, y)
    >>> clf.predict(X[:3])
    array([...], dtype=float32)
    """

    _parameter_constraints = {
        "kernel": [StrOptions(set(_KERNELS))],
        "degree": [Interval(numbers.Real, 0, None, closed="neither")],
        "constant": [Interval(numbers.Real, 0, None, closed="neither"), StrOptions({"scale"})],
        "epochs": [Interval(numbers.Integral, 0, 2147483647, closed="both")],
        "combine": [StrOptions(set(_COMBINES))],
        "margin": [Interval(numbers.Real, 0, None, closed="left")],
        "shuffle": ["boolean"],
        "random_state": [Interval(numbers.Integral, 0, 2**64 - 1, closed="both"), np.random.RandomState, None],
        "n_jobs": [
            Interval(numbers.Integral, None, -1, closed="right"),
            Interval(numbers.Integral, 1, None, closed="left"),
            None,
        ],
    }

    def __init__(
        self,
        *,
        kernel="poly",
        degree=2.0,
        constant=3.0,
        epochs=2,
        combine="last",
        margin=0.0,
        shuffle=False,
        random_state=None,
        n_jobs=None,
    ):
        self.kernel = kernel
        self.degree = degree
        self.constant = constant
        self.epochs = epochs
        self.combine = combine
        self.margin = margin
        self.shuffle = shuffle
        self.random_state = random_state
        self.n_jobs = n_jobs

    def _checked_recognisers(self, targets, data_constant=1.0):
        """The recognisers of the targets the parameters stand for, once they pass
        scikit-learn's constraints and programma's check; ``constant="scale"`` is
        ``data_constant``."""
        self._validate_params()
        for name in _NUMERIC + ("random_state",):
            if isinstance(getattr(self, name), bool):  # a flag is not a number here
                raise ValueError(f"{name} must be a number, not {getattr(self, name)!r}")
        kind = _KERNELS[self.kernel]
        name = "constant" if kind == _programma.KernelKind.gaussian else "degree"
        value = data_constant if isinstance(getattr(self, name), str) else float(getattr(self, name))
        recognisers = [
            _programma.Recogniser(int(t), kind, value, int(self.epochs), float(self.margin)) for t in targets
        ]
        problem = _programma.check(recognisers[0]) if recognisers else None
        if problem is not None:
            field, why = problem
            parameter = {"kernel.parameter": name, "kernel.kind": "kernel"}.get(field, field)
            raise ValueError(f"{parameter}={getattr(self, parameter)!r} is refused: {why}")
        return recognisers

    def fit(self, X, y):
        """Train one recogniser per class (one in all for two classes).

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            Training rows, computed in float32.
        y : array-like of shape (n_samples,)
            Class labels of any kind (numbers, strings); at least two
            distinct classes.

        Returns
        -------
        self : KernelPerceptronClassifier
            The fitted estimator.
        """
        self._checked_recognisers([0])  # before the data: a refused parameter costs nothing
        features, labels = check_X_y(X, y, dtype=(np.float64, np.float32), estimator=self)
        check_classification_targets(labels)
        classes, indices = np.unique(labels, return_inverse=True)
        if len(classes) < 2:
            raise ValueError(f"{type(self).__name__} needs at least two classes, got one class: {classes[0]!r}")
        training = _programma.SampleSet(_float32_rows(features), indices.astype(np.float32))
        from_data = isinstance(self.constant, str)  # "scale", the one string allowed
        data_constant = _programma.scale_constant(training) if from_data else 1.0
        recognisers = self._checked_recognisers([1] if len(classes) == 2 else range(len(classes)), data_constant)
        seed = self._seed() if self.shuffle else None
        order = None if seed is None else _programma.seeded_order(training.rows, seed)
        try:
            mistakes = _programma.train(training, recognisers, _thread_count(self.n_jobs), order)
            kind, texts = _label_texts(classes)
            rule = _programma.DecisionRule.by_sign if len(classes) == 2 else _programma.DecisionRule.per_label
            model = _programma.make_model(
                training, recognisers, mistakes, order, seed, _COMBINES[self.combine], kind, texts, rule
            )
        except BaseException:
            self._forget_fit()
            raise
        self._check_n_features(features, reset=True)
        self._check_feature_names(X, reset=True)
        self.classes_ = classes
        self.mistakes_ = mistakes
        self.constant_ = data_constant if from_data else float(np.float32(self.constant))
        self.shuffle_seed_ = seed
        self._model = model
        return self

    @classmethod
    def _of_model(cls, model):
        """A classifier fitted as the model says, predicting through it."""
        gaussian = model.kind == _programma.KernelKind.gaussian
        clf = cls(
            kernel="gauss" if gaussian else "poly",
            epochs=int(model.epochs),
            margin=float(model.margin),
            combine=next(name for name, value in _COMBINES.items() if value == model.combine),
            shuffle=model.shuffle is not None,
            random_state=model.shuffle,
            **{"constant" if gaussian else "degree": float(model.parameter)},
        )
        clf.classes_ = _classes_of(model)
        clf.n_features_in_ = int(model.features)
        clf.mistakes_ = model.lists
        clf.constant_ = float(model.parameter) if gaussian else float(np.float32(clf.constant))
        clf.shuffle_seed_ = model.shuffle
        clf._model = model
        return clf

    def save_model(self, path):
        """Save the fitted classifier as a model file.

        The file holds the settings, the labels, the training rows the lists
        name (with their features, read back to the same floats) and the
        lists, never the other training rows: :func:`load_model` and
        ``digit-tools predict`` answer from it alone, as this classifier
        does. Labels are saved as whole numbers when ``classes_`` are
        integers (or bools), as reals when they are floats, and as text
        otherwise; two classes save one recogniser, answering by its sign.
        The old file is replaced only once every byte of the new one is
        safely written.

        Parameters
        ----------
        path : str or path-like
            The file to write.

        Raises
        ------
        OSError
            When the file cannot be written, with its errno and file name.
        """
        check_is_fitted(self)
        _programma.save_model(os.fspath(path), self._model)

    def _seed(self):
        """The seed of the training order: random_state itself when it is an
        int, else one drawn from it (None: NumPy's global generator)."""
        if isinstance(self.random_state, numbers.Integral):
            return int(self.random_state)
        return int(check_random_state(self.random_state).randint(0, 2**63 - 1, dtype=np.int64))

    def _forget_fit(self):
        for name in _FITTED:
            self.__dict__.pop(name, None)

    def _scores(self, X):
        """The model's scores of the rows, a row of the result per recogniser."""
        check_is_fitted(self)
        features = self._validate_data(X, reset=False, dtype=(np.float64, np.float32))
        return _programma.model_scores(self._model, _float32_rows(features), _thread_count(self.n_jobs))

    def decision_function(self, X):
        """Each row's score from each recogniser, under ``combine``.

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            Rows to score, computed in float32.

        Returns
        -------
        scores : ndarray of shape (n_samples,) or (n_samples, n_classes)
            For two classes, the score of ``classes_[1]`` (programma's
            decision sum with ``combine="last"``); else one column per
            class. Float64, holding programma's float32 sums exactly. A
            model of two labels with one recogniser each (as
            ``digit-tools`` saves them) loaded by :func:`load_model` gives
            two columns, one per class.
        """
        scores = self._scores(X)
        return scores[0] if self._model.rule == _programma.DecisionRule.by_sign else scores.T

    def predict(self, X):
        """The class of each row.

        With two classes, ``classes_[1]`` where the score is not below zero
        (programma's answer, so a score of exactly zero answers
        ``classes_[1]``), else ``classes_[0]``. With more, the class of the
        greatest score, the earlier class on a tie or a NaN.

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            Rows to classify.

        Returns
        -------
        y : ndarray of shape (n_samples,)
            Labels from ``classes_``.
        """
        scores = self._scores(X)
        return self.classes_[_programma.model_answers(self._model, scores)]
