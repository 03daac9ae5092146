# What `cmake --install` puts under the prefix and what `cpack -G DEB` packs:
# the programs, a manual page for each, and for the desktop program a menu
# entry with its icon. Included at the end of the top-level CMakeLists.txt,
# after every program target is known.
include(GNUInstallDirs)

# The manual pages carry the project's version on their title line.
set(TALVERON_MAN_PAGES talveron-batch)
if(TARGET talveron)
  list(APPEND TALVERON_MAN_PAGES talveron)
endif()
if(TARGET talveron-mpi)
  list(APPEND TALVERON_MAN_PAGES talveron-mpi)
endif()
foreach(page IN LISTS TALVERON_MAN_PAGES)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${PROJECT_BINARY_DIR}/man/${page}.1 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/man/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# talveron-batch and talveron install from their own folders.
if(TARGET talveron-mpi)
  install(TARGETS talveron-mpi)
endif()
if(TARGET talveron)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/desktop/talveron.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/desktop/talveron.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The Debian package. Its library dependencies are read from the programs
# by dpkg-shlibdeps (from dpkg-dev, which build-essential brings).
set(TALVERON_PACKAGE_MAINTAINER "Talveron developers"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_NAME talveron)
set(CPACK_PACKAGE_VENDOR "Talveron")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TALVERON_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "individual-based simulation of speciation in two habitats")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
 One population lives in two adjacent habitats. Every individual carries
 loci for habitat preference, habitat specialization, mating preference, a
 signal, viability and neutral markers. The simulation shows whether, and
 how fast, the two habitats come to hold reproductively isolated
 populations.
 .
 talveron is the desktop program (Qt 6); talveron-batch runs series of
 replicates without a window and writes data files that are reproducible
 from a seed.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Qt's libraries bring the platform plugins and, through fontconfig, a font.
# talveron-mpi starts under mpirun, and Open MPI's single-process start needs
# its runtime too.
if(TARGET talveron-mpi)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS openmpi-bin)
endif()
# The Python package, where Debian's python3 finds it: the prefix's
# lib/python3.X/dist-packages (TALVERON_PYTHON_DIR); the package's numpy
# arrays and pandas tables come from Debian's packages.
if(TARGET talveron_python)
  install(TARGETS talveron_python LIBRARY DESTINATION ${TALVERON_PYTHON_DIR})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/talveron/ DESTINATION ${TALVERON_PYTHON_DIR}
          FILES_MATCHING PATTERN "*.py")
  if(CPACK_DEBIAN_PACKAGE_DEPENDS)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ")
  endif()
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS "python3-numpy, python3-pandas")
endif()
set(CPACK_GENERATOR DEB)
include(CPack)
