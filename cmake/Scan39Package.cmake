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
foreach(component decoder reader samples loader host control dialogs)
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
  if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${component}/include")
    install(DIRECTORY ${component}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
            FILES_MATCHING PATTERN "*.h" PATTERN "encoder.h" EXCLUDE)
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
