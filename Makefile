# The two commands: `make demo` runs the built-in example, `make test` every test.
# `make bench` runs the benchmark against the peers (ARGS=--quick for a shorter run),
# `make quality` the quality benchmark of discovery (ARGS=--quick, ARGS=--write-readme).
.PHONY: demo test bench quality clean

demo:
	bash scripts/demo.sh

test:
	bash scripts/test.sh

bench:
	bash scripts/bench.sh $(ARGS)

quality:
	bash scripts/quality.sh $(ARGS)

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
