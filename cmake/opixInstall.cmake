# The SDK as users install it: the shared library libopix.so (the C interface
# of opix.h, with a versioned soname), optionally the static archive, the
# public headers, the programs, a CMake package exporting opix::opix and a
# pkg-config file. Everything takes its version from project().
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

option(OPIX_INSTALL_STATIC "Also install the static archive libopix.a (opix::opix_static)" OFF)

# The objects of the static library, whole, in a shared one. The version
# script keeps every symbol but the C interface local.
add_library(opix_shared SHARED ${PROJECT_SOURCE_DIR}/core/SharedLibrary.c)
target_link_libraries(opix_shared PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,opix>")
target_include_directories(opix_shared INTERFACE
  "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include;${PROJECT_BINARY_DIR}/include>"
  "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
target_link_options(opix_shared PRIVATE "LINKER:--version-script=${PROJECT_SOURCE_DIR}/cmake/opix.map")
if(NOT OPIX_SANITIZE)
  # Every dependency named on the library's own link line; the sanitizer
  # runtimes come from the program that loads it.
  target_link_options(opix_shared PRIVATE "LINKER:--no-undefined")
endif()
# 0.x releases change the interface with the minor number: it is part of the
# soname until 1.0.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(OPIX_SOVERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
else()
  set(OPIX_SOVERSION "${PROJECT_VERSION_MAJOR}")
endif()
set_target_properties(opix_shared PROPERTIES
  OUTPUT_NAME opix
  EXPORT_NAME opix
  LINKER_LANGUAGE CXX
  VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}"
  SOVERSION "${OPIX_SOVERSION}"
  LIBRARY_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/lib"
  LINK_DEPENDS "${PROJECT_SOURCE_DIR}/cmake/opix.map")
add_library(opix::opix ALIAS opix_shared)

set(OPIX_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/opix")
install(TARGETS opix_shared EXPORT opixTargets
        LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
        INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(EXPORT opixTargets NAMESPACE opix:: DESTINATION "${OPIX_CMAKE_DIR}")
if(OPIX_INSTALL_STATIC)
  set_target_properties(opix PROPERTIES EXPORT_NAME opix_static)
  install(TARGETS opix EXPORT opixStaticTargets ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}")
  install(EXPORT opixStaticTargets NAMESPACE opix:: DESTINATION "${OPIX_CMAKE_DIR}")
endif()

# opix_internal/ is for this project's programs and stays out.
install(FILES "${PROJECT_SOURCE_DIR}/include/opix.h" "${PROJECT_BINARY_DIR}/include/opix_version.h"
        DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(TARGETS opix_debayer opix_bench RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
# The camera raw decoder goes beside the program, which starts it from there.
if(TARGET opix_camera_decoder)
  install(TARGETS opix_camera_decoder RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()

configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/opixConfig.cmake.in"
                              "${PROJECT_BINARY_DIR}/opixConfig.cmake" INSTALL_DESTINATION "${OPIX_CMAKE_DIR}")
# 0.x: only the same minor version is compatible.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(compatibility SameMinorVersion)
else()
  set(compatibility SameMajorVersion)
endif()
write_basic_package_version_file("${PROJECT_BINARY_DIR}/opixConfigVersion.cmake" COMPATIBILITY ${compatibility})
install(FILES "${PROJECT_BINARY_DIR}/opixConfig.cmake" "${PROJECT_BINARY_DIR}/opixConfigVersion.cmake"
        DESTINATION "${OPIX_CMAKE_DIR}")

# pkg-config: the prefix is found from the file's own place, so the file is
# right under whatever prefix `cmake --install --prefix` is given.
file(RELATIVE_PATH OPIX_PC_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" OPIX_PC_PREFIX "${OPIX_PC_PREFIX}")
set(OPIX_PC_LIBS_PRIVATE "-lstdc++ -lpthread -ldl")
if(OPIX_WITH_CUDA_CPU)
  string(APPEND OPIX_PC_LIBS_PRIVATE " -ltbb")
endif()
if(OPIX_WITH_CUDA)
  string(APPEND OPIX_PC_LIBS_PRIVATE " -L${CUDAToolkit_LIBRARY_DIR} -lcudart_static -lrt")
endif()
configure_file("${PROJECT_SOURCE_DIR}/cmake/opix.pc.in" "${PROJECT_BINARY_DIR}/opix.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/opix.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
