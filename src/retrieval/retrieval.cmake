# Search context, record merger and data sources.
if(TARGET quarn_tracker AND TARGET quarn_records AND TARGET quarn_pattern)
  quarn_library(quarn_retrieval
    SOURCES search_context.cc search_compile.cc tgdb_merger.cc data_source.cc
    DEPS quarn_tracker quarn_records quarn_pattern quarn_planner quarn_index quarn_common
         Threads::Threads)
endif()
