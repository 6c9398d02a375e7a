# Installs the build into a scratch prefix, then builds and runs the consumer against it twice:
# once through the CMake package, once through pkg-config. Also checks what the version promises:
# both libraries carry a soname of major.minor, and the package refuses another major or minor;
# a cross build passes its toolchain file and the emulator that runs its programs ("|" between
# the emulator's words).
set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})
string(REGEX MATCH "^([0-9]+)\\.([0-9]+)" ignored ${VERSION})
set(major ${CMAKE_MATCH_1})
set(minor ${CMAKE_MATCH_2})

if(EMULATOR)
    # The installed DLLs are where a Windows program looks for them: beside it, or on its path.
    string(REPLACE "|" ";" emulator "${EMULATOR}")
    set(launch ${CMAKE_COMMAND} -E env WINEPATH=Z:${prefix}/bin ${emulator})
    # The toolchain keeps package searches inside the target's root; name the package's folder.
    set(toolchain -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
        -DVyrCldapiIntegration_DIR=${prefix}/lib/cmake/VyrCldapiIntegration)
else()
    set(launch ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/lib)
    set(toolchain)
endif()

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "failed: ${ARGN}\n${out}")
    endif()
    message(STATUS "${out}")
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})

# A DLL carries no soname; its import library and the package version stand for it.
if(NOT EMULATOR)
    foreach(library VyrCldapiIntegration VyrCldapi)
        set(file ${prefix}/lib/lib${library}.so.${major}.${minor})
        if(NOT EXISTS ${file})
            message(FATAL_ERROR "${file} is not installed")
        endif()
        execute_process(COMMAND readelf -d ${file} OUTPUT_VARIABLE dynamic)
        if(NOT dynamic MATCHES "Library soname: \\[lib${library}\\.so\\.${major}\\.${minor}\\]")
            message(FATAL_ERROR "lib${library} does not carry the soname lib${library}.so.${major}.${minor}")
        endif()
    endforeach()
endif()

# A host written for another major, or before 1.0 another minor, is refused. The version file
# refuses before the package's targets load, so plain script mode can ask.
math(EXPR next_major "${major} + 1")
math(EXPR next_minor "${minor} + 1")
set(refused ${next_major}.0)
if(major EQUAL 0)
    list(APPEND refused ${major}.${next_minor})
    if(minor GREATER 0)
        math(EXPR previous_minor "${minor} - 1")
        list(APPEND refused ${major}.${previous_minor})
    endif()
endif()
foreach(requested IN LISTS refused)
    unset(VyrCldapiIntegration_DIR CACHE)
    find_package(VyrCldapiIntegration ${requested} CONFIG QUIET PATHS ${prefix} NO_DEFAULT_PATH)
    if(VyrCldapiIntegration_FOUND OR NOT VyrCldapiIntegration_CONSIDERED_VERSIONS STREQUAL VERSION)
        message(FATAL_ERROR "a request for ${requested} was not refused by ${VERSION} "
                            "(considered: ${VyrCldapiIntegration_CONSIDERED_VERSIONS})")
    endif()
endforeach()

run(${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/cmake-build -G Ninja -DCMAKE_CXX_COMPILER=${CXX} ${toolchain}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release -DVYR_CLD_VERSION=${major}.${minor})
run(${CMAKE_COMMAND} --build ${WORK}/cmake-build)
run(${launch} ${WORK}/cmake-build/consumer${SUFFIX})
if(EMULATOR)
    run(${launch} ${WORK}/cmake-build/windows_host${SUFFIX})
    if(SERVICES)
        if(NOT EXISTS ${WORK}/cmake-build/windows_services${SUFFIX})
            message(FATAL_ERROR "the installed package offers no VyrCldapiRemote and VyrCldapiLocal")
        endif()
        run(${launch} ${WORK}/cmake-build/windows_services${SUFFIX})
    endif()
endif()

set(pkg_config ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/lib/pkgconfig pkg-config)
execute_process(COMMAND ${pkg_config} --exact-version=${VERSION} VyrCldapiIntegration RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know VyrCldapiIntegration ${VERSION}")
endif()
execute_process(COMMAND ${pkg_config} --cflags --libs VyrCldapiIntegration
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CXX} ${SOURCE}/main.cpp ${flags} -o ${WORK}/pkg-config-consumer${SUFFIX})
run(${launch} ${WORK}/pkg-config-consumer${SUFFIX})
