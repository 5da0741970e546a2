# Installs the SDK from BUILD_DIR into a scratch prefix under WORK_DIR, checks
# what was installed, and builds and runs consumer.c against it twice: with
# find_package(opix) and with pkg-config. FLAGS are added to every compile and
# link (the sanitizer build's).
cmake_minimum_required(VERSION 3.25)
separate_arguments(flags UNIX_COMMAND "${FLAGS}")
set(expected "pixel (33, 17) = 200 100 40")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}\nexit ${rc}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

function(expect_pixel program)
  run(${program})
  message(STATUS "${program}: ${out}")
  string(FIND "${out}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${program} printed\n${out}\nnot \"${expected}\"")
  endif()
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")

# The public headers only, the programs, the versioned library with its
# links, the package files.
foreach(f include/opix.h include/opix_version.h bin/opix_debayer lib/cmake/opix/opixConfig.cmake
          lib/cmake/opix/opixConfigVersion.cmake lib/pkgconfig/opix.pc lib/libopix.so)
  if(NOT EXISTS "${prefix}/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(GLOB headers RELATIVE "${prefix}/include" "${prefix}/include/*")
if(NOT headers STREQUAL "opix.h;opix_version.h")
  message(FATAL_ERROR "installed headers: ${headers}")
endif()
run(objdump -p "${prefix}/lib/libopix.so")
if(NOT out MATCHES "SONAME +libopix\\.so\\.${SOVERSION}\n")
  message(FATAL_ERROR "soname is not libopix.so.${SOVERSION}:\n${out}")
endif()
# Nothing but the C interface is exported.
run(nm -D --defined-only "${prefix}/lib/libopix.so")
string(REGEX REPLACE "[^\n]* [A-Za-z] opix[A-Z][A-Za-z0-9_]*\n" "" others "${out}")
if(NOT others STREQUAL "")
  message(FATAL_ERROR "exported beyond the C interface:\n${others}")
endif()

# find_package(opix)
run(${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/cmake" "-DCMAKE_PREFIX_PATH=${prefix}"
    "-DCMAKE_C_COMPILER=${C_COMPILER}" "-DCMAKE_C_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}")
run(${CMAKE_COMMAND} --build "${WORK_DIR}/cmake")
expect_pixel("${WORK_DIR}/cmake/consumer")

# pkg-config --cflags --libs opix
set(ENV{PKG_CONFIG_PATH} "${prefix}/lib/pkgconfig")
run(pkg-config --cflags --libs opix)
separate_arguments(pc UNIX_COMMAND "${out}")
run(${C_COMPILER} ${flags} "${SOURCE_DIR}/consumer.c" ${pc} -o "${WORK_DIR}/consumer_pc")
set(ENV{LD_LIBRARY_PATH} "${prefix}/lib")
expect_pixel("${WORK_DIR}/consumer_pc")
