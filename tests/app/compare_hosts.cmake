# The Windows build against the Linux build on the same sample: lumgen (Linux) writes
# the sample twice, the Linux lumconv runs in one copy and lumconv.exe under wine in the
# other, each with //DRIVE: naming its copy; every file the runs leave (tables, memo
# files, indexes) and the final screen on standard output must be the same bytes.
#
#   cmake -DLINUX_BUILD=<dir> -DWINDOWS_LUMCONV=<exe> -DEMULATOR=<wine> -DWORK=<dir>
#         [-DRECORDS=<n>] -P compare_hosts.cmake
cmake_minimum_required(VERSION 3.25)
foreach(var LINUX_BUILD WINDOWS_LUMCONV EMULATOR WORK)
  if(NOT ${var})
    message(FATAL_ERROR "compare_hosts: ${var} is not set")
  endif()
endforeach()
if(NOT RECORDS)
  set(RECORDS 3000)
endif()

file(REMOVE_RECURSE ${WORK})
foreach(host linux windows)
  execute_process(COMMAND ${LINUX_BUILD}/tools/lumgen ${WORK}/${host} --records ${RECORDS}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "lumgen failed (${rc})")
  endif()
endforeach()

execute_process(COMMAND ${LINUX_BUILD}/lumconv //DRIVE:${WORK}/linux
                WORKING_DIRECTORY ${WORK}/linux INPUT_FILE /dev/null
                OUTPUT_FILE ${WORK}/linux.screen RESULT_VARIABLE linux_rc)
# wine maps / to Z:, so the same directory is Z:<path> for the Windows program.
execute_process(COMMAND ${EMULATOR} ${WINDOWS_LUMCONV} //DRIVE:Z:${WORK}/windows
                WORKING_DIRECTORY ${WORK}/windows INPUT_FILE /dev/null
                OUTPUT_FILE ${WORK}/windows.screen RESULT_VARIABLE windows_rc)
if(NOT linux_rc EQUAL 0 OR NOT windows_rc EQUAL 0)
  message(FATAL_ERROR "exit codes: Linux ${linux_rc}, Windows ${windows_rc}")
endif()

# Each run saves the files it changes in lumconv-undo/<its start time>: the folders'
# names differ by the time, their copies must not; the manifests name times and paths.
function(files_left host out_names out_paths)
  file(GLOB_RECURSE found RELATIVE ${WORK}/${host} ${WORK}/${host}/*)
  set(names "")
  set(paths "")
  foreach(f IN LISTS found)
    string(REGEX REPLACE "^lumconv-undo/[0-9-]+/" "lumconv-undo/RUN/" name "${f}")
    if(NOT name STREQUAL "lumconv-undo/RUN/manifest.txt")
      list(APPEND names "${name}")
      list(APPEND paths "${WORK}/${host}/${f}")
    endif()
  endforeach()
  set(${out_names} "${names}" PARENT_SCOPE)
  set(${out_paths} "${paths}" PARENT_SCOPE)
endfunction()

set(differences "")
files_left(linux linux_files linux_paths)
files_left(windows windows_files windows_paths)
if(NOT linux_files MATCHES "lumconv-undo/RUN/")
  string(APPEND differences "the Linux run saved no file before changing it\n")
endif()
if(NOT linux_files STREQUAL windows_files)
  string(APPEND differences "different files:\n  Linux: ${linux_files}\n  Windows: ${windows_files}\n")
else()
  list(LENGTH linux_files count)
  math(EXPR last "${count} - 1")
  foreach(i RANGE ${last})
    list(GET linux_files ${i} f)
    list(GET linux_paths ${i} a_path)
    list(GET windows_paths ${i} b_path)
    file(SHA256 ${a_path} a)
    file(SHA256 ${b_path} b)
    if(NOT a STREQUAL b)
      string(APPEND differences "${f} differs\n")
    endif()
  endforeach()
endif()
file(SHA256 ${WORK}/linux.screen a)
file(SHA256 ${WORK}/windows.screen b)
if(NOT a STREQUAL b)
  file(READ ${WORK}/windows.screen shown)
  string(APPEND differences "the final screen differs; Windows showed:\n${shown}\n")
endif()
if(differences)
  message(FATAL_ERROR "${differences}")
endif()
file(REMOVE_RECURSE ${WORK})
message(STATUS "${count} files and the final screen are the same bytes on both hosts")
