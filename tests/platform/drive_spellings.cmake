# Whatever decides "the run changed this file" compares files by what they are on the
# host, not by how //DRIVE: spelled the drive root: for every spelling of it, a run that
# an error ends (receber.txt removed) gives the account on standard error that a
# reference run gives, and the dry run (--check) gives the reference's report. The
# reference is a run with the data directory's plain POSIX path (in the Windows cross
# build: the Linux build's run). Each spelling runs on a fresh copy of lumgen's data in a
# directory of its own, the program's working directory.
#
#   cmake -DLUMGEN=<lumgen> -DREFERENCE=<lumconv> -DPROGRAM=<lumconv> [-DEMULATOR=<wine>]
#         -DWORK=<dir> -DSPELLINGS=<s1|s2|...> -P drive_spellings.cmake
#
# In a spelling, <posix> is the data directory's POSIX path, <bs> the same with "\" for
# "/", <leaf> its last component and <link> a symbolic link to it made beside it.
cmake_minimum_required(VERSION 3.25)
foreach(var LUMGEN REFERENCE PROGRAM WORK SPELLINGS)
  if(NOT ${var})
    message(FATAL_ERROR "drive_spellings: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# Runs `program` (under `emulator` when given) on fresh data in ${WORK}/<name> with
# //DRIVE:<spelling>: the dry run's report into <var>_check, then without receber.txt
# the account on standard error (from its first line on) into <var>_account.
function(run_spelling var name program emulator spelling)
  set(dir ${WORK}/${name})
  execute_process(COMMAND ${LUMGEN} ${dir} RESULT_VARIABLE rc OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "lumgen failed (${rc})")
  endif()
  string(REPLACE "/" "\\" bs "${dir}")
  get_filename_component(leaf ${dir} NAME)
  set(link ${WORK}/${name}-link)
  file(CREATE_LINK ${dir} ${link} SYMBOLIC)
  string(REPLACE "<posix>" "${dir}" drive "${spelling}")
  string(REPLACE "<bs>" "${bs}" drive "${drive}")
  string(REPLACE "<leaf>" "${leaf}" drive "${drive}")
  string(REPLACE "<link>" "${link}" drive "${drive}")

  execute_process(COMMAND ${emulator} ${program} --check "//DRIVE:${drive}"
                  WORKING_DIRECTORY ${dir} INPUT_FILE /dev/null
                  OUTPUT_VARIABLE check ERROR_VARIABLE check_err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "//DRIVE:${drive}: --check ended with ${rc}:\n${check}${check_err}")
  endif()
  file(REMOVE ${dir}/receber.txt)
  execute_process(COMMAND ${emulator} ${program} --no-undo "//DRIVE:${drive}"
                  WORKING_DIRECTORY ${dir} INPUT_FILE /dev/null
                  OUTPUT_QUIET ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 1)
    message(FATAL_ERROR "//DRIVE:${drive}: the run without receber.txt ended with ${rc}:\n${err}")
  endif()
  string(FIND "${err}" "lumconv: an error ended the run" at)
  if(at LESS 0)
    message(FATAL_ERROR "//DRIVE:${drive}: no account on standard error:\n${err}")
  endif()
  string(SUBSTRING "${err}" ${at} -1 account)
  set(${var}_check "${check}" PARENT_SCOPE)
  set(${var}_account "${account}" PARENT_SCOPE)
  set(${var}_drive "${drive}" PARENT_SCOPE)
endfunction()

run_spelling(ref reference ${REFERENCE} "" "<posix>")
# A reference that lists nothing would make every comparison below empty.
string(FIND "${ref_account}" "\n  \\lum\\firma1\\" at)
if(at LESS 0)
  message(FATAL_ERROR "the reference's account lists no target table:\n${ref_account}")
endif()
string(FIND "${ref_check}" "It would empty and rewrite:\n" at)
string(FIND "${ref_check}" "\n  \\lum\\firma1\\" at_target)
if(at LESS 0 OR at_target LESS 0)
  message(FATAL_ERROR "the reference's dry run lists no target table:\n${ref_check}")
endif()

string(REPLACE "|" ";" spellings "${SPELLINGS}")
set(differences "")
set(n 0)
foreach(spelling IN LISTS spellings)
  math(EXPR n "${n} + 1")
  run_spelling(run s${n} ${PROGRAM} "${EMULATOR}" "${spelling}")
  if(NOT run_account STREQUAL ref_account)
    string(APPEND differences "//DRIVE:${run_drive}: the account differs:\n${run_account}\n")
  endif()
  if(NOT run_check STREQUAL ref_check)
    string(APPEND differences "//DRIVE:${run_drive}: the dry run's report differs:\n${run_check}\n")
  endif()
endforeach()
if(differences)
  message(FATAL_ERROR "reference (//DRIVE:${ref_drive}):\n${ref_account}\n${ref_check}\n"
                      "${differences}")
endif()
file(REMOVE_RECURSE ${WORK})
message(STATUS "${n} spellings of //DRIVE: give the reference's account and dry-run report")
