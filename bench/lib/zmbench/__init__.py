"""Benchmark driver of bench/run: data set, measurements, result table."""
