"""Exceptions of the amazon_rufus domain."""


class PromptPoolNotReadyError(Exception):
    """The default question bank is missing, malformed or empty; the message says how to repair it."""
