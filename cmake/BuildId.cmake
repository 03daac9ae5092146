# Writes model/version.h from src/model/version.h.in: the project's version
# and the build, the commit the sources are built from.
#
#   cmake -DSOURCE_DIR=DIR -DINPUT=version.h.in -DOUTPUT=version.h
#         -DPROJECT_VERSION=0.1 -P BuildId.cmake
#
# The build is what `git describe --always --dirty` says of SOURCE_DIR
# (1a2b3c4, or 1a2b3c4-dirty with changes not committed; a tag's name where
# one is on the way) when SOURCE_DIR is the top of a git checkout, and
# "unknown" otherwise: a release's source archive, or one unpacked inside
# some other checkout, whose commit is not this one's.
#
# The build runs this at every build (src/model/CMakeLists.txt), so a new
# commit is seen without configuring again; the header is rewritten only
# when its text changes, so an unchanged build id recompiles nothing.
foreach(variable SOURCE_DIR INPUT OUTPUT PROJECT_VERSION)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "BuildId.cmake needs -D${variable}=...")
  endif()
endforeach()

set(TALVERON_BUILD unknown)
find_program(TALVERON_GIT git)
if(TALVERON_GIT)
  execute_process(COMMAND ${TALVERON_GIT} -C ${SOURCE_DIR} rev-parse --show-toplevel
                  OUTPUT_VARIABLE top RESULT_VARIABLE failed
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT failed)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
    if(top STREQUAL source)
      execute_process(COMMAND ${TALVERON_GIT} -C ${SOURCE_DIR} describe --always --dirty
                      OUTPUT_VARIABLE described RESULT_VARIABLE failed
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(NOT failed AND described MATCHES "^[A-Za-z0-9._+-]+$")
        set(TALVERON_BUILD "${described}")
      endif()
    endif()
  endif()
endif()

configure_file(${INPUT} ${OUTPUT} @ONLY)
