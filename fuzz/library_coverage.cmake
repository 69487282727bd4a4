# Runs a fuzz target for a moment and fails unless libFuzzer counts library
# functions among those the run covered. A library built without coverage
# instrumentation leaves the fuzzer blind to the code it is there to explore:
# only the target's own lines would be listed.
#
#   cmake -DTARGET=<fuzz target> -DLIBRARY_SOURCES=<library source directory>
#         -DSYMBOLIZER=<llvm-symbolizer> -P library_coverage.cmake
foreach(name TARGET LIBRARY_SOURCES SYMBOLIZER)
  if(NOT ${name})
    message(FATAL_ERROR "library_coverage.cmake: ${name} is not set")
  endif()
endforeach()

# -print_coverage names every instrumented function with its source file,
# which takes the symbolizer.
set(ENV{ASAN_OPTIONS} "external_symbolizer_path=${SYMBOLIZER}")
execute_process(COMMAND ${TARGET} -runs=200 -seed=1 -print_coverage=1
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TARGET} failed (${status}):\n${output}")
endif()

string(REGEX MATCHALL "\nCOVERED_FUNC: [^\n]*" covered "\n${output}")
set(in_library "")
foreach(line IN LISTS covered)
  string(FIND "${line}" " ${LIBRARY_SOURCES}/" at)
  if(at GREATER -1)
    string(REGEX REPLACE "^\nCOVERED_FUNC: hits: [0-9]+ " "" line "${line}")
    list(APPEND in_library "${line}")
  endif()
endforeach()

list(LENGTH covered all)
list(LENGTH in_library count)
if(count EQUAL 0)
  message(FATAL_ERROR
    "${TARGET}: none of the ${all} covered functions is in ${LIBRARY_SOURCES}: "
    "the library carries no coverage counters (built without -fsanitize=fuzzer-no-link?)")
endif()
list(JOIN in_library "\n  " listing)
message(STATUS "${count} library functions covered:\n  ${listing}")
