# The two commands: `make demo` runs the built-in example, `make test` every test.
.PHONY: demo test clean

demo:
	bash scripts/demo.sh

test:
	bash scripts/test.sh

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
