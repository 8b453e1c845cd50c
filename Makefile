# The two commands: `make demo` runs the built-in example, `make test` every test.
# `make bench` runs the benchmark against the peers (ARGS=--quick for a shorter run).
.PHONY: demo test bench clean

demo:
	bash scripts/demo.sh

test:
	bash scripts/test.sh

bench:
	bash scripts/bench.sh $(ARGS)

clean:
	rm -rf .venv build

# The hardening stages on their own (make test runs the first two too).
.PHONY: sanitize fuzz valgrind
sanitize:
	bash scripts/sanitize.sh

fuzz:
	bash scripts/fuzz.sh $(or $(FUZZ_SECONDS),60)

valgrind:
	bash scripts/valgrind.sh
