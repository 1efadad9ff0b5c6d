# cmake -DLOG=<javadoc.log> -P javadoc_warnings.cmake
# Passes when the API documentation was built without a single doclint warning.
if(NOT EXISTS ${LOG})
  message(FATAL_ERROR "${LOG} is missing: build the default target first")
endif()
file(STRINGS ${LOG} lines REGEX ": (warning|error): ")
if(lines)
  list(JOIN lines "\n" text)
  message(FATAL_ERROR "doclint warnings:\n${text}")
endif()
message("ok   the API documentation has no doclint warning")
