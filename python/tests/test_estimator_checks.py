"""scikit-learn's own checks of the classifier: every one must pass."""

from sklearn.utils.estimator_checks import parametrize_with_checks

from programma import KernelPerceptronClassifier


@parametrize_with_checks(
    [
        KernelPerceptronClassifier(),
        KernelPerceptronClassifier(kernel="gauss", epochs=3, combine="average"),
        KernelPerceptronClassifier(kernel="pol", degree=3.0, combine="vote", n_jobs=1),
    ]
)
def test_sklearn_estimator_checks(estimator, check):
    check(estimator)
