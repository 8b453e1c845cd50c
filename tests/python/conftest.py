import pathlib
import sys

# The example data generator lives beside the demo, outside the module.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "examples"))
