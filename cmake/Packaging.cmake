# Installation of the library (sigcore, its public headers, sigtools.pc) and
# the Debian package of everything `cmake --install` puts in place.

# sigtools.pc: its prefix is found from its own folder, so the file stays
# right in a staging tree, a temporary prefix or the package.
set(SIGTOOLS_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH SIGTOOLS_PC_PREFIX_FROM_PCDIR /install-root/${SIGTOOLS_PC_DIR} /install-root)
string(REGEX REPLACE "/$" "" SIGTOOLS_PC_PREFIX_FROM_PCDIR "${SIGTOOLS_PC_PREFIX_FROM_PCDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/pkg/sigtools.pc.in ${CMAKE_BINARY_DIR}/sigtools.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/sigtools.pc DESTINATION ${SIGTOOLS_PC_DIR})

set(SIGTOOLS_MAINTAINER "sigtools developers <sigtools-dev@example.org>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_PACKAGE_NAME sigtools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${SIGTOOLS_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "cidforge writes caller-ID FSK bursts (US SDMF over Bell 202, NTT frames over V.23) as WAV files,\n"
    "padtoner DTMF digit sequences; cidprobe and cidprobe-ntt find and decode caller-ID bursts in\n"
    "recordings; wavpeek prints a WAV header. Also the static library sigcore with the headers and\n"
    "pkg-config file (sigtools.pc) of its streaming FSK receiver.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SIGTOOLS_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# cidscan reads its recordings through libsndfile; the rest of the
# dependencies (C and C++ runtime) are read from the programs when
# dpkg-shlibdeps is there, and written out otherwise.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsndfile1")
find_program(SIGTOOLS_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(SIGTOOLS_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libc6, libgcc-s1, libstdc++6 (>= 12)")
endif()
set(CPACK_GENERATOR DEB)
include(CPack)
