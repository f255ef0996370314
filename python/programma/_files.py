"""Sample files and mistake lists in programma's formats."""

import os

import numpy as np

from . import _programma


def read_samples(path):
    """Read a sample file with programma's loader.

    Parameters
    ----------
    path : str or path-like
        A text file of samples: one sample a line, its features and then its
        label, separated by white space.

    Returns
    -------
    X : ndarray of shape (n_samples, n_features), dtype float32
        The features, read as programma reads them.
    y : ndarray of shape (n_samples,), dtype float32
        The labels (the last number of each line).

    Raises
    ------
    ValueError
        When programma would refuse the file's content; the message names the
        file and the line at fault. Also when the path holds a null byte.
    OSError
        When the file cannot be opened or read (FileNotFoundError when it is
        missing), with its errno and file name.
    """
    samples = _programma.read_samples(os.fspath(path))
    return samples.arrays()


def save_list(path, mistakes):
    """Save a mistake list in programma's format, one row index a line.

    The old file is replaced only once every byte of the new one is safely
    written, as programma saves its lists.

    Parameters
    ----------
    path : str or path-like
        The file to write.
    mistakes : array-like of int
        Training-row indices, such as one array of
        ``KernelPerceptronClassifier.mistakes_``.

    Raises
    ------
    ValueError
        When the list holds something other than row indices, or the path a
        null byte.
    OSError
        When the list cannot be written, with its errno and file name.
    """
    mistakes = np.asarray(mistakes)
    if mistakes.ndim != 1 or (mistakes.size and mistakes.dtype.kind not in "iu"):
        raise ValueError("a mistake list is a 1-D array of whole numbers")
    if mistakes.size and (mistakes.min() < 0 or mistakes.max() > np.iinfo(np.int32).max):
        raise ValueError("a mistake list holds training-row indices from 0 to 2147483647")
    _programma.save_list(os.fspath(path), mistakes.astype(np.int32))


def restore_list(path, training_rows):
    """Read a mistake list saved by programma or :func:`save_list`.

    Parameters
    ----------
    path : str or path-like
        The list file.
    training_rows : int
        The row count of the training set the list belongs to: every entry
        must name one of its rows.

    Returns
    -------
    mistakes : ndarray of shape (n_entries,), dtype int32
        The list's row indices, in order.

    Raises
    ------
    ValueError
        When a line is not one row index (digits alone), or the list names a
        row beyond the training set; the message names the file and the line
        or entry (the file is read once, up to the first line at fault); also
        when the path holds a null byte.
    OSError
        When the file cannot be opened or read, with its errno and file name.
    """
    if not 0 <= int(training_rows) <= np.iinfo(np.uint32).max:
        raise ValueError(f"training_rows must be from 0 to 4294967295, got {training_rows}")
    return _programma.restore_list(os.fspath(path), int(training_rows))
