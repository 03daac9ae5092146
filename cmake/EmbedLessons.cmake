# Writes a C++ source that holds the lessons of the lessons folder (the
# names of lessons/index.txt, in its order: NAME.md and NAME.toml each) and
# the glossary, so that the desktop program and the page carry them
# without files beside them. Run with cmake -P:
#   -DLESSONS=lessons folder -DGLOSSARY=glossary.md -DOUTPUT=file.cpp
file(STRINGS ${LESSONS}/index.txt names)
set(delimiter "talveron_text")
function(talveron_literal path variable)
  file(READ ${path} text)
  string(FIND "${text}" ")${delimiter}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${path} holds the text )${delimiter}\"")
  endif()
  set(${variable} "R\"${delimiter}(${text})${delimiter}\"" PARENT_SCOPE)
endfunction()

set(entries "")
foreach(name IN LISTS names)
  if(name STREQUAL "")
    continue()
  endif()
  talveron_literal(${LESSONS}/${name}.md markdown)
  talveron_literal(${LESSONS}/${name}.toml settings)
  string(APPEND entries "      {\"${name}\", ${markdown},\n       ${settings}},\n")
endforeach()
talveron_literal(${GLOSSARY} glossary)

file(WRITE ${OUTPUT}.new "// Made by cmake/EmbedLessons.cmake from the lessons folder and the glossary.
#include \"app/lessons/lessons.h\"

namespace talveron::app {

const std::vector<LessonSource>& LessonSources() {
  static const std::vector<LessonSource> sources = {
${entries}  };
  return sources;
}

std::string_view GlossaryText() {
  return ${glossary};
}

}  // namespace talveron::app
")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
