# The ZIP for Windows: the four programs, which need no DLL beside them,
# with the README, the licence and the manual page as text, in one folder.
#
#   (cd build-windows && cpack)   -> colour-converters-1.0.0-win64.zip
#     colour-converters-1.0.0-win64/ tesvar.exe morvane.exe tesvarex.exe
#       morvanex.exe README.txt LICENSE.txt MANUAL.txt
install(TARGETS ${CONVERTERS_PROGRAMS} RUNTIME DESTINATION .)

# Text files get Windows line ends. The manual page is rendered on the
# building machine, without hyphenation so that no word is split by a
# character other than "-".
find_program(GROFF_PROGRAM groff REQUIRED)
set(windows_text_dir ${PROJECT_BINARY_DIR}/windows_text)
file(MAKE_DIRECTORY ${windows_text_dir})
set(to_windows_text ${PROJECT_SOURCE_DIR}/cmake/windows_line_ends.cmake)
add_custom_command(
  OUTPUT ${windows_text_dir}/MANUAL.txt
  COMMAND ${GROFF_PROGRAM} -man -Tutf8 -rHY=0 -P-cbou ${PROJECT_SOURCE_DIR}/man/man1/tesvar.1
          > ${windows_text_dir}/manual.unix.txt
  COMMAND ${CMAKE_COMMAND} -DINPUT=${windows_text_dir}/manual.unix.txt
          -DOUTPUT=${windows_text_dir}/MANUAL.txt -P ${to_windows_text}
  DEPENDS ${PROJECT_SOURCE_DIR}/man/man1/tesvar.1 ${to_windows_text}
  VERBATIM)
# Named .txt so that a double click opens them.
set(windows_texts ${windows_text_dir}/MANUAL.txt)
foreach(document README LICENSE)
  set(source ${PROJECT_SOURCE_DIR}/${document})
  if(document STREQUAL "README")
    set(source ${PROJECT_SOURCE_DIR}/README.md)
  endif()
  set(text ${windows_text_dir}/${document}.txt)
  add_custom_command(
    OUTPUT ${text}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${source} -DOUTPUT=${text} -P ${to_windows_text}
    DEPENDS ${source} ${to_windows_text}
    VERBATIM)
  list(APPEND windows_texts ${text})
endforeach()
add_custom_target(windows_texts ALL DEPENDS ${windows_texts})
install(FILES ${windows_texts} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME "colour-converters")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
