# What an operator receives: the four programs and the operator's guide, installed by
# `cmake --install` and packed by CPack (`cmake --build <build> --target package`).
#
# - Linux: lumconv, lumgen, dbfdump and ntxdump in bin/, the guide (docs/OPERATOR.md)
#   in share/doc/lumconv/; packed as a .tar.gz and, where dpkg-shlibdeps can work out
#   the package's dependencies, a .deb.
# - Windows (the mingw-w64 cross build): one flat folder with the four .exe files and
#   the guide as OPERATOR.txt (CR LF, for Notepad), packed as lumconv-<version>-win64.zip.
#   The executables link statically and need no DLL beside them.
include(GNUInstallDirs)

set(LUM_GUIDE ${PROJECT_SOURCE_DIR}/docs/OPERATOR.md)
set(LUM_GUIDE_SCRIPT ${PROJECT_SOURCE_DIR}/docs/guide.cmake)
set(LUM_GUIDE_TEXT ${PROJECT_BINARY_DIR}/OPERATOR.txt)

# The guide as a plain text file with CR LF line ends, made again when the guide changes.
add_custom_command(OUTPUT ${LUM_GUIDE_TEXT}
  COMMAND ${CMAKE_COMMAND} -DMODE=plain-text -DGUIDE=${LUM_GUIDE} -DOUT=${LUM_GUIDE_TEXT}
          -P ${LUM_GUIDE_SCRIPT}
  DEPENDS ${LUM_GUIDE} ${LUM_GUIDE_SCRIPT}
  COMMENT "The operator's guide as plain text (CR LF)" VERBATIM)
add_custom_target(operator_guide_text ALL DEPENDS ${LUM_GUIDE_TEXT})

# The guide's example report is the output of `lumconv --check` on lumgen's practice
# data; after a change of the report, this target writes the new one into the guide
# (and a test fails until it has been run).
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(LUM_GUIDE_EMULATOR -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR})
endif()
add_custom_target(guide_example
  COMMAND ${CMAKE_COMMAND} -DMODE=update-example -DGUIDE=${LUM_GUIDE}
          -DLUMGEN=$<TARGET_FILE:lumgen> -DLUMCONV=$<TARGET_FILE:lumconv> ${LUM_GUIDE_EMULATOR}
          -DWORK=${PROJECT_BINARY_DIR}/guide_example -P ${LUM_GUIDE_SCRIPT}
  DEPENDS lumconv lumgen
  COMMENT "Writing the output of lumconv --check on the practice data into docs/OPERATOR.md"
  VERBATIM)

set(LUM_PROGRAMS lumconv lumgen dbfdump ntxdump)
if(WIN32)
  install(TARGETS ${LUM_PROGRAMS} RUNTIME DESTINATION .)
  install(FILES ${LUM_GUIDE_TEXT} DESTINATION .)
else()
  install(TARGETS ${LUM_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${LUM_GUIDE} DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME lumconv)
set(CPACK_PACKAGE_VENDOR "lumconv")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Moves exported fixed-width text into the destination system's DBF tables")
set(CPACK_PACKAGE_CONTACT "lumconv developers")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
  # The .deb states the libraries the programs need; without dpkg-shlibdeps it could not.
  find_program(LUM_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(LUM_DPKG_SHLIBDEPS)
    list(APPEND CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  endif()
endif()
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/sample/")
include(CPack)
