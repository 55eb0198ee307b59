# Writes OUTPUT, a header defining BM_VERSION_TEXT: the project version and, when the
# sources are a git checkout, the revision ("1.0.0 (git 0123abcd4567)", "-dirty" when the
# tree has changes). Run at every build; the header changes only when the text does.
execute_process(COMMAND git -C "${SOURCE_DIR}" rev-parse --short=12 HEAD
  OUTPUT_VARIABLE revision OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE status)
set(text "${VERSION}")
if(status EQUAL 0 AND revision)
  execute_process(COMMAND git -C "${SOURCE_DIR}" diff --quiet HEAD --
    RESULT_VARIABLE dirty OUTPUT_QUIET ERROR_QUIET)
  if(NOT dirty EQUAL 0)
    string(APPEND revision "-dirty")
  endif()
  set(text "${VERSION} (git ${revision})")
endif()
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "#pragma once\n#define BM_VERSION_TEXT \"${text}\"\n" @ONLY)
