"""abduce"""

__all__ = []
