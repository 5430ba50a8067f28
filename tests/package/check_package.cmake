# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=... -P check_package.cmake
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK_DIR}/prefix"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
foreach(file bin/scan39 bin/scan39-demo share/applications/scan39-demo.desktop
             share/icons/hicolor/scalable/apps/scan39-demo.svg)
  if(NOT EXISTS "${WORK_DIR}/prefix/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# project | Qt hidden | configures | built and run
set(cases "plain|ON|YES|YES" "control|ON|NO|NO" "control|OFF|YES|NO")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 project)
  list(GET case 1 hideQt)
  list(GET case 2 configures)
  list(GET case 3 run)
  set(build "${WORK_DIR}/${project}-${hideQt}")
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}/${project}" -B "${build}" -G "${GENERATOR}"
            "-DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix" "-DCMAKE_DISABLE_FIND_PACKAGE_Qt6=${hideQt}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if((rc EQUAL 0) AND NOT configures)
    message(FATAL_ERROR "${project} configured with Qt hidden, but it needs Qt")
  elseif(NOT (rc EQUAL 0) AND configures)
    message(FATAL_ERROR "${project} (Qt hidden: ${hideQt}) did not configure:\n${out}")
  endif()
  if(out MATCHES "Could NOT find")
    message(FATAL_ERROR "${project}: configure output not clean:\n${out}")
  endif()
  if(run)
    execute_process(COMMAND "${CMAKE_COMMAND}" --build "${build}" RESULT_VARIABLE rc
                    OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${project} did not build:\n${out}")
    endif()
    execute_process(COMMAND "${build}/${project}_user" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${project} did not decode")
    endif()
  endif()
endforeach()

# pkg-config alone, no CMake: the reader's flags carry no Qt, and a program built with them
# reads a symbol.
file(GLOB_RECURSE pc_files "${WORK_DIR}/prefix/*/scan39-reader.pc")
list(GET pc_files 0 pc_file)
get_filename_component(pc_dir "${pc_file}" DIRECTORY)
execute_process(COMMAND "${CMAKE_COMMAND}" -E env "PKG_CONFIG_PATH=${pc_dir}"
                        pkg-config --cflags --libs scan39-reader
                RESULT_VARIABLE rc OUTPUT_VARIABLE flags ERROR_VARIABLE err
                OUTPUT_STRIP_TRAILING_WHITESPACE)
# The flags name no language standard: the user's own, C++20 or newer, stays in force.
if(NOT rc EQUAL 0 OR flags MATCHES "[Qq]t" OR flags MATCHES "-std=")
  message(FATAL_ERROR "pkg-config scan39-reader: ${flags}${err}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
foreach(standard c++20 c++2b)
  execute_process(COMMAND c++ -std=${standard} "${SOURCE_DIR}/pkgconfig/main.cpp"
                          -o "${WORK_DIR}/pkgconfig_user" ${flags}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the pkg-config program did not build with -std=${standard}:\n${out}")
  endif()
  execute_process(COMMAND "${WORK_DIR}/pkgconfig_user" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the pkg-config program (-std=${standard}) did not read its symbol")
  endif()
endforeach()
