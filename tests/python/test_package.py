import ast
import pathlib
import re

import pytest

import _zef_cpp
import zef

SITE = pathlib.Path(_zef_cpp.__file__).parent
STUB = SITE / "_zef_cpp.pyi"


def test_zef_reexports_the_module_and_is_typed():
    assert zef.__all__ == [
        "DiscoveredMotif",
        "Discovery",
        "Miner",
        "Motif",
        "PatternMiner",
        "TooManyPatterns",
        "discover",
        "mine",
        "sax",
    ]
    for name in ["Miner", "Motif", "PatternMiner", "sax"]:
        assert getattr(zef, name) is getattr(_zef_cpp, name)
    assert (pathlib.Path(zef.__file__).parent / "py.typed").is_file()


@pytest.mark.not_sanitized(reason="checks the installed layout, not the sanitized build")
def test_the_stub_is_installed_beside_the_module_and_as_a_stub_package():
    assert STUB.is_file()
    assert (SITE / "_zef_cpp-stubs" / "__init__.pyi").read_text() == STUB.read_text()


def split_top_level(text):
    """Splits at the commas that are not inside brackets."""
    parts, depth, current = [], 0, ""
    for char in text:
        depth += char in "[(" and 1 or char in "])" and -1 or 0
        if char == "," and depth == 0:
            parts.append(current.strip())
            current = ""
        else:
            current += char
    return parts + ([current.strip()] if current.strip() else [])


def runtime_signature(function, method=True):
    """(arguments as (name, type, default), result type) from a pybind11 docstring; self left out."""
    match = re.fullmatch(r"\w*\((.*)\) -> (.*)\n", function.__doc__)
    arguments = []
    for part in split_top_level(match.group(1))[1 if method else 0 :]:
        declared, _, default = part.partition(" = ")
        name, _, kind = declared.partition(": ")
        arguments.append((name, kind, ast.literal_eval(default) if default else None))
    return arguments, match.group(2)


def stub_signature(node, method=True):
    def kind(annotation):
        # The stub widens what a call accepts (any sequence, a symbol as a str or a byte).
        return ast.unparse(annotation).replace("Sequence", "List").replace("_Symbol", "str")

    positional = node.args.posonlyargs + node.args.args
    defaults = [None] * (len(positional) - len(node.args.defaults)) + [ast.literal_eval(d) for d in node.args.defaults]
    pairs = list(zip(positional, defaults, strict=False))[1 if method else 0 :]
    arguments = [(a.arg, kind(a.annotation), d) for a, d in pairs]
    return arguments, ast.unparse(node.returns)


def test_the_stub_gives_every_signature_that_the_module_has():
    tree = ast.parse(STUB.read_text())
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}
    functions = {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}
    sax = runtime_signature(_zef_cpp.sax, method=False)
    assert sax == (
        [("ts", "List[List[float]]", None), ("seglen", "int", None), ("alphabet", "int", None)],
        "List[List[str]]",
    )
    assert stub_signature(functions["sax"], method=False) == sax
    checked = 0
    for name in ("Motif", "Miner", "PatternMiner"):
        runtime_class = getattr(_zef_cpp, name)
        members = {node.name: node for node in classes[name].body if isinstance(node, ast.FunctionDef)}
        for member, value in vars(runtime_class).items():
            if isinstance(value, property):
                arguments, result = runtime_signature(value.fget)
                assert ast.unparse(members[member].returns) == result.replace("_zef_cpp.", ""), member
                assert any(ast.unparse(d) == "property" for d in members[member].decorator_list)
                checked += 1
            elif type(value).__name__ == "instancemethod":  # a function bound by pybind11
                arguments, result = runtime_signature(value)
                expected = (
                    [(a, k.replace("_zef_cpp.", ""), d) for a, k, d in arguments],
                    result.replace("_zef_cpp.", ""),
                )
                assert stub_signature(members[member]) == expected, f"{name}.{member}"
                checked += 1
    assert checked == 8 + 3 + 3, "Motif: 7 properties and __repr__; Miner, PatternMiner: __init__, mine, a property"
    # The methods that take their argument by position only say so.
    for name in ("Miner", "PatternMiner"):
        mine = next(n for n in classes[name].body if isinstance(n, ast.FunctionDef) and n.name == "mine")
        assert [a.arg for a in mine.args.posonlyargs] == ["self", "arg0"]


def package_modules():
    """Each module of the zef package (by dotted name) with its syntax tree; the native module as a leaf."""
    root = pathlib.Path(zef.__file__).parent
    modules = {"zef._native": None}
    for path in root.rglob("*.py"):
        parts = list(path.relative_to(root.parent).with_suffix("").parts)
        modules[".".join(parts[:-1] if parts[-1] == "__init__" else parts)] = ast.parse(path.read_text())
    return modules


def test_every_module_says_what_it_exports_and_no_imports_go_round():
    modules = package_modules()
    imports = {name: set() for name in modules}
    for name, tree in modules.items():
        if tree is None:
            continue
        assert any(
            isinstance(node, ast.Assign) and any(getattr(t, "id", "") == "__all__" for t in node.targets)
            for node in tree.body
        ), f"{name} has no __all__"
        for node in ast.walk(tree):
            if isinstance(node, ast.ImportFrom) and node.module in modules:
                # "from package import module" imports the module, not the package's own names.
                for alias in node.names:
                    target = f"{node.module}.{alias.name}"
                    imports[name].add(target if target in modules else node.module)

    def reached(start):
        seen, todo = set(), list(imports[start])
        while todo:
            module = todo.pop()
            if module not in seen:
                seen.add(module)
                todo.extend(imports[module])
        return seen

    assert [name for name in modules if name in reached(name)] == []
