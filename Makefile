# The two commands: `make demo` runs the built-in example, `make test` every test.
# `make check` is the fast part of `make test` (build, CTest, mypy, stubtest,
# pytest, lint); `make harden` the slow part (fuzzing, sanitizers, cluster).
# `make format` applies the formatters that `make check` checks.
# `make bench` runs the benchmark against the peers (ARGS=--quick for a shorter run),
# `make quality` the quality benchmark of discovery (ARGS=--quick, ARGS=--write-readme).
.PHONY: demo test check harden format bench quality clean

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

# zef.mine on threads (benchmarks/threads.py); writes its tables into README.md.
.PHONY: bench-threads
bench-threads:
	bash -c 'source scripts/common.sh && ensure_venv'
	mkdir -p build
	.venv/bin/python benchmarks/threads.py --json build/threads-tables.json
	.venv/bin/python scripts/readme_tables.py build/threads-tables.json

clean:
	rm -rf .venv build

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

# zef.dask.mine on a local cluster against one process (benchmarks/dask_bench.py);
# ARGS=--write-readme writes the README's estimate for larger collections.
.PHONY: bench-dask
bench-dask:
	bash -c 'source scripts/common.sh && ensure_venv'
	.venv/bin/python benchmarks/dask_bench.py $(ARGS)
