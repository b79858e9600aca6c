"""tabular"""

__all__ = []
