# Writes OUTPUT, the definitions of base/version.h: VERSION and the short commit of the
# checkout at SOURCE_DIR ("unknown" when it is not one, or git is missing). Run at every
# build; the file changes only when the commit does, so an unchanged tree rebuilds nothing.
set(commit unknown)
find_program(GIT git)
if(GIT)
  execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} rev-parse --short HEAD
    OUTPUT_VARIABLE out RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(rc EQUAL 0 AND out MATCHES "^[0-9a-f]+$")
    set(commit ${out})
  endif()
endif()
set(text "// Written by cmake/version.cmake.\n#include \"base/version.h\"\n\nnamespace zv {\n\nconst char* ZentroviaVersion() { return \"${VERSION}\"; }\nconst char* ZentroviaCommit() { return \"${commit}\"; }\n\n}  // namespace zv\n")
file(WRITE ${OUTPUT}.new "${text}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
