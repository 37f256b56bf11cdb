# Installation: the libraries with their SONAME links, both headers, a CMake
# package giving daduzozi::daduzozi, a pkg-config file, and a Debian package of
# the same files through CPack. The command and its man page install from tools/.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(DADUZOZI_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/daduzozi)

set(daduzozi_installed_libraries daduzozi)
if(DADUZOZI_BUILD_STATIC)
  list(APPEND daduzozi_installed_libraries daduzozi_static)
endif()

install(TARGETS ${daduzozi_installed_libraries} EXPORT daduzozi-targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/tovik.h include/tovik.hpp DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT daduzozi-targets NAMESPACE daduzozi:: DESTINATION ${DADUZOZI_CMAKE_DIR})
configure_package_config_file(cmake/daduzoziConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/daduzoziConfig.cmake
                              INSTALL_DESTINATION ${DADUZOZI_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/daduzoziConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/daduzoziConfig.cmake
              ${PROJECT_BINARY_DIR}/daduzoziConfigVersion.cmake
        DESTINATION ${DADUZOZI_CMAKE_DIR})

# The pkg-config file finds its prefix from its own location, so the same file
# serves an install into any prefix and the Debian package, whose prefix differs.
file(RELATIVE_PATH DADUZOZI_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" DADUZOZI_PC_TO_PREFIX "${DADUZOZI_PC_TO_PREFIX}")
configure_file(cmake/daduzozi.pc.in ${PROJECT_BINARY_DIR}/daduzozi.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/daduzozi.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(CPACK_PACKAGE_NAME daduzozi)
set(CPACK_PACKAGE_VENDOR daduzozi)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT "daduzozi developers <daduzozi@localhost>")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
