# Runs the tool on the emulated sample registry and shows its exit status,
# which is 33 after a normal run.
execute_process(COMMAND ${TOLVANIK} RESULT_VARIABLE status)
message("(exit status ${status})")
if(NOT status EQUAL 33)
  message(FATAL_ERROR "tolvanik ended with status ${status}, not 33")
endif()
