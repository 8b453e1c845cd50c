// The Python face of the package's own native work: module `zef._native`.
// Discovery (zef.discover) returns numpy arrays and plain values, from which
// zef/discovery.py builds its result objects. The calls that use every core
// (zef.mine, zef.discover) run on the calling thread and threads of their own
// with the interpreter lock released; in short ticks the calling thread takes
// the lock to let signal handlers run (Ctrl-C) and to report progress. No class is
// registered here: Motif objects are those of `_zef_cpp`, which is imported
// first so that its types are known.
#include "native/arrays.h"
#include "native/bindings.h"

namespace py = pybind11;

PYBIND11_MODULE(_native, m) {
    m.doc() = "Native code of the package zef: discovery's refinement and the engine's calls on every core.";
    // Motif is registered by _zef_cpp; results come back as its objects.
    py::module_::import("_zef_cpp");
    // numpy's C API is looked up here, on import. pybind11 looks it up on the
    // first array made, behind a C++ static guard held with the interpreter
    // lock; two threads making their first arrays at once (Dask workers in
    // one process) would deadlock there, one waiting for the guard with the
    // lock, the other for the lock inside the guard.
    py::array_t<double>(0);
    native::bind_mining(m);
    native::bind_discovery(m);
    native::bind_arrays(m);
    // The steps of zef.dask, in a submodule that the import system knows by
    // its full name too: `import zef._native.partitioned` and stubtest find it.
    py::module_ partitioned =
        m.def_submodule("partitioned", "The steps of zef.dask on the partitions of a collection, and the client's.");
    native::bind_partitioned_mining(partitioned);
    native::bind_partitioned_discovery(partitioned);
    native::bind_partitioned_lengths(partitioned);
    py::module_::import("sys").attr("modules")[partitioned.attr("__name__")] = partitioned;
}
