"""evaluate"""

__all__ = []
