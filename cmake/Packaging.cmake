# `cpack -G DEB` in a build configured with -DCMAKE_INSTALL_PREFIX=/usr: one
# package, marlinok, with the library, the tool, its man page and completion,
# and the development files. Dependencies come from dpkg-shlibdeps (libssl3,
# libsqlite3-0, libc6, libstdc++6, libgcc-s1).
set(CPACK_PACKAGE_NAME marlinok)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "marlinok")
set(CPACK_PACKAGE_CONTACT "marlinok developers <marlinok@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "software cryptographic token: RSA key containers behind a PIN, raw RSA, key blobs")
set(CPACK_PACKAGE_DESCRIPTION
  "marlinok keeps RSA key pairs in named containers behind a PIN and does raw RSA, key blob\n\
import and export, DES/3DES/RC4, MD5/SHA-1 and random bytes in software, behind a C\n\
interface of 36 exports. The package holds libmarlinok.so.0, the marlinok-tool command\n\
with its man page and bash completion, and the header, pkg-config and CMake files.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL OFF)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_GENERATOR DEB)
include(CPack)
