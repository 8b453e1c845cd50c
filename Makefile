# The two commands: `make demo` runs the built-in example, `make test` every test.
# `make check` is the fast part of `make test` (build, CTest, mypy, stubtest,
# pytest, lint); `make harden` the slow part (fuzzing, sanitizers, cluster).
# `make format` applies the formatters that `make check` checks.
# `make bench` runs the benchmark against the peers (ARGS=--quick for a shorter run),
# `make quality` the quality benchmark of discovery, at known and at unknown lengths
# (benchmarks/quality.py, then benchmarks/lengths.py; ARGS=--quick, ARGS=--write-docs).
# `make docs` builds the documentation site into build/docs/html, warnings as errors.
.PHONY: demo test check harden format bench quality docs clean

demo:
	bash scripts/demo.sh

test:
	bash scripts/test.sh

check:
	bash scripts/check.sh

harden:
	bash scripts/harden.sh

format:
	bash scripts/lint.sh --fix

bench:
	bash scripts/bench.sh $(ARGS)

quality:
	bash scripts/quality.sh $(ARGS)

docs:
	bash scripts/docs.sh

# zef.mine on threads (benchmarks/threads.py); writes its tables into docs/benchmarks.md and docs/errors.md.
.PHONY: bench-threads
bench-threads:
	bash -c 'source scripts/common.sh && ensure_venv'
	mkdir -p build
	.venv/bin/python benchmarks/threads.py --json build/threads-tables.json
	.venv/bin/python scripts/docs_tables.py build/threads-tables.json

clean:
	rm -rf .venv .venv-demo build

# The hardening stages one at a time.
.PHONY: sanitize fuzz valgrind tsan
sanitize:
	bash scripts/sanitize.sh

fuzz:
	bash scripts/fuzz.sh $(or $(FUZZ_SECONDS),60)

valgrind:
	bash scripts/valgrind.sh

tsan:
	bash scripts/tsan.sh

# How the redundancy filter's cost grows with the pattern count (benchmarks/filter.py).
.PHONY: bench-filter
bench-filter:
	bash -c 'source scripts/common.sh && ensure_venv'
	.venv/bin/python benchmarks/filter.py $(ARGS)

# zef.dask.mine on a local cluster against one process (benchmarks/dask_bench.py);
# ARGS=--write-docs writes the estimate for larger collections into docs/benchmarks.md.
.PHONY: bench-dask
bench-dask:
	bash -c 'source scripts/common.sh && ensure_venv'
	.venv/bin/python benchmarks/dask_bench.py $(ARGS)
