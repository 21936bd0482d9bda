# Install rules of the top-level project (included from the top CMakeLists.txt).
#
#   cmake --install <build dir> [--prefix <prefix>]
#
# puts in place the shared library (libvelunor_c.so.0.8.3, soname
# libvelunor_c.so.0, and the libvelunor_c.so link), include/velunor.h, the
# velunor command-line host, the CMake package velunor (target
# velunor::velunor) and the pkg-config file velunor.pc. The static archive,
# tests, benchmarks and example hosts are build-tree only.
#
# Other parts of the project install their own files next to these from their
# own CMakeLists.txt (the Python package from python/CMakeLists.txt), with the
# GNUInstallDirs destinations used here.

include(CMakePackageConfigHelpers)

set(VELUNOR_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/velunor
    CACHE STRING "Where the CMake package files of velunor are installed")
set(VELUNOR_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    CACHE STRING "Where velunor.pc is installed")

install(TARGETS velunor_c EXPORT velunor_targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT velunor_runtime
                NAMELINK_COMPONENT velunor_development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT velunor_runtime
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT velunor_development)
install(FILES ${PROJECT_SOURCE_DIR}/include/velunor.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT velunor_development)

# The host finds the library next to it in the installed tree, wherever that is.
if(TARGET velunor)
  file(RELATIVE_PATH velunor_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(velunor PROPERTIES INSTALL_RPATH "$ORIGIN/${velunor_bin_to_lib}")
  install(TARGETS velunor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT velunor_runtime)
endif()

# CMake package: find_package(velunor) gives the imported target velunor::velunor.
install(EXPORT velunor_targets NAMESPACE velunor:: FILE velunor-targets.cmake
        DESTINATION ${VELUNOR_INSTALL_CMAKEDIR} COMPONENT velunor_development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/velunor-config.cmake.in
                              ${PROJECT_BINARY_DIR}/velunor-config.cmake
                              INSTALL_DESTINATION ${VELUNOR_INSTALL_CMAKEDIR})
# 0.x releases share the soname libvelunor_c.so.0, so any 0.y.z satisfies a
# request for 0.8.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/velunor-config-version.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/velunor-config.cmake
              ${PROJECT_BINARY_DIR}/velunor-config-version.cmake
        DESTINATION ${VELUNOR_INSTALL_CMAKEDIR} COMPONENT velunor_development)

# pkg-config file. Its prefix is the one given to `cmake --install --prefix`,
# so it is written at install time rather than at configure time.
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(velunor_pc_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(velunor_pc_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
set(velunor_pc_in ${CMAKE_CURRENT_LIST_DIR}/velunor.pc.in)
set(velunor_pc_out ${PROJECT_BINARY_DIR}/pkgconfig/velunor.pc)
install(CODE "
  set(VELUNOR_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(VELUNOR_PC_LIBDIR [[${velunor_pc_LIBDIR}]])
  set(VELUNOR_PC_INCLUDEDIR [[${velunor_pc_INCLUDEDIR}]])
  set(VELUNOR_PC_VERSION ${PROJECT_VERSION})
  configure_file([[${velunor_pc_in}]] [[${velunor_pc_out}]] @ONLY)
" COMPONENT velunor_development)
install(FILES ${velunor_pc_out} DESTINATION ${VELUNOR_INSTALL_PKGCONFIGDIR}
        COMPONENT velunor_development)
