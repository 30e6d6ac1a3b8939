# What `cmake --install` adds for other projects: the CMake package
# configuration (find_package(jacktree) gives jacktree::astlib,
# jacktree::iobuffer, jacktree::errctx and jacktree::symrec), the pkg-config
# file jacktree.pc, and the rules `cpack -G DEB` packs from all of it.
include(CMakePackageConfigHelpers)

set(JACK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/jacktree)

install(TARGETS astlib iobuffer errctx symrec EXPORT jacktree-targets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT jacktree-targets NAMESPACE jacktree:: DESTINATION ${JACK_CMAKE_DIR})

configure_package_config_file(cmake/jacktree-config.cmake.in
    ${PROJECT_BINARY_DIR}/jacktree-config.cmake INSTALL_DESTINATION ${JACK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/jacktree-config-version.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/jacktree-config.cmake ${PROJECT_BINARY_DIR}/jacktree-config-version.cmake
    DESTINATION ${JACK_CMAKE_DIR})

# The .pc file finds its prefix from where it lies, so an installed tree
# (or a package unpacked anywhere) can be moved.
file(RELATIVE_PATH JACK_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" JACK_PC_TO_PREFIX "${JACK_PC_TO_PREFIX}")
configure_file(cmake/jacktree.pc.in ${PROJECT_BINARY_DIR}/jacktree.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/jacktree.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(CPACK_PACKAGE_NAME jacktree)
set(CPACK_PACKAGE_VENDOR "Jack tree tool-chain developers")
set(CPACK_PACKAGE_CONTACT "Jack tree tool-chain developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Jack syntax tree library, tree passes and small tools")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
include(CPack)
