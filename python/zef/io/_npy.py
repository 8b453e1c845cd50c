"""Reading NumPy .npy files of series."""

from __future__ import annotations

from zef.io._dataset import DataError, Dataset

__all__ = ["read_npy"]


def read_npy(path: str, columns: bool, skip: int) -> Dataset:
    try:
        import numpy as np
    except ImportError:
        raise DataError("reading .npy files needs NumPy, which is not installed: pip install numpy") from None
    with open(path, "rb") as file:
        magic = file.read(6)
    if magic != b"\x93NUMPY":
        raise DataError(f"{path}: not a NumPy .npy file")
    try:
        array = np.load(path, allow_pickle=False)
    except ValueError as error:
        if "allow_pickle" in str(error):
            raise DataError(f"{path}: holds Python objects; only arrays of numbers are read") from None
        raise DataError(f"{path}: not a readable NumPy .npy file ({error})") from None
    except EOFError as error:
        raise DataError(f"{path}: not a readable NumPy .npy file ({error or 'truncated'})") from None
    if not isinstance(array, np.ndarray):
        raise DataError(f"{path}: not a NumPy .npy file")
    if array.dtype.kind not in "iuf":
        raise DataError(f"{path}: holds values of type {array.dtype}, not numbers")
    if array.ndim == 1:
        array = array.reshape(1, -1)
    if array.ndim != 2:
        raise DataError(f"{path}: holds an array of {array.ndim} dimensions; one or two are read")
    array = array[:, skip:].astype(np.float64)
    if np.isinf(array).any():
        raise DataError(f"{path}: holds infinite values")
    if columns:
        array = array.T
    series: list[list[float]] = array.tolist()
    if not series:
        raise DataError(f"{path}: holds no series")
    return Dataset(series)
