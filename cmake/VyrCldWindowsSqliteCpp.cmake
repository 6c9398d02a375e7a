# SQLiteCpp for Windows builds. Debian has no mingw-w64 build of it: scripts/install-deps --windows
# fetches Debian's own source package, outside the repository, and this compiles its sources for
# the target as SQLiteCpp, the name Linux builds find it under, on SQLite::SQLite3 made beside it.
set(VYR_CLD_WINDOWS_SQLITECPP /usr/local/src/vyr-cld/sqlitecpp CACHE PATH
    "SQLiteCpp's src/ and include/ for Windows builds (scripts/install-deps --windows)")

file(GLOB vyr_cld_sqlitecpp_sources ${VYR_CLD_WINDOWS_SQLITECPP}/src/*.cpp)
if(NOT TARGET SQLite::SQLite3 OR NOT vyr_cld_sqlitecpp_sources
   OR NOT EXISTS ${VYR_CLD_WINDOWS_SQLITECPP}/include/SQLiteCpp/SQLiteCpp.h)
    message(STATUS "No SQLiteCpp sources in ${VYR_CLD_WINDOWS_SQLITECPP}, or no SQLite: the Windows "
                   "client is not built (scripts/install-deps --windows fetches them)")
    return()
endif()

add_library(SQLiteCpp STATIC ${vyr_cld_sqlitecpp_sources})
target_include_directories(SQLiteCpp SYSTEM PUBLIC $<BUILD_INTERFACE:${VYR_CLD_WINDOWS_SQLITECPP}/include>)
target_link_libraries(SQLiteCpp PUBLIC SQLite::SQLite3)
# SQLite is made without loading extensions from files, and the wrapper is told so. The code is
# SQLiteCpp's, so the project's warnings stay off it.
target_compile_definitions(SQLiteCpp PRIVATE SQLITE_OMIT_LOAD_EXTENSION)
target_compile_options(SQLiteCpp PRIVATE -w)
set_target_properties(SQLiteCpp PROPERTIES POSITION_INDEPENDENT_CODE ON)
