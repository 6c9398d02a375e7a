# Compares the names of the library's defined dynamic symbols with the expected entry points.
execute_process(
    COMMAND ${NM} -DC --defined-only ${LIBRARY}
    OUTPUT_VARIABLE listing
    RESULT_VARIABLE status
)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()

set(actual "")
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
    # "<address> <type> <name>(<parameters>)"; keep the qualified name.
    if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] ([^(]+)")
        # A function without parameters that returns a tagged type (std::string inside) carries
        # the tag in its name, e.g. "[abi:cxx11]"; the entry point is the name without it.
        string(REGEX REPLACE "\\[abi:[^]]*\\]" "" name "${CMAKE_MATCH_1}")
        list(APPEND actual "${name}")
    endif()
endforeach()

set(expected "")
foreach(file IN LISTS EXPECTED)
    file(STRINGS ${file} names REGEX "^[^#].*")
    list(APPEND expected ${names})
endforeach()

list(SORT actual)
list(SORT expected)
set(missing ${expected})
list(REMOVE_ITEM missing ${actual})
set(unexpected ${actual})
list(REMOVE_ITEM unexpected ${expected})
list(LENGTH actual count)

if(missing OR unexpected)
    string(REPLACE ";" "\n  " missing "${missing}")
    string(REPLACE ";" "\n  " unexpected "${unexpected}")
    message(FATAL_ERROR "Exported symbols differ from the entry points.\nMissing:\n  ${missing}\nUnexpected:\n  ${unexpected}")
endif()
message(STATUS "${count} exported symbols, exactly the expected entry points")
