# Installs the libraries with a package config, so another application can
#   find_package(scan39 REQUIRED)
#   target_link_libraries(app PRIVATE scan39::decoder)      # plain C++
#   target_link_libraries(app PRIVATE scan39::control)      # the Uo_Scan widget
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(_scan39_libs scan39_decoder scan39_reader scan39_samples scan39_host scan39_control scan39_dialogs)
foreach(lib IN LISTS _scan39_libs)
  if(TARGET ${lib})
    string(REPLACE "scan39_" "" _export_name ${lib})
    set_target_properties(${lib} PROPERTIES EXPORT_NAME ${_export_name})
    install(TARGETS ${lib} EXPORT scan39Targets
            ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endif()
endforeach()
foreach(dir decoder reader samples host control dialogs)
  if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/include")
    install(DIRECTORY ${dir}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
            FILES_MATCHING PATTERN "*.h" PATTERN "encoder.h" EXCLUDE)
  endif()
endforeach()

set(_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/scan39)
install(EXPORT scan39Targets NAMESPACE scan39:: DESTINATION ${_cmake_dir})
configure_package_config_file(cmake/scan39Config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/scan39Config.cmake INSTALL_DESTINATION ${_cmake_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/scan39ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/scan39Config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/scan39ConfigVersion.cmake
        DESTINATION ${_cmake_dir})
