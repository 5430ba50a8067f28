# Installs the programs, the window's desktop entry and icon, and the libraries with a package
# config whose components can be asked for one by one:
#   find_package(scan39 REQUIRED COMPONENTS decoder)   # plain C++, no Qt needed
#   target_link_libraries(app PRIVATE scan39::decoder)
#   find_package(scan39 REQUIRED COMPONENTS control)   # the Uo_Scan widget, looks up Qt 6
#   target_link_libraries(app PRIVATE scan39::control)
# Without COMPONENTS every installed component is loaded.
#
# Libraries go into the multiarch folder wherever Debian's toolchain names one
# (lib/x86_64-linux-gnu), under every prefix: /usr/lib/<arch> is where Debian packages keep
# them, and /usr/local/lib/<arch> is on the linker's path too. GNUInstallDirs alone picks it
# only for a /usr configured at configure time, while the .deb is made from any build.
# A folder the user chose (-DCMAKE_INSTALL_LIBDIR=...) stays.
if(CMAKE_LIBRARY_ARCHITECTURE)
  get_property(_libdir_help CACHE CMAKE_INSTALL_LIBDIR PROPERTY HELPSTRING)
  if(NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR} OR
     (CMAKE_INSTALL_LIBDIR STREQUAL "lib" AND _libdir_help MATCHES "^Object code libraries \\((lib|LIBDIR)\\)$"))
    set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH
        "Object code libraries (multiarch)" FORCE)
  endif()
endif()
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

# --strip (and cpack) strips what it installs, but not static libraries: their debugging
# information is nine tenths of the package. Their symbols stay, a linker needs them.
if(CMAKE_STRIP)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      file(GLOB _archives \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/libscan39_*.a\")
      foreach(_archive IN LISTS _archives)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug \"\${_archive}\"
                        COMMAND_ERROR_IS_FATAL ANY)
      endforeach()
    endif()")
endif()

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
if(TARGET scan39_python)
  install(PROGRAMS ${PROJECT_BINARY_DIR}/python/scan39-batch DESTINATION ${CMAKE_INSTALL_BINDIR}
          COMPONENT python)
