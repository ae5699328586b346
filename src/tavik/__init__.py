"""tavik: puts batches of shopping questions to a shopping assistant and shows the answers in a terminal."""
