#pragma once

// The areas of the module zef._native, each bound by one file. The
// partitioned ones go to the submodule zef._native.partitioned.

#include "casters/casters.h"

namespace native {

// mine: the engine's mining on threads; the exception TooManyPatterns.
void bind_mining(pybind11::module_& m);
// discover: motif discovery on threads.
void bind_discovery(pybind11::module_& m);
// distance_profile, detrend: discovery's steps on one series' array.
void bind_arrays(pybind11::module_& m);
// The steps of zef.dask.mine on one partition, and the client's over patterns.
void bind_partitioned_mining(pybind11::module_& m);
// The steps of zef.dask.discover on one partition, and the client's over shapes.
void bind_partitioned_discovery(pybind11::module_& m);
// The steps of zef.dask.discover over a range of lengths.
void bind_partitioned_lengths(pybind11::module_& m);

}  // namespace native
