# Whether this machine can run the programs this build makes, and tests that say so.
#
# Host builds always run, and so do 64-bit Windows builds (64-bit Wine is an x86-64 program). 32-bit
# builds (x86 Linux, and 32-bit Windows under Wine, whose loader is a 32-bit program) run only
# where the kernel executes 32-bit x86 programs; tools/probe-x86.sh
# finds out at configure time. Where they cannot run, every test that would execute one is still
# registered, so that CTest lists it, but reports itself as skipped with the reason, and
# everything that needs no 32-bit execution (the build, the export-table checks) runs as usual.
#
#   JTZ_TARGET_RUNS          ON or OFF
#   JTZ_TARGET_SKIP_REASON   why not, when OFF
#   jtz_add_test(NAME <name> COMMAND ...)        add_test, or a skipped stand-in
#   jtz_discover_tests(<target> [args...])        gtest_discover_tests, or one skipped stand-in
set(JTZ_TARGET_RUNS ON)
set(JTZ_TARGET_SKIP_REASON "" CACHE INTERNAL "")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  execute_process(COMMAND ${CMAKE_SOURCE_DIR}/tools/probe-x86.sh
                  RESULT_VARIABLE probe_status OUTPUT_VARIABLE probe_out
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT probe_status EQUAL 0)
    set(JTZ_TARGET_RUNS OFF)
    set(JTZ_TARGET_SKIP_REASON "${probe_out}")
    # Kept in the cache too, where the test runner's summary reads it.
    set(JTZ_TARGET_SKIP_REASON "${probe_out}" CACHE INTERNAL "")
    message(STATUS "32-bit programs cannot run here: ${probe_out}; "
                   "the tests that run them are reported as skipped")
  endif()
endif()

function(_jtz_skipped_test name)
  add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo
           "skipped: ${name} needs 32-bit x86 execution: ${JTZ_TARGET_SKIP_REASON}")
  set_tests_properties(${name} PROPERTIES SKIP_REGULAR_EXPRESSION "skipped: ")
endfunction()

function(jtz_add_test)
  cmake_parse_arguments(T "" "NAME" "" ${ARGN})
  if(JTZ_TARGET_RUNS)
    add_test(${ARGN})
  else()
    _jtz_skipped_test(${T_NAME})
  endif()
endfunction()

function(jtz_discover_tests target)
  if(JTZ_TARGET_RUNS)
    gtest_discover_tests(${target} ${ARGN})
  else()
    _jtz_skipped_test(${target})
  endif()
endfunction()
