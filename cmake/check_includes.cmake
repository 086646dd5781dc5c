# Checks that the files of a folder include only headers they may: run as
#   cmake -DSOURCES=<files> -DALLOWED=<headers> -DALLOWED_FOLDERS=<folders> -DSTAMP=<file>
#         -P check_includes.cmake
# (lists separated by "|"). A quoted include is allowed when it names a header of ALLOWED or
# lies in a folder of ALLOWED_FOLDERS; anything else fails with the file, line and header.
# STAMP is written when every include passes.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "|" ";" sources "${SOURCES}")
string(REPLACE "|" ";" allowed "${ALLOWED}")
string(REPLACE "|" ";" folders "${ALLOWED_FOLDERS}")
set(failures "")
foreach(source IN LISTS sources)
  file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" header "${line}")
    if(header IN_LIST allowed)
      continue()
    endif()
    string(REGEX REPLACE "/[^/]*$" "" folder "${header}")
    if(folder IN_LIST folders)
      continue()
    endif()
    string(APPEND failures "\n  ${source}: ${header}")
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "Includes outside the allowed interface:${failures}")
endif()
file(TOUCH "${STAMP}")
