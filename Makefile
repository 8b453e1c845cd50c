# The two commands: `make demo` runs the built-in example, `make test` every test.
.PHONY: demo test clean

demo:
	bash scripts/demo.sh

test:
	bash scripts/test.sh

clean:
	rm -rf .venv build
