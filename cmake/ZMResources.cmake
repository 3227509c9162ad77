# Embedding of raw-data resources into programs; filled in by the resource generator.
