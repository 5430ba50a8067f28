# cmake -DBUILD_DIR=... -DWORK_DIR=... -DVERSION=... -DPYTHON=... -DPYTHON_VERSION=...
#       -DPICTURE=... -P check_deb.cmake
# Makes the Debian package, checks it with lintian, unpacks it into a scratch root and runs what
# it holds there.
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
# The extensions are built for one Python (cpython-311): the package needs that one.
string(REGEX MATCH "^[0-9]+\\.[0-9]+" python_version "${PYTHON_VERSION}")
if(NOT out MATCHES "python3 \\(>= ${python_version}\\)" OR NOT out MATCHES "python3 \\(<< ")
  message(FATAL_ERROR "Depends lacks python3 ${python_version}: ${out}")
endif()
run(dpkg-deb -f "${deb}" Maintainer)
if(out MATCHES "localhost" OR NOT out MATCHES "<[^@ ]+@[^@ ]+\\.[a-z]+>")
  message(FATAL_ERROR "no real maintainer: ${out}")
endif()

# lintian: no errors. Its warnings are listed in the output, not failed on.
find_program(LINTIAN lintian)
if(LINTIAN)
  execute_process(COMMAND "${LINTIAN}" --tag-display-limit 0 "${deb}" RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "lintian:\n${out}")
  if(out MATCHES "(^|\n)E: ")
    message(FATAL_ERROR "lintian reports errors:\n${out}${err}")
  endif()
else()
  message(STATUS "lintian not installed: not checked")
endif()
set(root "${WORK_DIR}/root")
run(dpkg-deb -x "${deb}" "${root}")
execute_process(COMMAND dpkg-architecture -qDEB_HOST_MULTIARCH OUTPUT_VARIABLE multiarch
                OUTPUT_STRIP_TRAILING_WHITESPACE)
foreach(file bin/scan39 bin/scan39-demo bin/scan39-batch share/applications/scan39-demo.desktop
             share/icons/hicolor/scalable/apps/scan39-demo.svg share/man/man1/scan39.1.gz
             share/man/man1/scan39-demo.1.gz share/man/man1/scan39-batch.1.gz
             share/doc/scan39/copyright share/doc/scan39/changelog.gz include/scan39/reader.h
             lib/python3/dist-packages/scan39/__init__.py
             lib/${multiarch}/cmake/scan39/scan39Config.cmake
             lib/${multiarch}/libscan39_reader.a lib/${multiarch}/pkgconfig/scan39-decoder.pc
             lib/${multiarch}/pkgconfig/scan39-reader.pc lib/${multiarch}/pkgconfig/scan39.pc)
  if(NOT EXISTS "${root}/usr/${file}")
    message(FATAL_ERROR "not in the package: ${file}")
  endif()
endforeach()
foreach(file share/man/man1/scan39.1 share/man/man1/scan39-demo.1 lib/libscan39_reader.a
             lib/cmake/scan39/scan39Config.cmake)
  if(EXISTS "${root}/usr/${file}")
    message(FATAL_ERROR "in the package, but not where Debian wants it: ${file}")
  endif()
endforeach()
# The copyright file is machine-readable and names the licence of LICENSE.
file(READ "${root}/usr/share/doc/scan39/copyright" copyright)
if(NOT copyright MATCHES "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
   OR NOT copyright MATCHES "\nLicense: Apache-2.0\n")
  message(FATAL_ERROR "copyright is not the machine-readable Apache-2.0 one:\n${copyright}")
endif()
# The extensions are stripped like the programs: debugging information made them 13 MB each.
file(GLOB extensions "${root}/usr/lib/python3/dist-packages/scan39/*.so")
list(LENGTH extensions count)
if(NOT count EQUAL 2)
  message(FATAL_ERROR "not two extensions: ${extensions}")
endif()
foreach(so IN LISTS extensions)
  run(readelf -S --wide "${so}")
  if(out MATCHES "\\.debug_info|\\.symtab")
    message(FATAL_ERROR "not stripped: ${so}")
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

# scan39-batch runs from the package with Debian's Python, as pip's entry point would.
run("${CMAKE_COMMAND}" -E env "PYTHONPATH=${root}/usr/lib/python3/dist-packages"
    "${PYTHON}" "${root}/usr/bin/scan39-batch" --help)
if(NOT out MATCHES "PATH")
  message(FATAL_ERROR "scan39-batch --help: ${out}")
endif()
file(READ "${root}/usr/bin/scan39-batch" batch LIMIT 64)
if(NOT batch MATCHES "^#!/usr/bin/python3\n")
  message(FATAL_ERROR "scan39-batch does not start with Debian's Python: ${batch}")
endif()

# The man pages are the ones the build wrote from --help (test_packaging.py holds them against
# --help word for word), byte for byte.
foreach(page scan39 scan39-demo scan39-batch)
  file(SHA256 "${root}/usr/share/man/man1/${page}.1.gz" packaged)
  file(SHA256 "${BUILD_DIR}/man/${page}.1.gz" built)
  if(NOT packaged STREQUAL built)
    message(FATAL_ERROR "${page}(1) in the package is not the one written from --help")
  endif()
endforeach()
