# The header-only packages of the client for Windows builds: nlohmann-json, CLI11 and fmt, from
# the machine's own Debian packages. Their folder /usr/include holds glibc's headers too, which
# must never reach a mingw-w64 compile, so the build tree gets a folder of links to just these
# three, and the imported targets Linux builds find name it.
set(vyr_cld_header_packages ${PROJECT_BINARY_DIR}/header-packages)
set(vyr_cld_header_source /usr/include CACHE PATH "Where the header-only packages' folders are")
foreach(folder nlohmann CLI fmt)
    if(NOT IS_DIRECTORY ${vyr_cld_header_source}/${folder})
        message(STATUS "No ${vyr_cld_header_source}/${folder}: the Windows client is not built "
                       "(scripts/install-deps installs nlohmann-json3-dev, libcli11-dev and libfmt-dev)")
        return()
    endif()
endforeach()
file(MAKE_DIRECTORY ${vyr_cld_header_packages})
foreach(folder nlohmann CLI fmt)
    file(CREATE_LINK ${vyr_cld_header_source}/${folder} ${vyr_cld_header_packages}/${folder} SYMBOLIC)
endforeach()

foreach(target nlohmann_json::nlohmann_json CLI11::CLI11 fmt::fmt)
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${vyr_cld_header_packages})
endforeach()
# fmt's library is not built for the target: all of it from its headers.
set_target_properties(fmt::fmt PROPERTIES INTERFACE_COMPILE_DEFINITIONS FMT_HEADER_ONLY=1)
