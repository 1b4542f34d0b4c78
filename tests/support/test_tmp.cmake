# The tests' temporary directory (LUM_TEST_TMP): run with MODE=prepare before the tests,
# it makes DIR empty; with MODE=check after them, it fails when anything is left in it
# and names what, so that a test, a program a test ran or a death test's child that
# leaves a file or a directory behind fails the run.
if(MODE STREQUAL "prepare")
  file(REMOVE_RECURSE "${DIR}")
  file(MAKE_DIRECTORY "${DIR}")
elseif(MODE STREQUAL "check")
  file(GLOB left LIST_DIRECTORIES true RELATIVE "${DIR}" "${DIR}/*" "${DIR}/.*")
  list(REMOVE_ITEM left "." "..")
  if(left)
    list(JOIN left ", " names)
    message(FATAL_ERROR "tests left these behind in ${DIR}: ${names}")
  endif()
else()
  message(FATAL_ERROR "MODE must be prepare or check")
endif()
