# Keeps the operator's guide true to the programs. One script, four uses:
#
#   -DMODE=plain-text -DGUIDE=<OPERATOR.md> -DOUT=<OPERATOR.txt>
#       the guide as the Windows package carries it: CR LF line ends, the comments
#       left out, code blocks indented instead of fenced, so that Notepad shows it well.
#   -DMODE=update-example | check-example  -DGUIDE=... -DLUMGEN=<exe> -DLUMCONV=<exe>
#       -DWORK=<scratch dir> [-DEMULATOR=<wine>]
#       the example report between the guide's BEGIN/END example report comments is
#       what "lumconv --check" prints on the practice data of "lumgen practice";
#       update writes it into the guide, check fails when the two differ.
#   -DMODE=commands -DSHELL=bat|sh -DGUIDE=... -DLUMGEN=... -DLUMCONV=... -DDBFDUMP=...
#       -DNTXDUMP=... -DWORK=... [-DEMULATOR=<wine>]
#       runs every line of the guide's ```bat blocks (under wine's cmd, on a drive whose
#       root is a fresh practice folder) or ```sh blocks (under sh, in a fresh practice
#       folder, with LUMCONV=//DRIVE:<it>), in order, as one console session; fails on
#       the first line that fails, naming it. Program names in `...` must each begin a
#       line of those blocks.
cmake_minimum_required(VERSION 3.25)

set(regenerate "cmake --build build --target guide_example")

# The lines of `text` as a list, each with ";", "[" and "]" replaced by bytes that do
# not occur in the guide, so that list operations keep every line whole;
# guide_line_text gives a line back as it was.
string(ASCII 1 stand_in_semi)
string(ASCII 2 stand_in_open)
string(ASCII 3 stand_in_close)
function(guide_lines text out)
  string(REPLACE ";" "${stand_in_semi}" text "${text}")
  string(REPLACE "[" "${stand_in_open}" text "${text}")
  string(REPLACE "]" "${stand_in_close}" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(guide_line_text line out)
  string(REPLACE "${stand_in_semi}" ";" line "${line}")
  string(REPLACE "${stand_in_open}" "[" line "${line}")
  string(REPLACE "${stand_in_close}" "]" line "${line}")
  set(${out} "${line}" PARENT_SCOPE)
endfunction()

function(require)
  foreach(var IN LISTS ARGN)
    if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
      message(FATAL_ERROR "guide.cmake (${MODE}): ${var} is not set")
    endif()
  endforeach()
endfunction()

# Runs a built program, under the emulator when there is one.
function(run_program out_rc out_text)
  set(command ${ARGN})
  if(EMULATOR)
    set(command ${EMULATOR} ${command})
  endif()
  execute_process(COMMAND ${command} WORKING_DIRECTORY ${cwd} INPUT_FILE /dev/null
                  OUTPUT_VARIABLE text ERROR_VARIABLE text RESULT_VARIABLE rc)
  set(${out_rc} "${rc}" PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

# A host path as the programs see it (wine maps / to Z:).
function(program_path path out)
  if(EMULATOR)
    set(path "Z:${path}")
  endif()
  set(${out} "${path}" PARENT_SCOPE)
endfunction()

# A fresh practice folder: WORK/practice, written by lumgen.
function(make_practice out)
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${WORK})
  set(cwd ${WORK})
  run_program(rc text ${LUMGEN} practice)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "lumgen practice failed (${rc}):\n${text}")
  endif()
  set(${out} ${WORK}/practice PARENT_SCOPE)
endfunction()

require(MODE GUIDE)
file(READ ${GUIDE} guide)

if(MODE STREQUAL "plain-text")
  require(OUT)
  guide_lines("${guide}" lines)
  set(text "")
  set(in_comment OFF)
  set(in_code OFF)
  set(blank ON)  # no blank line at the top, nor two in a row
  foreach(line IN LISTS lines)
    if(in_comment)
      if(line MATCHES "-->")
        set(in_comment OFF)
      endif()
      continue()
    endif()
    if(line MATCHES "^<!--")
      if(NOT line MATCHES "-->")
        set(in_comment ON)
      endif()
      continue()
    endif()
    if(line MATCHES "^```")
      if(in_code)
        set(in_code OFF)
      else()
        set(in_code ON)
      endif()
      continue()
    endif()
    if(line STREQUAL "")
      if(NOT blank)
        string(APPEND text "\r\n")
      endif()
      set(blank ON)
      continue()
    endif()
    guide_line_text("${line}" line)
    if(in_code)
      set(line "    ${line}")
    endif()
    string(APPEND text "${line}\r\n")
    set(blank OFF)
  endforeach()
  file(WRITE ${OUT} "${text}")
  return()
endif()

