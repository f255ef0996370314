"""programma from Python: a scikit-learn classifier on programma's library.

:class:`KernelPerceptronClassifier` trains one kernel-perceptron recogniser
per class (one for two classes) exactly as programma trains one for a digit;
:func:`read_samples`, :func:`save_list` and :func:`restore_list` read and
write programma's sample files and mistake lists.
"""

from pkgutil import extend_path

# In a build tree the compiled module lies in the build folder's programma/,
# the Python sources in python/programma/: both make up the package.
__path__ = extend_path(__path__, __name__)

from ._estimator import KernelPerceptronClassifier  # noqa: E402
from ._files import read_samples, restore_list, save_list  # noqa: E402

__all__ = ["KernelPerceptronClassifier", "read_samples", "restore_list", "save_list"]
