quarn_library(quarn_records
  SOURCES annotation.cc rdata_order.cc rdata_text.cc rrkit.cc
  DEPS quarn_common ${LDNS_LIB})
