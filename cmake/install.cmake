# What `cmake --install` puts under the prefix: the library with its soname and public headers,
# pkg-config and CMake package files, the programs, the trace style sheet (resources/), man pages
# and the Python package (python/).
include(CMakePackageConfigHelpers)

set(VMK_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vmk40xx)

install(TARGETS vmk40xx EXPORT vmk40xxTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/vmk40xx DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

foreach(program vmk40xx-cli vmk40xx-sim vmk40xx-regsvr)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
# The emulator and the registration tool do not link the library (the tool loads the one it is
# given): they have no run path to set.
foreach(program vmk40xx-sim vmk40xx-regsvr)
  if(TARGET ${program})
    set_property(TARGET ${program} PROPERTY INSTALL_RPATH "")
  endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/docs/man/vmk40xx.1 ${PROJECT_SOURCE_DIR}/docs/man/vmk40xx-sim.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/compliance.md
              ${PROJECT_SOURCE_DIR}/docs/reference.md ${PROJECT_SOURCE_DIR}/docs/models.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        PATTERN "run_against_emulator.cmake" EXCLUDE)

install(EXPORT vmk40xxTargets NAMESPACE vmk40xx:: DESTINATION ${VMK_CMAKE_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/vmk40xxConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/cmake/vmk40xxConfig.cmake
                              INSTALL_DESTINATION ${VMK_CMAKE_PACKAGE_DIR}
                              PATH_VARS CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/vmk40xxConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cmake/vmk40xxConfig.cmake
              ${PROJECT_BINARY_DIR}/cmake/vmk40xxConfigVersion.cmake
        DESTINATION ${VMK_CMAKE_PACKAGE_DIR})

# The .pc file's paths are made at install time, so that `cmake --install --prefix P` (and
# `make install PREFIX=P`) writes P into it, not the prefix the build was configured with.
install(CODE "
  set(CMAKE_INSTALL_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_PREFIX NORMALIZE)
  set(VMK_PC_LIBDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}\")
  set(VMK_PC_INCLUDEDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_INCLUDEDIR}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/vmk40xx.pc.in\"
                 \"${PROJECT_BINARY_DIR}/cmake/vmk40xx.pc\" @ONLY)
  file(INSTALL \"${PROJECT_BINARY_DIR}/cmake/vmk40xx.pc\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")")

# Registering the installed COM server writes the system registry (/etc/vmk40xx/registry.reg),
# which a private prefix or a package build must not touch: asked for, not done by default.
option(VMK40XX_REGISTER_ON_INSTALL "Register the installed library with vmk40xx-regsvr --system" OFF)
if(VMK40XX_REGISTER_ON_INSTALL)
  install(CODE "
    if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
      execute_process(COMMAND \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/vmk40xx-regsvr\" --system
                              \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/libvmk40xx.so.1\"
                      RESULT_VARIABLE rc)
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR \"vmk40xx-regsvr --system failed (\${rc})\")
      endif()
    endif()")
endif()
