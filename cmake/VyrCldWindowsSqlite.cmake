# SQLite for Windows builds. Debian has no mingw-w64 build of it: scripts/install-deps --windows
# makes the single-file form from Debian's own source package, outside the repository, and this
# compiles it for the target as SQLite::SQLite3, the name Linux builds find it under.
set(VYR_CLD_WINDOWS_SQLITE /usr/local/src/vyr-cld/sqlite3 CACHE PATH
    "SQLite's sqlite3.c and sqlite3.h for Windows builds (scripts/install-deps --windows)")

if(NOT EXISTS ${VYR_CLD_WINDOWS_SQLITE}/sqlite3.c OR NOT EXISTS ${VYR_CLD_WINDOWS_SQLITE}/sqlite3.h)
    message(STATUS "No SQLite sources in ${VYR_CLD_WINDOWS_SQLITE}: the Windows client is not built "
                   "(scripts/install-deps --windows fetches them)")
    return()
endif()

enable_language(C)
add_library(vyr_cld_sqlite3 STATIC ${VYR_CLD_WINDOWS_SQLITE}/sqlite3.c)
add_library(SQLite::SQLite3 ALIAS vyr_cld_sqlite3)
target_include_directories(vyr_cld_sqlite3 SYSTEM PUBLIC $<BUILD_INTERFACE:${VYR_CLD_WINDOWS_SQLITE}>)
# Serialized threading, as Debian builds it; no extensions loaded from files; double-quoted
# strings are identifiers only. The file is SQLite's, so the project's warnings stay off it.
target_compile_definitions(vyr_cld_sqlite3 PRIVATE
    SQLITE_THREADSAFE=1
    SQLITE_OMIT_LOAD_EXTENSION
    SQLITE_DQS=0
)
target_compile_options(vyr_cld_sqlite3 PRIVATE -w)
set_target_properties(vyr_cld_sqlite3 PROPERTIES POSITION_INDEPENDENT_CODE ON)
