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
