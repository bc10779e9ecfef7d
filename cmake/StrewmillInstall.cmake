# Installation, the exported CMake package and the Debian packages.
#
# Two components: `runtime` (the programs, the man page, the bash completion
# and the README) and `development` (static libraries, public headers and the
# strewmill CMake package for `find_package(strewmill CONFIG)`). `cpack -G DEB`
# turns them into strewmill_<version>_<arch>.deb and strewmill-dev_<...>.deb.

include(CMakePackageConfigHelpers)

set(STREWMILL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/strewmill)

# --- programs --------------------------------------------------------------

install(TARGETS strewmill RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
# The companion tools, when this tree builds them.
foreach(tool IN ITEMS strewmill-worldgen strewmill-diff strewmill-view)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  endif()
endforeach()

# Man pages are installed compressed, as Debian expects; -n keeps the file
# name and time out of the archive so the package is reproducible.
find_program(STREWMILL_GZIP gzip)
set(strewmill_man_source ${PROJECT_SOURCE_DIR}/docs/strewmill.1)
if(STREWMILL_GZIP)
  set(strewmill_man_page ${PROJECT_BINARY_DIR}/docs/strewmill.1.gz)
  add_custom_command(
    OUTPUT ${strewmill_man_page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/docs
    COMMAND ${CMAKE_COMMAND} -E copy ${strewmill_man_source} ${PROJECT_BINARY_DIR}/docs/strewmill.1
    COMMAND ${STREWMILL_GZIP} -9 -n -f ${PROJECT_BINARY_DIR}/docs/strewmill.1
    DEPENDS ${strewmill_man_source}
    COMMENT "Compressing the strewmill(1) man page"
    VERBATIM)
  add_custom_target(strewmill_man_page ALL DEPENDS ${strewmill_man_page})
else()
  set(strewmill_man_page ${strewmill_man_source})
endif()
install(FILES ${strewmill_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)

install(FILES ${PROJECT_SOURCE_DIR}/completions/strewmill.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME strewmill COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT runtime)

# --- libraries and the CMake package -----------------------------------------

install(TARGETS strewmill_common strewmill_dat strewmill_engine
        EXPORT strewmill-targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/strewmill COMPONENT development)
install(EXPORT strewmill-targets
        NAMESPACE strewmill::
        FILE strewmill-targets.cmake
        DESTINATION ${STREWMILL_INSTALL_CMAKEDIR}
        COMPONENT development)

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/strewmill-config.cmake.in
  ${PROJECT_BINARY_DIR}/cmake/strewmill-config.cmake
  INSTALL_DESTINATION ${STREWMILL_INSTALL_CMAKEDIR})
# Before 1.0 a minor release may change the API and the bit-exact output.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/cmake/strewmill-config-version.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cmake/strewmill-config.cmake
              ${PROJECT_BINARY_DIR}/cmake/strewmill-config-version.cmake
        DESTINATION ${STREWMILL_INSTALL_CMAKEDIR}
        COMPONENT development)

# --- Debian packages -------------------------------------------------------------

set(STREWMILL_PACKAGE_MAINTAINER
    "strewmill maintainers <maintainers@users.noreply.c-seed-2440d3e6.example>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_PACKAGE_NAME strewmill)
set(CPACK_PACKAGE_VENDOR "strewmill")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${STREWMILL_PACKAGE_MAINTAINER}")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_FILE_NAME "strewmill-${PROJECT_VERSION}")
set(CPACK_COMPONENTS_ALL runtime development)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${STREWMILL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Each component's description below starts with its one-line synopsis.
# Library dependencies of the programs, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME strewmill)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "bake procedural game scenery into reproducible placement lists
strewmill replays the game client's procedural scenery derivation offline,
one landblock at a time, from the retail DAT archives, and writes one JSONL
placement list per landblock plus SHA-256 files that tie the output to the
exact archives, tool version, region and bake mode that produced it.")
if(TARGET strewmill-worldgen)
  string(APPEND CPACK_COMPONENT_RUNTIME_DESCRIPTION "
.
strewmill-worldgen writes synthetic archives for trying the tool out.")
endif()
if(TARGET strewmill-diff)
  string(APPEND CPACK_COMPONENT_RUNTIME_DESCRIPTION "
.
strewmill-diff compares two bakes placement by placement.")
endif()
if(TARGET strewmill-view)
  string(APPEND CPACK_COMPONENT_RUNTIME_DESCRIPTION "
.
strewmill-view draws baked landblocks as an SVG picture.")
endif()

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME strewmill-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libfmt-dev")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "strewmill archive reader and placement engine (development files)
Static libraries, headers and a CMake package (find_package(strewmill
CONFIG), targets strewmill::dat and strewmill::engine) for reading the game's
DAT archives, decoding their records and computing a landblock's scenery
placements in-process, bit for bit as the strewmill tool does.")

include(CPack)
