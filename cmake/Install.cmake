# What `cmake --install` puts under the prefix and what `cpack -G DEB` packs:
# the programs, a manual page for each, and for the desktop program a menu
# entry with its icon. Included at the end of the top-level CMakeLists.txt,
# after every program target is known.
#
# Two parts (install components), one Debian package each:
#   talveron      the desktop program and talveron-batch (the default part)
#   mpi           talveron-mpi, as the package talveron-mpi
include(GNUInstallDirs)

# Files that Debian wants compressed (manual pages, the changelog), with
# gzip -n -9 so that the same text gives the same bytes.
find_program(TALVERON_GZIP gzip REQUIRED)
function(talveron_gzip input output)
  execute_process(COMMAND ${TALVERON_GZIP} -n -9 -c ${input}
                  OUTPUT_FILE ${output} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${input} failed")
  endif()
endfunction()

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
  talveron_gzip(${PROJECT_BINARY_DIR}/man/${page}.1 ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
  if(page STREQUAL talveron-mpi)
    set(component mpi)
  else()
    set(component talveron)
  endif()
  install(FILES ${PROJECT_BINARY_DIR}/man/${page}.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endforeach()

# talveron-batch and talveron install from their own folders.
if(TARGET talveron-mpi)
  install(TARGETS talveron-mpi COMPONENT mpi)
endif()
if(TARGET talveron)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/desktop/talveron.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/desktop/talveron.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The lessons and the glossary, for teachers to read and copy (the programs
# carry them built in), with talveron-batch, which runs their settings.
file(STRINGS ${PROJECT_SOURCE_DIR}/lessons/index.txt TALVERON_LESSONS)
foreach(lesson IN LISTS TALVERON_LESSONS)
  install(FILES ${PROJECT_SOURCE_DIR}/lessons/${lesson}.md ${PROJECT_SOURCE_DIR}/lessons/${lesson}.toml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/talveron/lessons)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/docs/glossary.md ${PROJECT_SOURCE_DIR}/docs/disc-rings.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/talveron/lessons)

# ---------------------------------------------------------------------------
# The Debian packages: talveron, and talveron-mpi where talveron-mpi is
# built. Their library dependencies are read from the programs by
# dpkg-shlibdeps (from dpkg-dev, which build-essential brings). The files in
# cmake/debian (copyright, changelog, lintian overrides) go into the packages
# only, not into a plain `cmake --install`.
set(TALVERON_PACKAGE_MAINTAINER "Talveron developers <talveron@users.noreply.github.com>")
# The packages' version is the changelog's latest entry, VERSION-N: the
# project's version and the Debian revision N, which a change to the
# packaging alone raises. (The package test checks VERSION against the
# project's.)
file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog TALVERON_CHANGELOG_TOP LIMIT_COUNT 1)
string(REGEX REPLACE "^talveron \\(([^)]*)\\).*" "\\1" TALVERON_DEBIAN_VERSION "${TALVERON_CHANGELOG_TOP}")
string(REGEX REPLACE "^.*-" "" TALVERON_PACKAGE_RELEASE "${TALVERON_DEBIAN_VERSION}")

set(TALVERON_DEBIAN_PACKAGES talveron)
if(TARGET talveron-mpi)
  list(APPEND TALVERON_DEBIAN_PACKAGES talveron-mpi)
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog
               ${PROJECT_BINARY_DIR}/debian/changelog COPYONLY)
talveron_gzip(${PROJECT_BINARY_DIR}/debian/changelog
              ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)
foreach(package IN LISTS TALVERON_DEBIAN_PACKAGES)
  if(package STREQUAL talveron-mpi)
    set(component mpi)
  else()
    set(component talveron)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
                ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/${package}.lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
          RENAME ${package}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_PACKAGE_NAME talveron)
set(CPACK_PACKAGE_VENDOR "Talveron")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TALVERON_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TALVERON_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SOURCE talveron)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${TALVERON_DEBIAN_PACKAGES})
list(TRANSFORM CPACK_COMPONENTS_ALL REPLACE "^talveron-mpi$" mpi)

