# The tool's own help: the top-level usage with its module list, then -h.
show debug
show debug -h
