# Runs the example host (through EMULATOR, "|" between its words, for a cross build) and compares
# what it prints with EXPECTED, line for line; line ends are the platform's.
string(REPLACE "|" ";" emulator "${EMULATOR}")
execute_process(COMMAND ${emulator} ${PROGRAM} OUTPUT_VARIABLE printed RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "the example host failed (${status}):\n${printed}")
endif()
string(REPLACE "\r\n" "\n" printed "${printed}")
file(READ ${EXPECTED} expected)
if(NOT printed STREQUAL expected)
    message(FATAL_ERROR "the example host printed:\n${printed}\ninstead of:\n${expected}")
endif()
message(STATUS "the example host printed what it should")
