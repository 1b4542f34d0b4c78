# `cmake --install` of a finished build, twice: into a prefix, and with DESTDIR below
# another root. Each time exactly the four programs and the guide must land (Linux:
# bin/ and share/doc/lumconv/; Windows: one flat folder with the guide as OPERATOR.txt
# in CR LF), and the installed lumconv must answer --help.
#
#   cmake -DBUILD=<build dir> -DGUIDE=<docs/OPERATOR.md> -DWINDOWS=<bool> -DWORK=<dir>
#         [-DEMULATOR=<wine>] -P install_check.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK})
if(WINDOWS)
  set(expected dbfdump.exe lumconv.exe lumgen.exe ntxdump.exe OPERATOR.txt)
  set(guide_file OPERATOR.txt)
  set(lumconv lumconv.exe)
else()
  set(expected bin/dbfdump bin/lumconv bin/lumgen bin/ntxdump share/doc/lumconv/OPERATOR.md)
  set(guide_file share/doc/lumconv/OPERATOR.md)
  set(lumconv bin/lumconv)
endif()

function(check_tree root)
  file(GLOB_RECURSE found RELATIVE ${root} ${root}/*)
  list(SORT found CASE INSENSITIVE)
  if(NOT found STREQUAL expected)
    message(FATAL_ERROR "installed below ${root}:\n  ${found}\nexpected:\n  ${expected}")
  endif()
  file(READ ${GUIDE} source)
  file(READ ${root}/${guide_file} installed)
  if(WINDOWS)
    # Every line ends in CR LF; no bare LF is left for Notepad to run lines together.
    # (file(READ) drops the CR of CR LF, so the bytes are counted in hex.)
    file(READ ${root}/${guide_file} hex HEX)
    string(REGEX REPLACE "(..)" " \\1" hex "${hex}")
    string(REGEX MATCHALL " 0a" lf "${hex}")
    string(REGEX MATCHALL " 0d 0a" crlf "${hex}")
    list(LENGTH lf lf)
    list(LENGTH crlf crlf)
    if(lf EQUAL 0 OR NOT lf EQUAL crlf)
      message(FATAL_ERROR "${guide_file}: ${crlf} of its ${lf} lines end in CR LF")
    endif()
    if(installed MATCHES "```|<!--")
      message(FATAL_ERROR "${guide_file}: Markdown fences or comments were left in")
    endif()
    if(NOT installed MATCHES "\n    lumconv --check > check.txt\n")
      message(FATAL_ERROR "${guide_file}: the guide's commands are not indented code lines")
    endif()
  elseif(NOT installed STREQUAL source)
    message(FATAL_ERROR "${guide_file} is not docs/OPERATOR.md")
  endif()
endfunction()

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix
                OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install --prefix failed (${rc})")
endif()
check_tree(${WORK}/prefix)

execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${WORK}/root
                        ${CMAKE_COMMAND} --install ${BUILD} --prefix /opt/lumconv
                OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install with DESTDIR failed (${rc})")
endif()
check_tree(${WORK}/root/opt/lumconv)

execute_process(COMMAND ${EMULATOR} ${WORK}/prefix/${lumconv} --help
                WORKING_DIRECTORY ${WORK} INPUT_FILE /dev/null
                OUTPUT_VARIABLE help RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT help MATCHES "^Usage: lumconv ")
  message(FATAL_ERROR "the installed lumconv --help ended with ${rc}:\n${help}")
endif()
