# SPDX-License-Identifier: Apache-2.0
# Builds one sample database from SQL scripts with the companion tool vidange.
#
#   cmake -P make-database.cmake VIDANGE DATABASE SCRIPT [SCRIPT ...]
#
# Removes DATABASE (and any SQLite side file) if it exists, creates it with
# `vidange sql DATABASE --create`, feeding it the first script on standard
# input, then runs each further script with `vidange sql DATABASE`; each
# script is one transaction (--transaction). On any
# failure the half-built database is removed and the build stops with the
# tool's message.

# CMAKE_ARGV0 is cmake, 1 is -P, 2 this script; ours start at 3.
math(EXPR last "${CMAKE_ARGC} - 1")
if(CMAKE_ARGC LESS 6)
  message(FATAL_ERROR "usage: cmake -P make-database.cmake VIDANGE DATABASE SCRIPT [SCRIPT ...]")
endif()
set(vidange "${CMAKE_ARGV3}")
set(database "${CMAKE_ARGV4}")

function(remove_database)
  file(REMOVE "${database}" "${database}-wal" "${database}-shm" "${database}-journal")
endfunction()

remove_database()
get_filename_component(folder "${database}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")

set(create --create)
foreach(index RANGE 5 ${last})
  set(script "${CMAKE_ARGV${index}}")
  execute_process(
    COMMAND "${vidange}" sql "${database}" ${create} --transaction
    INPUT_FILE "${script}"
    RESULT_VARIABLE status
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors)
  if(NOT status STREQUAL "0")
    remove_database()
    message(FATAL_ERROR "vidange failed (${status}) on ${script} for ${database}:\n${errors}")
  endif()
  set(create "")
endforeach()
