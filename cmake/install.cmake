# What `cmake --install` lays out: the header, the shared library (Windows: the DLL in bin/ and its
# import library in lib/), a CMake package giving qor_lib::qor_lib, and a pkg-config file.
set(QOR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qor_lib)
set(QOR_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS qor_lib EXPORT qor_lib_targets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/qor_lib.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT qor_lib_targets NAMESPACE qor_lib:: FILE qor_libTargets.cmake DESTINATION ${QOR_CMAKE_DIR})

include(CMakePackageConfigHelpers)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/qor_libConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/qor_libConfig.cmake INSTALL_DESTINATION ${QOR_CMAKE_DIR})
# 1.x hosts keep working with any later 1.y: the interface only grows within a major version.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/qor_libConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qor_libConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/qor_libConfigVersion.cmake
        DESTINATION ${QOR_CMAKE_DIR})

# The .pc file finds the tree from its own place, so the prefix chosen at install time holds.
file(RELATIVE_PATH QOR_PC_TO_PREFIX /${QOR_PKGCONFIG_DIR} /)
string(REGEX REPLACE "/$" "" QOR_PC_TO_PREFIX "${QOR_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/qor_lib.pc.in ${CMAKE_CURRENT_BINARY_DIR}/qor_lib.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qor_lib.pc DESTINATION ${QOR_PKGCONFIG_DIR})
