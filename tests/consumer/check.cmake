# Installs the build into a scratch prefix, then builds and runs the consumer against it twice:
# once through the CMake package, once through pkg-config. A cross build passes its toolchain file
# and the emulator that runs its programs ("|" between the emulator's words).
set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})

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
run(${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/cmake-build -G Ninja -DCMAKE_CXX_COMPILER=${CXX} ${toolchain}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK}/cmake-build)
run(${launch} ${WORK}/cmake-build/consumer${SUFFIX})
if(EMULATOR)
    run(${launch} ${WORK}/cmake-build/windows_host${SUFFIX})
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/lib/pkgconfig
                        pkg-config --cflags --libs VyrCldapiIntegration
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know VyrCldapiIntegration")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CXX} ${SOURCE}/main.cpp ${flags} -o ${WORK}/pkg-config-consumer${SUFFIX})
run(${launch} ${WORK}/pkg-config-consumer${SUFFIX})
