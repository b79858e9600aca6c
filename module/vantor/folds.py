"""folds"""

__all__ = []
