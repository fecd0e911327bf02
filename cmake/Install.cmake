# Installation, in GNUInstallDirs paths (DESTDIR and `cmake --install --prefix`
# are honoured):
#   lib/         libmarlinok.so.0.1.0, libmarlinok.so.0 (SONAME), libmarlinok.so
#                (Windows: bin/marlinok.dll and lib/ its import library)
#   include/     marlinok.h, marlinok_version.h
#   lib/pkgconfig/marlinok.pc
#   lib/cmake/marlinok/  find_package(marlinok) -> marlinok::marlinok
#   bin/marlinok-tool, its man page and bash completion (tools/CMakeLists.txt)
# Components: Runtime (library, tool, man page, completion) and Development
# (header, linker symlink, pkg-config and CMake files).
include(CMakePackageConfigHelpers)

set(MARLINOK_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/marlinok)

install(TARGETS marlinok EXPORT marlinokTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
install(FILES ${PROJECT_SOURCE_DIR}/include/marlinok.h ${PROJECT_BINARY_DIR}/include/marlinok_version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)

# The PKCS #11 module, once there is one, is installed here:
#   install(TARGETS marlinok-pkcs11 LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkcs11
#     COMPONENT Runtime)

install(EXPORT marlinokTargets NAMESPACE marlinok:: DESTINATION ${MARLINOK_CMAKE_INSTALL_DIR}
  COMPONENT Development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/marlinokConfig.cmake.in
  ${PROJECT_BINARY_DIR}/marlinokConfig.cmake INSTALL_DESTINATION ${MARLINOK_CMAKE_INSTALL_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/marlinokConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/marlinokConfig.cmake
  ${PROJECT_BINARY_DIR}/marlinokConfigVersion.cmake
  DESTINATION ${MARLINOK_CMAKE_INSTALL_DIR} COMPONENT Development)

# marlinok.pc is written when installing, so that it names the prefix actually
# installed to (`cmake --install --prefix` may differ from the configured one).
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  foreach(dir libdir:${CMAKE_INSTALL_LIBDIR} includedir:${CMAKE_INSTALL_INCLUDEDIR})
    string(REGEX REPLACE \"^([a-z]+):(.*)$\" \"\\\\1\" name \"\${dir}\")
    string(REGEX REPLACE \"^([a-z]+):(.*)$\" \"\\\\2\" path \"\${dir}\")
    if(IS_ABSOLUTE \"\${path}\")
      set(\${name} \"\${path}\")
    else()
      set(\${name} \"\\\${prefix}/\${path}\")
    endif()
  endforeach()
  set(PROJECT_VERSION ${PROJECT_VERSION})
  configure_file(\"${PROJECT_SOURCE_DIR}/cmake/marlinok.pc.in\"
    \"${PROJECT_BINARY_DIR}/marlinok.pc\" @ONLY)" COMPONENT Development)
install(FILES ${PROJECT_BINARY_DIR}/marlinok.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
