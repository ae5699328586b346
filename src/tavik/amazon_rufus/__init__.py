"""The amazon_rufus package of tavik."""