endif()
if(TARGET scan39-demo)
  install(FILES app/scan39-demo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES app/scan39-demo.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

if(TARGET scan39-demo)
  # scan39-demo --version; the window's library knows nothing of versions.
  target_compile_definitions(scan39-demo PRIVATE SCAN39_VERSION="${PROJECT_VERSION}")
endif()

# Man pages, gzipped as Debian wants them: each is written at build time from the program's
# own --help and a template (packaging/man_page.cmake), so page and program never drift.
set(_man_dir ${CMAKE_CURRENT_BINARY_DIR}/man)
find_program(SCAN39_GZIP gzip)
set(_man_pages "")
if(TARGET scan39)
  list(APPEND _man_pages "scan39|$<TARGET_FILE:scan39>|scan39")
endif()
if(TARGET scan39-demo)
  list(APPEND _man_pages "scan39-demo|$<TARGET_FILE:scan39-demo>|scan39-demo")
endif()
if(TARGET scan39_python AND NOT SCAN39_SANITIZE)
  # The batch's --help is argparse's: the package from the build tree, 80 columns. (An
  # instrumented extension cannot load into Debian's python3 without the sanitizer runtime.)
  list(APPEND _man_pages "scan39-batch|${PROJECT_BINARY_DIR}/python/scan39-batch|python_package")
endif()
foreach(entry IN LISTS _man_pages)
  if(NOT SCAN39_GZIP)
    break()
  endif()
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 program)
  list(GET entry 1 path)
  list(GET entry 2 dependency)
  set(_page ${_man_dir}/${program}.1)
  add_custom_command(
    OUTPUT ${_page} ${_page}.gz
    COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 LANG=C.UTF-8 LC_MESSAGES=C.UTF-8 COLUMNS=80
            PYTHONPATH=${PROJECT_BINARY_DIR}/python QT_QPA_PLATFORM=offscreen
            ${CMAKE_COMMAND} -DPROGRAM=${path} -DVERSION=${PROJECT_VERSION}
            -DTEMPLATE=${CMAKE_CURRENT_SOURCE_DIR}/packaging/${program}.1.in -DOUTPUT=${_page}
            $<$<STREQUAL:${program},scan39>:-DSUBCOMMANDS=split>
            -P ${CMAKE_CURRENT_SOURCE_DIR}/packaging/man_page.cmake
    # -n: no name or time stamp inside, so the same page gives the same bytes.
    COMMAND ${SCAN39_GZIP} -9nkf ${_page}
    DEPENDS ${dependency} ${CMAKE_CURRENT_SOURCE_DIR}/packaging/man_page.cmake
            ${CMAKE_CURRENT_SOURCE_DIR}/packaging/${program}.1.in
    COMMENT "Writing the ${program}(1) man page from ${program} --help")
  add_custom_target(${program}_man ALL DEPENDS ${_page}.gz)
  install(FILES ${_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# What Debian wants beside every package's files: the licence in machine-readable form and a
# changelog (changelog.gz: the package's version has no Debian revision).
set(_doc_dir ${CMAKE_CURRENT_BINARY_DIR}/doc)
configure_file(packaging/changelog.in ${_doc_dir}/changelog @ONLY)
if(SCAN39_GZIP)
  add_custom_command(OUTPUT ${_doc_dir}/changelog.gz
                     COMMAND ${SCAN39_GZIP} -9nkf ${_doc_dir}/changelog
                     DEPENDS ${_doc_dir}/changelog)
  add_custom_target(scan39_changelog ALL DEPENDS ${_doc_dir}/changelog.gz)
  install(FILES ${_doc_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# `python3 -m build` in the source root puts the source root first on the module path, where
# this build folder is a namespace package called build. An interpreter with its own `build`
# module (Debian's python3-build) still finds that one first, since a regular package wins over
# a namespace; one without it (pyenv's, say) would run the folder and say only "No module named
# build.__main__". This __main__ says what to run instead.
if(PROJECT_BINARY_DIR STREQUAL "${PROJECT_SOURCE_DIR}/build")
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/__main__.py CONTENT [=[
"""Run by `python3 -m build` when that Python has no build module: this is CMake's build folder."""
import sys

sys.exit(f"""{sys.executable} has no 'build' module, so 'python3 -m build' found scan39's CMake
build folder (build/) instead. Make the wheel with Debian's Python, which has it from
python3-build:
  /usr/bin/python3 -m build --no-isolation --wheel""")
]=])
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
# the programs and the Python extensions link, plus the Python the extensions were built for.
set(CPACK_PACKAGE_NAME scan39)
set(CPACK_PACKAGE_VENDOR "scan39 developers")
set(CPACK_PACKAGE_CONTACT "scan39 developers <scan39-developers@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Lines of at most 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "A desktop demo and a headless command-line scanner that read Code 39
barcodes out of pictures, PDF pages and multi-page TIFFs; the reader and
scanning-control libraries with headers, CMake and pkg-config files; and the
Python package scan39 with its Dask batch, scan39-batch.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
get_property(_python_version GLOBAL PROPERTY SCAN39_PYTHON_VERSION)
if(_python_version MATCHES "^([0-9]+)\\.([0-9]+)")
  # The extensions are built for one Python (cpython-311): that one, and no later.
  math(EXPR _next "${CMAKE_MATCH_2} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "python3 (>= ${CMAKE_MATCH_1}.${CMAKE_MATCH_2}), python3 (<< ${CMAKE_MATCH_1}.${_next})")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-image-formats-plugins, python3-numpy")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-pil, python3-dask, python3-distributed")
set(CPACK_STRIP_FILES ON)
include(CPack)