# Each description's first line is the package's synopsis; the lines after
# it are the text `apt show` prints below, in paragraphs (CPack indents them
# and writes an empty line as " .").
set(CPACK_DEBIAN_TALVERON_PACKAGE_NAME talveron)
set(CPACK_DEBIAN_TALVERON_DESCRIPTION
"individual-based simulation of speciation in two habitats
One population lives in two adjacent habitats. Every individual carries
loci for habitat preference, habitat specialization, mating preference, a
signal, viability and neutral markers. The simulation shows whether, and
how fast, the two habitats come to hold reproductively isolated
populations.

This package holds the desktop program talveron (Qt 6), which shows both
habitats as they change, and talveron-batch, which runs series of
replicates and studies without a window and writes data files that are
reproducible from a seed.")
# Packages that talveron needs beyond the libraries found by dpkg-shlibdeps
# go into CPACK_DEBIAN_PACKAGE_DEPENDS; talveron-mpi names its own below.
# Pictures are drawn with matplotlib, which running the programs does not
# need: recommended, not required.
set(CPACK_DEBIAN_TALVERON_PACKAGE_RECOMMENDS python3-matplotlib)

set(CPACK_DEBIAN_MPI_PACKAGE_NAME talveron-mpi)
set(CPACK_DEBIAN_MPI_DESCRIPTION
"speciation simulation across the ranks of an MPI job
The MPI command of Talveron, an individual-based simulation of speciation
in two habitats: talveron-mpi takes the options of talveron-batch and hands
the replicates of a series or a study to the ranks of an MPI job, writing
the same bytes as talveron-batch on one core.")
# talveron-mpi starts under mpirun, and Open MPI's single-process start needs
# its runtime too.
set(CPACK_DEBIAN_MPI_PACKAGE_DEPENDS
    "talveron (= ${PROJECT_VERSION}-${TALVERON_PACKAGE_RELEASE}), openmpi-bin")

# The Python package, where Debian's python3 finds it: the prefix's
# lib/python3.X/dist-packages (TALVERON_PYTHON_DIR); the package's numpy
# arrays and pandas tables come from Debian's packages.
if(TARGET talveron_python)
  install(TARGETS talveron_python LIBRARY DESTINATION ${TALVERON_PYTHON_DIR})
  # The package's own files, one by one: its modules, their type stubs and
  # the py.typed marker, in python/talveron and any folder below it. Nothing
  # else in those folders comes along: not the __pycache__ that Python
  # writes beside a module imported from the checkout, nor an editor's
  # backup. New files are found when the build next runs.
  set(TALVERON_PYTHON_SOURCE ${PROJECT_SOURCE_DIR}/python/talveron)
  file(GLOB_RECURSE TALVERON_PYTHON_PACKAGE_FILES CONFIGURE_DEPENDS RELATIVE ${TALVERON_PYTHON_SOURCE}
       ${TALVERON_PYTHON_SOURCE}/*.py ${TALVERON_PYTHON_SOURCE}/*.pyi ${TALVERON_PYTHON_SOURCE}/py.typed)
  list(FILTER TALVERON_PYTHON_PACKAGE_FILES EXCLUDE REGEX "(^|/)(__pycache__|\\.[^/]*)/")
  foreach(file IN LISTS TALVERON_PYTHON_PACKAGE_FILES)
    get_filename_component(folder ${file} DIRECTORY)
    install(FILES ${TALVERON_PYTHON_SOURCE}/${file} DESTINATION ${TALVERON_PYTHON_DIR}/${folder})
  endforeach()
  # The maintainer scripts compile the modules on installing and remove
  # every compiled file on removing (cmake/debian/talveron/postinst and prerm).
  set(CPACK_DEBIAN_TALVERON_PACKAGE_CONTROL_EXTRA
      ${PROJECT_SOURCE_DIR}/cmake/debian/talveron/postinst
      ${PROJECT_SOURCE_DIR}/cmake/debian/talveron/prerm)
  # The extension module is built for this one Python version.
  math(EXPR TALVERON_PYTHON_NEXT_MINOR "${Python3_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "python3 (>= 3.${Python3_VERSION_MINOR}), python3 (<< 3.${TALVERON_PYTHON_NEXT_MINOR}), python3-numpy, python3-pandas")
endif()

set(CPACK_GENERATOR DEB)
include(CPack)
