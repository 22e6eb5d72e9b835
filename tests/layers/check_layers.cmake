cmake_minimum_required(VERSION 3.25)
# Reads every #include "folder/..." of the product's code and fails naming each one that the table
# below does not allow. Run as: cmake -DSOURCE_DIR=<repo> -P check_layers.cmake

# The folders' libraries, linked in this order: an allowed include must run down it. The window's
# program and the scan tool stand on top, beside each other.
set(layers platform settings secs terminal ladder trans orders core app)
set(top_folders app tools)

# Which folder may include which, and why. A new include of another folder needs its line here.
set(allowed_edges
  "settings -> platform: the log's clock and boxes, the program folder, the files' encoding"
  "secs     -> platform: the securities file's encoding"
  "secs     -> settings: the log and the error that stops start-up"
  "terminal -> platform: process memory, the link's stream and its lines, the request file, the program folder"
  "terminal -> settings: the settings, the log, the panel's messages, the trim"
  "terminal -> secs: a book is read and priced by its security's record, and the memory source reads sec.dat"
  "ladder   -> platform: the locale's decimal separator of the price cells"
  "ladder   -> settings: the log"
  "ladder   -> secs: prices are shown with their security's decimals"
  "ladder   -> terminal: the grid shows the quote table read"
  "trans    -> platform: the TRANS_ID seed's clock, quik.tro's lines, the library, boxes, the files' encoding"
  "trans    -> settings: the settings, the log, the line writer, the terminal's ini and the trim"
  "trans    -> secs: a transaction names its security"
  "trans    -> terminal: a transaction's side is the book's Side type"
  "trans    -> ladder: a price in ticks is written in a transaction as it is shown"
  "orders   -> platform: the clock and the library's events"
  "orders   -> settings: the settings, the log, the panel's messages and the trim"
  "orders   -> secs: the security ordered"
  "orders   -> terminal: the shown book, the watch that allows orders, the script's orders and trades"
  "orders   -> ladder: the clicked cell and its price"
  "orders   -> trans: orders are sent as transactions, and their replies read"
  "core     -> platform: the session creates the platform's parts the components share"
  "core     -> settings: the session loads the settings and creates the log and the alarms"
  "core     -> secs: start-up reads the securities file"
  "core     -> terminal: start-up picks the book source and the session drives it"
  "core     -> ladder: the tick maps the book onto the grid"
  "core     -> trans: the session creates the sender and the deliveries"
  "core     -> orders: the session creates order entry, the stops and the tracking"
  "app      -> platform: main sets up the crash reporter, the boxes and the platform"
  "app      -> settings: the window shows and saves the settings, and shows the panel"
  "app      -> secs: the orders tab prices with the security's decimals"
  "app      -> terminal: the window offers the instruments discovered"
  "app      -> ladder: the ladder view paints the grid"
  "app      -> orders: the window's commands are order entry's"
  "app      -> core: the window drives the session"
  "tools    -> platform: the scan reads a process's memory"
  "tools    -> settings: the log, the ini and its numbers"
  "tools    -> secs: the scan knows the books by their securities"
  "tools    -> terminal: the scan is the terminal's DOMBASE scan, run on its own"
)

set(table_errors)
foreach(edge IN LISTS allowed_edges)
  if(NOT edge MATCHES "^([a-z]+) +-> ([a-z]+): .+$")
    list(APPEND table_errors "\"${edge}\" is not \"folder -> folder: reason\"")
    continue()
  endif()
  set(from ${CMAKE_MATCH_1})
  set(to ${CMAKE_MATCH_2})
  list(FIND layers ${from} from_rank)
  list(FIND layers ${to} to_rank)
  if(from IN_LIST top_folders)
    list(FIND layers app from_rank)
  endif()
  if(from_rank EQUAL -1 OR to_rank EQUAL -1 OR NOT to_rank LESS from_rank)
    list(APPEND table_errors "${from} -> ${to} does not run down the libraries ${layers}")
  endif()
  list(APPEND allowed_${from} ${to})
endforeach()
if(table_errors)
  list(JOIN table_errors "\n  " text)
  message(FATAL_ERROR "the table of allowed includes is wrong:\n  ${text}")
endif()

set(bad_includes)
foreach(folder IN LISTS layers top_folders)
  file(GLOB_RECURSE sources ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
  foreach(source IN LISTS sources)
    file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[A-Za-z0-9_]+/")
    file(RELATIVE_PATH name ${SOURCE_DIR} ${source})
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" included "${line}")
      string(REGEX REPLACE "/.*$" "" target "${included}")
      if(target STREQUAL folder OR target IN_LIST allowed_${folder})
        continue()
      endif()
      list(FIND layers ${target} target_rank)
      if(target_rank EQUAL -1)
        list(APPEND bad_includes "${name} includes \"${included}\", outside the product's layers")
      else()
        list(JOIN allowed_${folder} ", " may)
        if(may STREQUAL "")
          set(may "no other folder")
        endif()
        list(APPEND bad_includes "${name} includes \"${included}\": ${folder} may include only ${may}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(bad_includes)
  list(LENGTH bad_includes count)
  list(JOIN bad_includes "\n  " text)
  message(FATAL_ERROR "${count} include(s) the table in tests/layers/check_layers.cmake does not allow:\n  ${text}")
endif()
message(STATUS "every include between folders is one the table allows")
