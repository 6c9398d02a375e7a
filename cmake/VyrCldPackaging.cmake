# The Debian packages, made by CPack from a Release build configured with the `deb` preset
# (scripts/build-debs does both):
#
#   libvyrcldapiintegration<major.minor>  the bridge and the service client interface it calls
#   libvyrcldapiintegration-dev           headers, unversioned links, CMake package, pkg-config file
#   vyr-cld                               the command-line host and its service libraries
#   vyr-cld-server                        the team service's server, on PostgreSQL
#
# The bridge and the service client interface ship together: every host of the bridge loads
# both, they share one version and one soname rule, and neither is of use without the other.
# The local and remote services are private to vyr-cld (its own folder under the library
# directory, found through the program's RUNPATH), so that a later release may change it without a package of
# its own; hosts that develop against it build it from source.

set(vyr_cld_deb_release 1 CACHE STRING "Debian revision of the packages")
set(vyr_cld_deb_maintainer "VyrCldapiIntegration maintainers <maintainers@vyr-cld.example.org>"
    CACHE STRING "Maintainer field of the Debian packages")
set(vyr_cld_deb_version ${PROJECT_VERSION}-${vyr_cld_deb_release})
set(vyr_cld_deb_library libvyrcldapiintegration${VYR_CLD_SOVERSION})

if(VYR_CLD_DEBIAN_LAYOUT AND TARGET vyr-cld)
    set_target_properties(vyr-cld PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}/vyr-cld")
endif()

# What every Debian package carries in /usr/share/doc/<package>: a copyright file and a changelog,
# compressed as Debian does it (best compression, no name or time stamp).
# Lintian's overrides, each with its reason: cmake/debian/lintian-overrides for every package, and
# cmake/debian/<package without soname>.lintian-overrides for one.
string(TIMESTAMP vyr_cld_deb_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP vyr_cld_deb_year "%Y" UTC)
function(vyr_cld_package_docs component package)
    set(folder ${PROJECT_BINARY_DIR}/debian/${package})
    file(MAKE_DIRECTORY ${folder})
    configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in ${folder}/copyright @ONLY)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${folder}/changelog.Debian @ONLY)
    execute_process(COMMAND gzip -9nf ${folder}/changelog.Debian)
    install(FILES ${folder}/copyright ${folder}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
    # The overrides every package shares, then the package's own (named without the soname).
    configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/lintian-overrides ${folder}/${package} @ONLY)
    string(REPLACE "${VYR_CLD_SOVERSION}" "" own ${PROJECT_SOURCE_DIR}/cmake/debian/${package}.lintian-overrides)
    if(EXISTS ${own})
        configure_file(${own} ${folder}/own-overrides @ONLY)
        file(READ ${folder}/own-overrides text)
        file(APPEND ${folder}/${package} "${text}")
    endif()
    install(FILES ${folder}/${package} DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT ${component})
endfunction()

if(VYR_CLD_DEBIAN_LAYOUT)
    vyr_cld_package_docs(runtime ${vyr_cld_deb_library})
    vyr_cld_package_docs(dev libvyrcldapiintegration-dev)
    if(TARGET vyr-cld)
        vyr_cld_package_docs(cli vyr-cld)
        set(vyr_cld_man ${PROJECT_BINARY_DIR}/debian/vyr-cld.1)
        configure_file(${PROJECT_SOURCE_DIR}/docs/vyr-cld.1 ${vyr_cld_man} COPYONLY)
        execute_process(COMMAND gzip -9nf ${vyr_cld_man})
        install(FILES ${vyr_cld_man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
    endif()
    if(TARGET vyr-cld-server)
        vyr_cld_package_docs(server vyr-cld-server)
        set(vyr_cld_server_man ${PROJECT_BINARY_DIR}/debian/vyr-cld-server.1)
        configure_file(${PROJECT_SOURCE_DIR}/docs/vyr-cld-server.1 ${vyr_cld_server_man} COPYONLY)
        execute_process(COMMAND gzip -9nf ${vyr_cld_server_man})
        install(FILES ${vyr_cld_server_man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT server)
    endif()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vyrcldapiintegration)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's description begins with its own synopsis. CPack puts the package summary in front
# of it unless the summary is CPack's placeholder, so the summary is set to exactly that.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
if(TARGET vyr-cld)
    list(APPEND CPACK_COMPONENTS_ALL cli)
endif()
if(TARGET vyr-cld-server)
    list(APPEND CPACK_COMPONENTS_ALL server)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${vyr_cld_deb_release})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${vyr_cld_deb_maintainer}")
set(CPACK_DEBIAN_PACKAGE_SOURCE vyrcldapiintegration)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Dependencies on other packages come from the binaries; the packages' own libraries are found
# in the build tree, and each package names its siblings itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${PROJECT_BINARY_DIR} ${PROJECT_BINARY_DIR}/src/client ${PROJECT_BINARY_DIR}/local ${PROJECT_BINARY_DIR}/remote)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The soname carries major.minor, so any later patch release of the same soname will do.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${vyr_cld_deb_library})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The libraries are in the loader's folders: its cache is refreshed by dpkg's ldconfig trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "bridge between a desktop host and a cloud document service
VyrCldapiIntegration lets a native desktop application work with a cloud
project-and-document service through plain C++ standard-library calls.
.
This package contains the shared libraries: the bridge and the service
client interface it calls.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvyrcldapiintegration-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${vyr_cld_deb_library} (= ${vyr_cld_deb_version})")
set(CPACK_DEBIAN_DEV_DESCRIPTION "bridge between a desktop host and a cloud document service (development)
VyrCldapiIntegration lets a native desktop application work with a cloud
project-and-document service through plain C++ standard-library calls.
.
This package contains the C++20 headers, the CMake package
(find_package(VyrCldapiIntegration)) and the pkg-config file.")

set(CPACK_DEBIAN_CLI_PACKAGE_NAME vyr-cld)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "${vyr_cld_deb_library} (= ${vyr_cld_deb_version})")
set(CPACK_DEBIAN_CLI_DESCRIPTION "command-line host of the VyrCldapiIntegration bridge
vyr-cld works with projects and files of a local service store shared by
several users: lock, upload, download, rename and sync files, list projects,
partitions and status events. Each command is its own process, as each user
of a desktop host is.
.
The local service keeps its records in SQLite and file contents in a folder;
with --server, vyr-cld works on a team service (vyr-cld-server) instead.")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME vyr-cld-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS "postgresql (>= 15)")
set(CPACK_DEBIAN_SERVER_DESCRIPTION "team server of the VyrCldapiIntegration document service
vyr-cld-server keeps a team's projects, files, revisions, locks and file
contents in PostgreSQL and serves them over HTTP (TLS with a certificate) to
the remote service of desktop hosts and to vyr-cld. Users authenticate with
bearer tokens; any number of server processes may serve one database.")

include(CPack)
