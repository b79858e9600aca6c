"""data"""

__all__ = []