if(MODE STREQUAL "update-example" OR MODE STREQUAL "check-example")
  require(LUMGEN LUMCONV WORK)
  if(guide MATCHES "[^\t\n -~]")
    message(FATAL_ERROR "${GUIDE}: a byte outside plain ASCII (\"${CMAKE_MATCH_0}\"); "
                        "Notepad would show it wrong")
  endif()
  make_practice(practice)
  set(cwd ${practice})
  program_path(${practice} drive)
  run_program(rc report ${LUMCONV} --check //DRIVE:${drive})
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "lumconv --check on the practice data ended with ${rc}:\n${report}")
  endif()

  set(begin_mark "<!-- BEGIN example report")
  set(end_mark "<!-- END example report -->")
  string(FIND "${guide}" "${begin_mark}" begin)
  string(FIND "${guide}" "${end_mark}" end)
  if(begin LESS 0 OR end LESS begin)
    message(FATAL_ERROR "${GUIDE}: no \"${begin_mark}\" ... \"${end_mark}\" comments around "
                        "the example report")
  endif()
  # The report is the text block between the two comments.
  string(SUBSTRING "${guide}" ${begin} -1 rest)
  string(FIND "${rest}" "\n```text\n" open)
  math(EXPR first "${begin} + ${open} + 9")
  math(EXPR last "${end} - 4")  # the closing "```\n" before the END comment
  string(SUBSTRING "${guide}" ${last} 4 fence)
  if(open LESS 0 OR first GREATER last OR NOT fence STREQUAL "```\n")
    message(FATAL_ERROR "${GUIDE}: the example report must be one ```text block that ends "
                        "right before \"${end_mark}\"")
  endif()
  math(EXPR length "${last} - ${first}")
  string(SUBSTRING "${guide}" ${first} ${length} shown)

  if(MODE STREQUAL "update-example")
    if(NOT shown STREQUAL report)
      string(SUBSTRING "${guide}" 0 ${first} head)
      string(SUBSTRING "${guide}" ${last} -1 tail)
      file(WRITE ${GUIDE} "${head}${report}${tail}")
      message(STATUS "${GUIDE}: example report regenerated; read the guide's explanation "
                     "of the report against it")
    else()
      message(STATUS "${GUIDE}: the example report is up to date")
    endif()
    return()
  endif()
  if(NOT shown STREQUAL report)
    file(WRITE ${WORK}/in-the-guide.txt "${shown}")
    file(WRITE ${WORK}/printed-now.txt "${report}")
    set(diff "")
    find_program(DIFF diff)
    if(DIFF)
      execute_process(COMMAND ${DIFF} -u in-the-guide.txt printed-now.txt
                      WORKING_DIRECTORY ${WORK} OUTPUT_VARIABLE diff)
    endif()
    message(FATAL_ERROR "The example report in ${GUIDE} is not what \"lumconv --check\" "
                        "prints on the practice data now. Regenerate it with\n"
                        "  ${regenerate}\n"
                        "and read the guide's explanation of the report against it.\n${diff}")
  endif()
  message(STATUS "the guide's example report is the program's own output")
  return()
endif()

