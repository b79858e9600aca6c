"""candidates"""

__all__ = []
