# The SDK a host builds against, laid out by `cmake --install`:
#   bin/sonquix                         the command-line host
#   lib/libpelksonquix.so, libpelkcontrol.so   the two modules (loaded at run time, never linked)
#   lib/libpelkrt.so, libpelkrt_module.a       the shared runtime, and the per-module part a host
#                                              links when it makes objects of its own (event sinks)
#   include/pelk/...                    the public headers (with pelk/runtime/ and pelk/control/)
#   lib/pkgconfig/pelk-sonquix.pc       for pkg-config
#   lib/cmake/Sonquix/                  for find_package(Sonquix)
# Every path is relative to the prefix, so the tree may be installed with --prefix and moved.
include(CMakePackageConfigHelpers)

set_target_properties(sonquix_runtime_module PROPERTIES OUTPUT_NAME pelkrt_module)
file(RELATIVE_PATH sonquix_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
set_target_properties(sonquix PROPERTIES INSTALL_RPATH "$ORIGIN/${sonquix_bin_to_lib}")
set_target_properties(pelksonquix pelkcontrol PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS sonquix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS sonquix_runtime_module ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

# pkg-config: the prefix is found from where the .pc file lies.
file(RELATIVE_PATH SONQUIX_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" SONQUIX_PC_TO_PREFIX "${SONQUIX_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/pelk-sonquix.pc.in
               ${PROJECT_BINARY_DIR}/sdk/pelk-sonquix.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/sdk/pelk-sonquix.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# find_package(Sonquix): imported targets made by hand, since the modules are loaded, not linked.
set(SONQUIX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Sonquix)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/SonquixConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/sdk/SonquixConfig.cmake
                              INSTALL_DESTINATION ${SONQUIX_CMAKE_DIR}
                              PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_LIBDIR
                                        CMAKE_INSTALL_BINDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/sdk/SonquixConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/sdk/SonquixConfig.cmake
              ${PROJECT_BINARY_DIR}/sdk/SonquixConfigVersion.cmake
        DESTINATION ${SONQUIX_CMAKE_DIR})
