# The Windows lumconv on a console: wine gives a process a console when it runs on a
# terminal, so the run goes into a tmux pane, whose screen is read back. The banner
# stands at its rows, the note below the last of them, and the exit code after it.
#   cmake -DTMUX=... -DEMULATOR=... -DWINDOWS_LUMCONV=... -DWORK=<empty dir> -P console_run.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/run)
set(server -f /dev/null -S ${WORK}/tmux.sock)
execute_process(COMMAND ${TMUX} ${server} new-session -d -x 80 -y 25 -s console -c ${WORK}/run
                        "'${EMULATOR}' '${WINDOWS_LUMCONV}'; echo exit=$?; sleep 60"
                RESULT_VARIABLE started)
if(NOT started EQUAL 0)
  message(FATAL_ERROR "tmux did not start: ${started}")
endif()
set(screen "")
foreach(i RANGE 300)
  execute_process(COMMAND ${TMUX} ${server} capture-pane -p -t console OUTPUT_VARIABLE screen)
  if(screen MATCHES "exit=")
    break()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 0.2)
endforeach()
execute_process(COMMAND ${TMUX} ${server} kill-server)

set(expected
    "\n\n               Qo Softwares 00-0000-0000\n"
    "               Convertendo dados do Cobol para \\lum\\firma1\n"
    "lumconv: nothing to convert: no FORNECED.TXT, PAGAR.txt, prod.txt, clientes.txt\n"
    "exit=0\n")
string(CONCAT expected ${expected})
string(FIND "${screen}" "${expected}" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "the console shows:\n${screen}\nexpected it to begin:\n${expected}")
endif()
file(GLOB left ${WORK}/run/*)
if(left)
  message(FATAL_ERROR "the run left files: ${left}")
endif()
