"""programma from Python: a scikit-learn classifier on programma's library.

:class:`KernelPerceptronClassifier` trains one kernel-perceptron recogniser
per class (one for two classes) exactly as programma trains one for a digit,
and saves it as a model file that :func:`load_model` reads back (as does
``digit-tools predict``); :func:`read_samples`, :func:`save_list` and :func:`restore_list` read and
write programma's sample files and mistake lists.
"""

from ._estimator import KernelPerceptronClassifier, load_model
from ._files import read_samples, restore_list, save_list
from ._programma import __version__

__all__ = ["KernelPerceptronClassifier", "load_model", "read_samples", "restore_list", "save_list"]
