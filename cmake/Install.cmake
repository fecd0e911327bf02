# Installation, in GNUInstallDirs paths (DESTDIR and `cmake --install --prefix`
# are honoured):
#   lib/         libmarlinok.so.0.1.0, libmarlinok.so.0 (SONAME), libmarlinok.so
#                (Windows: bin/marlinok.dll and lib/ its import library)
#   include/     marlinok.h, marlinok_version.h
#   lib/pkgconfig/marlinok.pc
#   lib/cmake/marlinok/  find_package(marlinok) -> marlinok::marlinok
#   bin/marlinok-tool, its man page and bash completion (tools/CMakeLists.txt)
#   lib/pkcs11/libmarlinok-pkcs11.so and share/p11-kit/modules/marlinok.module
# Components: Runtime (library, tool, man page, completion, PKCS #11 module) and Development
# (header, linker symlink, pkg-config and CMake files).
include(CMakePackageConfigHelpers)

set(MARLINOK_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/marlinok)

install(TARGETS marlinok EXPORT marlinokTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
install(FILES ${PROJECT_SOURCE_DIR}/include/marlinok.h ${PROJECT_BINARY_DIR}/include/marlinok_version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)

# The PKCS #11 module goes where Debian keeps them (p11-kit's p11_module_path,
# LIBDIR/pkcs11), with a p11-kit module file naming it in p11-kit's folder of
# module files (p11_module_configs, share/p11-kit/modules for the prefix /usr),
# so that p11-kit-aware applications find it.
if(TARGET marlinok_pkcs11)
  install(TARGETS marlinok_pkcs11 LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkcs11
    COMPONENT Runtime NAMELINK_COMPONENT Runtime)
  set(MARLINOK_P11KIT_MODULE_CONFIGS ${CMAKE_INSTALL_DATADIR}/p11-kit/modules)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_get_variable(p11kit_configs p11-kit-1 p11_module_configs)
    pkg_get_variable(p11kit_prefix p11-kit-1 prefix)
    if(p11kit_configs AND p11kit_prefix AND p11kit_configs MATCHES "^${p11kit_prefix}/(.+)$")
      set(MARLINOK_P11KIT_MODULE_CONFIGS ${CMAKE_MATCH_1})
    endif()
  endif()
  # Written when installing, so that it names the module where it actually is.
  install(CODE "
    set(libdir \"${CMAKE_INSTALL_LIBDIR}\")
    if(NOT IS_ABSOLUTE \"\${libdir}\")
      set(libdir \"\${CMAKE_INSTALL_PREFIX}/\${libdir}\")
    endif()
    file(WRITE \"${PROJECT_BINARY_DIR}/marlinok.module\" \"# marlinok's PKCS #11 module, for p11-kit
module: \${libdir}/pkcs11/$<TARGET_FILE_NAME:marlinok_pkcs11>
\")" COMPONENT Runtime)
  install(FILES ${PROJECT_BINARY_DIR}/marlinok.module
    DESTINATION ${MARLINOK_P11KIT_MODULE_CONFIGS} COMPONENT Runtime)
endif()

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
