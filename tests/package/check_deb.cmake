# cmake -DBUILD_DIR=... -DWORK_DIR=... -DVERSION=... -DPYTHON=... -DPICTURE=... -P check_deb.cmake
# Makes the Debian package, unpacks it into a scratch root and runs what it holds there.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}: ${rc}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run(cpack -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${WORK_DIR}")
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch
                OUTPUT_STRIP_TRAILING_WHITESPACE)
set(deb "${WORK_DIR}/scan39_${VERSION}_${arch}.deb")
if(NOT EXISTS "${deb}")
  message(FATAL_ERROR "no ${deb}")
endif()
run(dpkg-deb -f "${deb}" Depends)
if(NOT out MATCHES "libqt6widgets6" OR NOT out MATCHES "libc6")
  message(FATAL_ERROR "Depends not computed from the shared libraries: ${out}")
endif()
set(root "${WORK_DIR}/root")
run(dpkg-deb -x "${deb}" "${root}")
foreach(file bin/scan39 bin/scan39-demo share/applications/scan39-demo.desktop
             share/icons/hicolor/scalable/apps/scan39-demo.svg share/man/man1/scan39.1
             share/man/man1/scan39-demo.1 include/scan39/reader.h
             lib/python3/dist-packages/scan39/__init__.py lib/cmake/scan39/scan39Config.cmake)
  if(NOT EXISTS "${root}/usr/${file}")
    message(FATAL_ERROR "not in the package: ${file}")
  endif()
endforeach()
foreach(pc scan39-decoder scan39-reader scan39)
  file(GLOB_RECURSE found "${root}/usr/lib/*/${pc}.pc")
  if(NOT found)
    message(FATAL_ERROR "not in the package: ${pc}.pc")
  endif()
endforeach()

set(scan39 "${root}/usr/bin/scan39")
run("${CMAKE_COMMAND}" -E env LC_ALL=C.UTF-8 "${scan39}" --version)
if(NOT out STREQUAL "scan39 ${VERSION}\n")
  message(FATAL_ERROR "scan39 --version: ${out}")
endif()
run("${CMAKE_COMMAND}" -E env LC_ALL=C.UTF-8 "${scan39}" --json "${PICTURE}")
if(NOT out MATCHES "\"text\":\"[A-Z0-9]")
  message(FATAL_ERROR "the unpacked scan39 read nothing: ${out}")
endif()
run("${CMAKE_COMMAND}" -E env "PYTHONPATH=${root}/usr/lib/python3/dist-packages"
    QT_QPA_PLATFORM=offscreen "${PYTHON}" -c
    "import scan39, sys\nassert scan39.__file__.startswith(sys.argv[1])\nprint(scan39.__version__)\nprint(len(scan39.read(sys.argv[2])))"
    "${root}" "${PICTURE}")
if(NOT out MATCHES "^${VERSION}\n[1-9]")
  message(FATAL_ERROR "the unpacked Python package: ${out}")
endif()

# The man page is --help, line for line.
run("${CMAKE_COMMAND}" -E env LC_ALL=C.UTF-8 "${scan39}" --help)
set(help "${out}")
file(READ "${root}/usr/share/man/man1/scan39.1" man)
string(REGEX MATCH "\n\\.nf\n(.*)\\.fi\n" _ "${man}")
set(body "${CMAKE_MATCH_1}")
string(REGEX REPLACE "(^|\n)\\\\&" "\\1" body "${body}")
string(REPLACE "\\e" "\\" body "${body}")
if(NOT body STREQUAL help)
  message(FATAL_ERROR "scan39(1) differs from scan39 --help:\n${body}\n---\n${help}")
endif()
