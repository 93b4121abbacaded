# Fails, naming the files, when a C++ file of the project is not laid out as
# .clang-format says. Run with -DCLANG_FORMAT=... -DSOURCE_DIR=...
set(sources "")
foreach(directory bench cleaner emulation offline platform registry_walk release tests)
  file(GLOB_RECURSE found RELATIVE ${SOURCE_DIR}
       ${SOURCE_DIR}/${directory}/*.cpp ${SOURCE_DIR}/${directory}/*.h)
  list(APPEND sources ${found})
endforeach()
set(unformatted "")
foreach(source IN LISTS sources)
  execute_process(COMMAND ${CLANG_FORMAT} --dry-run --Werror ${source}
                  WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE status
                  OUTPUT_QUIET ERROR_QUIET)
  if(NOT status EQUAL 0)
    list(APPEND unformatted ${source})
  endif()
endforeach()
list(LENGTH sources count)
if(unformatted)
  string(REPLACE ";" "\n  " listed "${unformatted}")
  message(FATAL_ERROR "not formatted (run clang-format -i on them):\n  ${listed}")
endif()
message(STATUS "${count} files formatted")