if(MODE STREQUAL "commands")
  require(SHELL LUMGEN LUMCONV DBFDUMP NTXDUMP WORK)
  guide_lines("${guide}" lines)
  set(number 0)
  set(fence "")
  set(commands "")   # line numbers of the runnable lines, in order
  set(runnable "")   # the runnable lines of both kinds, for the inline check
  set(prose "")
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    if(line MATCHES "^```(.*)$")
      if(fence STREQUAL "")
        set(fence "${CMAKE_MATCH_1}")
        if(fence STREQUAL "")
          set(fence "plain")
        endif()
      else()
        set(fence "")
      endif()
      continue()
    endif()
    if(fence STREQUAL "bat" OR fence STREQUAL "sh")
      if(NOT line STREQUAL "")
        guide_line_text("${line}" text)
        set(line_${number} "${text}")
        list(APPEND runnable ${number})
        if(fence STREQUAL SHELL)
          list(APPEND commands ${number})
        endif()
      endif()
    elseif(fence STREQUAL "")
      guide_line_text("${line}" text)
      string(APPEND prose "${text}\n")
    endif()
  endforeach()
  if(NOT fence STREQUAL "")
    message(FATAL_ERROR "${GUIDE}: a code block is not closed")
  endif()
  if(NOT commands)
    message(FATAL_ERROR "${GUIDE}: no ```${SHELL} block to run")
  endif()

  # A program named in the text must be run as the text names it.
  set(programs lumconv lumgen dbfdump ntxdump)
  string(REGEX MATCHALL "`[^`\n]+`" spans "${prose}")
  foreach(span IN LISTS spans)
    string(REGEX REPLACE "^`(.*)`$" "\\1" span "${span}")
    string(REGEX MATCH "^[a-z]+" word "${span}")
    if(NOT word IN_LIST programs)
      continue()
    endif()
    set(found OFF)
    string(LENGTH "${span}" length)
    foreach(n IN LISTS runnable)
      string(FIND "${line_${n}}" "${span}" at)
      if(at EQUAL 0)
        string(SUBSTRING "${line_${n}} " ${length} 1 after)
        if(after STREQUAL " ")
          set(found ON)
        endif()
      endif()
    endforeach()
    if(NOT found)
      message(FATAL_ERROR "${GUIDE}: the text names \"${span}\", which no ```bat or ```sh "
                          "line runs; put the command in a block so that it is tried")
    endif()
  endforeach()

  make_practice(practice)
  get_filename_component(lumconv_dir ${LUMCONV} DIRECTORY)
  get_filename_component(lumgen_dir ${LUMGEN} DIRECTORY)
  get_filename_component(dbfdump_dir ${DBFDUMP} DIRECTORY)
  get_filename_component(ntxdump_dir ${NTXDUMP} DIRECTORY)
  set(dirs ${lumconv_dir} ${lumgen_dir} ${dbfdump_dir} ${ntxdump_dir})
  list(REMOVE_DUPLICATES dirs)

  if(SHELL STREQUAL "bat")
    require(EMULATOR)
    # The practice folder becomes the root of a drive of its own, as a working directory
    # on the drive of \lum\firma1 is on Windows: every path of the guide means there
    # what it means to the operator.
    set(prefix "$ENV{WINEPREFIX}")
    if(prefix STREQUAL "")
      set(prefix "$ENV{HOME}/.wine")
    endif()
    set(cwd ${WORK})
    run_program(rc text cmd /c exit)  # makes the prefix when there is none yet
    set(letter "")
    foreach(l l m n o p q r s t u v w x y)  # a free letter, or the one an earlier run left
      set(link "${prefix}/dosdevices/${l}:")
      if(IS_SYMLINK "${link}")
        file(READ_SYMLINK "${link}" points_to)
        if(points_to STREQUAL "${practice}")
          file(REMOVE "${link}")
        endif()
      endif()
      if(NOT EXISTS "${link}" AND NOT IS_SYMLINK "${link}")
        set(letter ${l})
        break()
      endif()
    endforeach()
    if(letter STREQUAL "")
      message(FATAL_ERROR "no free drive letter in ${prefix}/dosdevices")
    endif()
    file(CREATE_LINK ${practice} "${prefix}/dosdevices/${letter}:" SYMBOLIC)
    string(TOUPPER ${letter} drive)

    set(script "@echo off\r\n${drive}:\r\ncd \\\r\n")
    foreach(n IN LISTS commands)
      string(APPEND script "${line_${n}}\r\n"
                           "if errorlevel 1 (echo GUIDE-FAILED:${n} & exit /b 1)\r\n"
                           "echo GUIDE-OK:${n}\r\n")
    endforeach()
    file(WRITE ${WORK}/guide.bat "${script}")
    # The programs' folders on PATH, where the guide has the operator put theirs (no
    # "\" before a ";": wine's cmd then runs no xcopy, and says nothing).
    set(path "")
    foreach(d IN LISTS dirs)
      string(REPLACE "/" "\\" d "Z:${d}")
      list(APPEND path "${d}")
    endforeach()
    set(ENV{WINEPATH} "${path}")
    string(REPLACE "/" "\\" batch "Z:${WORK}/guide.bat")
    run_program(rc output cmd /c ${batch})
    file(REMOVE "${prefix}/dosdevices/${letter}:")
  elseif(SHELL STREQUAL "sh")
    set(script "cd '${practice}' || exit 1\n")
    foreach(n IN LISTS commands)
      # The marker keeps $? as the command left it, for the next line to see.
      string(APPEND script "${line_${n}}\n"
                           "guide_rc=$?; [ $guide_rc -eq 0 ] || { echo GUIDE-FAILED:${n}; exit 1; }; "
                           "echo GUIDE-OK:${n}; (exit $guide_rc)\n")
    endforeach()
    file(WRITE ${WORK}/guide.sh "${script}")
    string(REPLACE ";" ":" path "${dirs}")
    set(ENV{PATH} "${path}:$ENV{PATH}")
    set(ENV{LUMCONV} "//DRIVE:${practice}")
    set(EMULATOR "")
    set(cwd ${WORK})
    run_program(rc output sh ${WORK}/guide.sh)
  else()
    message(FATAL_ERROR "guide.cmake: SHELL must be bat or sh, not \"${SHELL}\"")
  endif()

  if(output MATCHES "GUIDE-FAILED:([0-9]+)")
    set(n ${CMAKE_MATCH_1})
    message(FATAL_ERROR "${GUIDE}:${n}: the command \"${line_${n}}\" failed on the practice "
                        "data. Everything the session printed:\n${output}")
  endif()
  foreach(n IN LISTS commands)
    if(NOT output MATCHES "GUIDE-OK:${n}[\r\n]")
      message(FATAL_ERROR "${GUIDE}:${n}: the command \"${line_${n}}\" did not run "
                          "(exit code ${rc}). Everything the session printed:\n${output}")
    endif()
  endforeach()
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the guide's commands ended with ${rc}:\n${output}")
  endif()
  list(LENGTH commands count)
  message(STATUS "the guide's ${count} ${SHELL} command lines ran on the practice data:\n${output}")
  return()
endif()

message(FATAL_ERROR "guide.cmake: unknown MODE \"${MODE}\"")
