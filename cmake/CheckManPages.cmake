# Renders each manual page in PAGES with GROFF and fails on any warning or
# on a page that is missing or renders to nothing.
foreach(page IN LISTS PAGES)
  if(NOT EXISTS "${page}")
    message(FATAL_ERROR "${page}: not built")
  endif()
  execute_process(COMMAND "${GROFF}" -man -Tutf8 -ww -P-cbou "${page}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE text ERROR_VARIABLE warnings)
  if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "${page}: groff says:\n${warnings}")
  endif()
  if(NOT text MATCHES "NAME" OR NOT text MATCHES "DESCRIPTION")
    message(FATAL_ERROR "${page}: no NAME or DESCRIPTION section")
  endif()
endforeach()
list(LENGTH PAGES count)
message(STATUS "${count} manual pages render without warnings")
