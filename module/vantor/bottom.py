"""Bottom clauses of examples and example sets."""
from ._core import variable_name, variabilise_example

__all__ = ["variable_name", "variabilise_example"]
