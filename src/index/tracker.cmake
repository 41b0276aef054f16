# Reference-list trackers, query iterators and candidate-line sources. Defined only once
# the libraries it builds on exist, so that the tree configures while they are written.
if(TARGET quarn_index AND TARGET quarn_iter AND TARGET quarn_planner)
  quarn_library(quarn_tracker
    SOURCES tracker.cc line_source.cc
    DEPS quarn_index quarn_iter quarn_planner quarn_common)
endif()
