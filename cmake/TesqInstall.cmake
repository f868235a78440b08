# Installation: the three libraries with versioned sonames, the headers, the
# built data, the tesq tool, a CMake package (find_package(tesqsrch), targets
# tesqsrch::tesqsrch, tesqsrch::vornel, tesqsrch::karvel) and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS tesqsrch vornel karvel EXPORT tesqsrchTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS tesq RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY include/tesqsrch DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY vornel/include/vornel DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY karvel/include/karvel DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TESQ_BUILD_DATA)
  # The build tree's data directory is also the binary directory of data/:
  # only the built data is installed, not CMake's files, stamps or
  # temporaries of an interrupted build.
  install(DIRECTORY "${TESQ_BUILD_DATADIR}/" DESTINATION ${CMAKE_INSTALL_DATADIR}/tesqsrch
          PATTERN "CMakeFiles" EXCLUDE
          PATTERN "Makefile" EXCLUDE
          PATTERN "*.cmake" EXCLUDE
          PATTERN "build.ninja" EXCLUDE
          PATTERN ".ninja_*" EXCLUDE
          PATTERN "*.stamp" EXCLUDE
          PATTERN "*.tmp" EXCLUDE
          PATTERN "*-journal" EXCLUDE)
endif()

install(EXPORT tesqsrchTargets NAMESPACE tesqsrch:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tesqsrch)
configure_package_config_file(cmake/tesqsrch-config.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/tesqsrch-config.cmake"
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tesqsrch)
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/tesqsrch-config-version.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/tesqsrch-config.cmake"
              "${CMAKE_CURRENT_BINARY_DIR}/tesqsrch-config-version.cmake"
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tesqsrch)

# The pkg-config file finds its prefix relative to itself, so an installation
# made with another --prefix, or moved, still gives the right paths.
file(RELATIVE_PATH TESQ_PC_TO_PREFIX "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" TESQ_PC_TO_PREFIX "${TESQ_PC_TO_PREFIX}")
configure_file(cmake/tesqsrch.pc.in "${CMAKE_CURRENT_BINARY_DIR}/tesqsrch.pc" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/tesqsrch.pc" DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
