quarn_library(quarn_iter SOURCES n_iter.cc DEPS quarn_common)
