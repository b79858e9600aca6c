"""learn"""

__all__ = []
