# Cross-building the Windows x64 DLLs with mingw-w64 (GCC, posix threads) on Linux; test programs
# run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(vyr_cld_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${vyr_cld_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${vyr_cld_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${vyr_cld_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${vyr_cld_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The 64-bit loader is not on PATH; Debian keeps it in Wine's library folder.
find_program(VYR_CLD_WINE64 wine64 HINTS /usr/lib/wine /usr/lib64/wine REQUIRED)

# The C++ runtime DLLs the programs load.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE vyr_cld_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(vyr_cld_runtime_dlls "${vyr_cld_libstdcxx}" DIRECTORY)

# Every program that ctest runs goes through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run ${VYR_CLD_WINE64} ${vyr_cld_runtime_dlls})
