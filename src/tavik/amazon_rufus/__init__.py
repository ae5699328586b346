"""The amazon_rufus package of tavik."""

# The one place of the version number: the build reads it from here into the distribution's metadata.
__version__ = "0.1.0"
