# Installing tallowmere like any other system package. With the prefix <prefix>:
#
#   <prefix>/<libdir>/libtallowmere.a             the static library
#   <prefix>/<libdir>/libtallowmere.so.*          the shared library (TALLOWMERE_BUILD_SHARED)
#   <prefix>/include/tallowmere/...               the public headers, included as
#                                                 #include <tallowmere/Data/Fortune.hpp>
#   <prefix>/bin/tallowmere                       the command
#   <prefix>/share/man/man1/tallowmere.1          its manual page
#   <prefix>/share/tallowmere/data/...            the bundled collection (data/CMakeLists.txt)
#   <prefix>/<libdir>/cmake/tallowmere/           find_package(tallowmere): tallowmere::tallowmere
#                                                 (static), tallowmere::shared
#   <prefix>/<libdir>/pkgconfig/tallowmere.pc     pkg-config --cflags --libs tallowmere (shared)
#   <prefix>/<libdir>/pkgconfig/tallowmere-static.pc                          (static)
#   <prefix>/lib/python3/dist-packages/tallowmere/ the Python module (python/CMakeLists.txt)
#
# The library finds its data below the prefix that its command or shared library lies under
# (so a copy installed with `cmake --install --prefix`, or moved, finds its own), else below
# the prefix compiled into Paths_tallowmere; tallowmere_datadir overrides both.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TALLOWMERE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tallowmere)

# The public headers: include/tallowmere/ as it stands, and the generated paths beside them.
install(DIRECTORY include/tallowmere DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_BINARY_DIR}/generated/tallowmere/Paths_tallowmere.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tallowmere)

install(TARGETS tallowmere EXPORT tallowmereTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TALLOWMERE_BUILD_SHARED)
  install(TARGETS tallowmere_shared EXPORT tallowmereTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development)
endif()

# A command linked to the shared library finds it in the same prefix, wherever that is.
if(BUILD_SHARED_LIBS)
  file(RELATIVE_PATH TALLOWMERE_BIN_TO_LIB /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
  set_target_properties(tallowmere_cmd PROPERTIES INSTALL_RPATH "$ORIGIN/${TALLOWMERE_BIN_TO_LIB}")
endif()
install(TARGETS tallowmere_cmd RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES man/tallowmere.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The CMake package.
install(EXPORT tallowmereTargets NAMESPACE tallowmere:: DESTINATION ${TALLOWMERE_CMAKE_DIR})
configure_package_config_file(cmake/tallowmereConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/tallowmereConfig.cmake
                              INSTALL_DESTINATION ${TALLOWMERE_CMAKE_DIR})
# Before 1.0 a new minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tallowmereConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tallowmereConfig.cmake
              ${PROJECT_BINARY_DIR}/tallowmereConfigVersion.cmake
        DESTINATION ${TALLOWMERE_CMAKE_DIR})

# The pkg-config file names the prefix it is installed under, which `cmake --install
# --prefix` may choose at install time; so it is written then.
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  set(libdir \"${CMAKE_INSTALL_LIBDIR}\")
  set(includedir \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  set(PROJECT_DESCRIPTION \"${PROJECT_DESCRIPTION}\")
  foreach(module tallowmere tallowmere-static)
    configure_file(\"${PROJECT_SOURCE_DIR}/cmake/\${module}.pc.in\"
                   \"${PROJECT_BINARY_DIR}/pkgconfig/\${module}.pc\" @ONLY)
    file(INSTALL \"${PROJECT_BINARY_DIR}/pkgconfig/\${module}.pc\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")
  endforeach()
")
