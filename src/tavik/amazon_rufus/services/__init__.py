"""Service layer: the report writer (rundown_writer) and the question bank reader (prompt_pool), both native."""
