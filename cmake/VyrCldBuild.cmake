# Warnings and sanitizers, applied per target so that imported dependencies stay untouched.

function(vyr_cld_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
                                             -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual)
    if(VYR_CLD_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

if(VYR_CLD_SANITIZERS)
    list(JOIN VYR_CLD_SANITIZERS "," vyr_cld_sanitize)
    add_compile_options(-fsanitize=${vyr_cld_sanitize} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${vyr_cld_sanitize})
    add_compile_definitions(VYR_CLD_SANITIZED=1)
endif()

# The export attribute `macro` of a service library's header: on Windows the DLL exports what it
# marks and its users import it, elsewhere the header's default visibility stands.
function(vyr_cld_export_attribute target macro)
    if(WIN32)
        target_compile_definitions(${target}
            PRIVATE "${macro}=__declspec(dllexport)"
            INTERFACE "${macro}=__declspec(dllimport)")
    endif()
endfunction()

# Installs the local service: with the bridge's CMake package and headers for hosts that develop
# against it, or, in the Debian layout, as a library private to vyr-cld.
function(vyr_cld_install_local_service target headers)
    if(VYR_CLD_DEBIAN_LAYOUT)
        install(TARGETS ${target}
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/vyr-cld COMPONENT cli NAMELINK_SKIP)
    else()
        install(TARGETS ${target}
            EXPORT VyrCldapiIntegrationTargets
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT cli NAMELINK_COMPONENT dev
            ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli
        )
        install(DIRECTORY ${headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
    endif()
endfunction()
