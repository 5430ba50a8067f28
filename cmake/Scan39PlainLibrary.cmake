include_guard(GLOBAL)
include(Scan39Warnings)

# A plain C++20 library scan39_NAME (no Qt) with its alias scan39::NAME, public headers under
# include/ and the project's warnings:
#   scan39_plain_library(NAME SOURCES a.cpp b.cpp [DEPENDS scan39::decoder ...])
function(scan39_plain_library name)
  cmake_parse_arguments(arg "" "" "SOURCES;DEPENDS" ${ARGN})
  set(target scan39_${name})
  add_library(${target} ${arg_SOURCES})
  add_library(scan39::${name} ALIAS ${target})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:include>)
  target_link_libraries(${target} PUBLIC ${arg_DEPENDS})
  target_compile_features(${target} PUBLIC cxx_std_20)
  scan39_warnings(${target})
endfunction()
