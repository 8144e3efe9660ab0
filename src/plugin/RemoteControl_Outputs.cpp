// Filled in by the output work.
