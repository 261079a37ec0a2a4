# Fails when a file of one room includes a header of a room it may not use: every include
# points down, never up, and rooms on one level do not use each other.
#   cmake -DSOURCE_DIR=... -P cmake/layers.cmake

cmake_minimum_required(VERSION 3.25)

# Each room, then the rooms below it that it may use.
set(may_use_encoding "")
set(may_use_console encoding)
set(may_use_disk encoding)
set(may_use_settings disk encoding)
set(may_use_steam console disk encoding)
set(may_use_mending settings console disk encoding)
set(may_use_driver mending steam settings console disk encoding)
set(rooms encoding console disk settings steam mending driver)

set(faults "")
foreach(room IN LISTS rooms)
  file(GLOB files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${room}/*.cpp" "${SOURCE_DIR}/${room}/*.h")
  foreach(file IN LISTS files)
    set(allowed ${room} ${may_use_${room}})
    # A unit test beside its code may use the tests' own helpers too.
    if(file MATCHES "_test\\.cpp$")
      list(APPEND allowed tests)
    endif()
    file(STRINGS "${SOURCE_DIR}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" header "${line}")
      string(REGEX MATCH "^[^/]+/" used "${header}")
      string(REGEX REPLACE "/$" "" used "${used}")
      if(used STREQUAL "" OR NOT used IN_LIST allowed)
        string(JOIN ", " shown ${allowed})
        string(APPEND faults "  ${file} includes ${header}: ${room}/ may use only ${shown}\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "Includes that break the layers:\n${faults}")
endif()
