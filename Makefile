# The two commands: `make demo` runs the built-in example, `make test` every test.
# `make bench` runs the benchmark against the peers (ARGS=--quick for a shorter run).
.PHONY: demo test bench clean

demo:
	bash scripts/demo.sh

test:
	bash scripts/test.sh

bench:
	bash scripts/bench.sh $(ARGS)

# zef.mine on threads (benchmarks/threads.py); writes its tables into README.md.
.PHONY: bench-threads
bench-threads:
	bash -c 'source scripts/common.sh && ensure_venv'
	mkdir -p build
	.venv/bin/python benchmarks/threads.py --json build/threads-tables.json
	.venv/bin/python scripts/readme_tables.py build/threads-tables.json

clean:
	rm -rf .venv build

# The hardening stages on their own (make test runs the first two too).
.PHONY: sanitize fuzz valgrind tsan
sanitize:
	bash scripts/sanitize.sh

fuzz:
	bash scripts/fuzz.sh $(or $(FUZZ_SECONDS),60)

valgrind:
	bash scripts/valgrind.sh

tsan:
	bash scripts/tsan.sh
