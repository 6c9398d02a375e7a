# Builds the locales the tests use into FOLDER, unless the machine already has them. The tests
# find them there through LOCPATH; a test program run by hand builds what it lacks itself.
cmake_policy(VERSION 3.25)
set(locales en_US.UTF-8 en_US.ISO-8859-1 en_US.ISO-8859-16)

execute_process(COMMAND locale -a OUTPUT_VARIABLE installed)
string(REPLACE "\n" ";" installed "${installed}")
string(TOLOWER "${installed}" installed)
file(MAKE_DIRECTORY ${FOLDER})
foreach(locale IN LISTS locales)
    # "locale -a" writes the codeset in lower case without dashes: en_US.iso88591.
    string(REGEX MATCH "^([^.]+)\\.(.+)$" ignored ${locale})
    set(source ${CMAKE_MATCH_1})
    set(charmap ${CMAKE_MATCH_2})
    string(TOLOWER "${source}.${charmap}" listed)
    string(REPLACE "-" "" listed "${listed}")
    if(listed IN_LIST installed OR EXISTS ${FOLDER}/${locale})
        continue()
    endif()
    execute_process(COMMAND localedef -i ${source} -f ${charmap} ${FOLDER}/${locale}
                    RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE errors)
    # localedef warns with status 1 and still writes the locale; only a missing result fails.
    if(NOT EXISTS ${FOLDER}/${locale})
        message(FATAL_ERROR "localedef could not build ${locale} (${status}): ${errors}")
    endif()
endforeach()
