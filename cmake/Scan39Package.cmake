# Installs the programs, the window's desktop entry and icon, and the libraries with a package
# config whose components can be asked for one by one:
#   find_package(scan39 REQUIRED COMPONENTS decoder)   # plain C++, no Qt needed
#   target_link_libraries(app PRIVATE scan39::decoder)
#   find_package(scan39 REQUIRED COMPONENTS control)   # the Uo_Scan widget, looks up Qt 6
#   target_link_libraries(app PRIVATE scan39::control)
# Without COMPONENTS every installed component is loaded.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/scan39)

# One export set per library, so that a component's file names only what it needs; the config
# includes the files of a component's dependencies first.
set(_scan39_components "")
# Each component and the folder whose include/ it installs.
set(_scan39_component_dirs code39=code39 decoder=decoder reader=reader samples=sample_pictures
                           loader=host host=host control=control dialogs=dialogs)
foreach(pair IN LISTS _scan39_component_dirs)
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 component)
  list(GET pair 1 dir)
  set(lib scan39_${component})
  if(NOT TARGET ${lib})
    continue()
  endif()
  list(APPEND _scan39_components ${component})
  set_target_properties(${lib} PROPERTIES EXPORT_NAME ${component})
  install(TARGETS ${lib} EXPORT scan39-${component}
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(EXPORT scan39-${component} NAMESPACE scan39::
          FILE scan39-${component}-targets.cmake DESTINATION ${_cmake_dir})
  # host/ holds both the loader and the host: its headers are installed once.
  if(NOT component STREQUAL "loader")
    install(DIRECTORY ${dir}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
            FILES_MATCHING PATTERN "*.h")
  endif()
endforeach()

configure_package_config_file(cmake/scan39Config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/scan39Config.cmake INSTALL_DESTINATION ${_cmake_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/scan39ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/scan39Config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/scan39ConfigVersion.cmake
        DESTINATION ${_cmake_dir})

# The programs, and what a desktop needs to offer the window in its menus.
foreach(program scan39 scan39-demo)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
if(TARGET scan39-demo)
  install(FILES app/scan39-demo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES app/scan39-demo.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# Man pages: scan39(1) is written at build time from `scan39 --help`, so it says what the
# program it comes with does; scan39-demo takes no options.
set(_man_dir ${CMAKE_CURRENT_BINARY_DIR}/man)
if(TARGET scan39)
  add_custom_command(
    OUTPUT ${_man_dir}/scan39.1
    COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 LANG=C.UTF-8 LC_MESSAGES=C.UTF-8
            ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:scan39> -DNAME=scan39
            -DVERSION=${PROJECT_VERSION} "-DSUMMARY=reads Code 39 barcodes out of pictures"
            -DSUBCOMMANDS=split -DOUTPUT=${_man_dir}/scan39.1 -P ${CMAKE_CURRENT_SOURCE_DIR}/packaging/man_page.cmake
    DEPENDS scan39 ${CMAKE_CURRENT_SOURCE_DIR}/packaging/man_page.cmake
    COMMENT "Writing the scan39(1) man page from scan39 --help")
  add_custom_target(scan39_man ALL DEPENDS ${_man_dir}/scan39.1)
  install(FILES ${_man_dir}/scan39.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
if(TARGET scan39-demo)
  configure_file(packaging/scan39-demo.1.in ${_man_dir}/scan39-demo.1 @ONLY)
  install(FILES ${_man_dir}/scan39-demo.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# pkg-config files, relocatable (the prefix is found from where the file lies): the plain C++
# ones carry no Qt flags; scan39.pc brings the Qt parts.
file(RELATIVE_PATH SCAN39_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" SCAN39_PC_TO_PREFIX "${SCAN39_PC_TO_PREFIX}")
foreach(pc scan39-decoder scan39-reader scan39)
  configure_file(packaging/${pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/${pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/${pc}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

# The Debian package: `cpack -G DEB` in the build folder gives scan39_<version>_<arch>.deb with
# everything `cmake --install` puts under /usr; Depends is computed from the shared libraries
# the programs and the Python extensions link.
set(CPACK_PACKAGE_NAME scan39)
set(CPACK_PACKAGE_VENDOR scan39)
set(CPACK_PACKAGE_CONTACT "scan39 developers <scan39@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "A desktop demo and a headless command-line scanner that read Code 39 barcodes out of
pictures, the reader and scanning-control libraries with headers, CMake and pkg-config files,
and the Python package scan39.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-image-formats-plugins, python3-numpy")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-pil, python3-dask, python3-distributed")
set(CPACK_STRIP_FILES ON)
include(CPack)
