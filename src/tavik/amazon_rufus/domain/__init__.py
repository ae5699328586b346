"""Domain objects of the amazon_rufus package."""
