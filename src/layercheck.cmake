# Fails when a file of src/ includes a header of a higher layer, or when a subsystem's
# library calls a function that a higher layer's library defines. Run by ctest as
#   cmake -DSRC=<src dir> -DLAYERS=<layers, lowest first> -DLIBS=<libvsf_*.a dir> -DNM=<nm>
#         -DEXCEPTIONS=<file> -P layercheck.cmake
# EXCEPTIONS lists what still goes up, one a line: "data/file.cpp -> driver/header.h" for an
# include, "data calls driver: function" for a call. A listed line that no longer holds
# fails too, so the list only shrinks.
cmake_minimum_required(VERSION 3.22)
file(STRINGS ${EXCEPTIONS} allowed REGEX "^[a-z]")
set(rank 0)
foreach(layer ${LAYERS})
  set(rank_${layer} ${rank})
  math(EXPR rank "${rank} + 1")
endforeach()

set(failures "")
set(seen "")
# An edge up the layers: a listed exception is marked seen, any other is a failure.
macro(note_edge edge)
  if("${edge}" IN_LIST allowed)
    list(APPEND seen "${edge}")
  else()
    list(APPEND failures "${edge}")
  endif()
endmacro()

foreach(layer ${LAYERS})
  file(GLOB files RELATIVE ${SRC} ${SRC}/${layer}/*.cpp ${SRC}/${layer}/*.h)
  foreach(file ${files})
    file(STRINGS ${SRC}/${file} includes REGEX "^#include \"[a-z]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^#include \"(([a-z]+)/[^\"]+)\".*" "\\1" header "${line}")
      string(REGEX REPLACE "/.*" "" target "${header}")
      if(DEFINED rank_${target} AND rank_${target} GREATER rank_${layer})
        note_edge("${file} -> ${header}")
      endif()
    endforeach()
  endforeach()
endforeach()

# Global symbols each library defines, then those it uses from a higher one.
foreach(layer ${LAYERS})
  execute_process(COMMAND ${NM} -C -g --defined-only ${LIBS}/libvsf_${layer}.a
                  OUTPUT_VARIABLE out COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "\n[0-9a-f]+ [TDBR] [^\n(]+" defined "${out}")
  foreach(entry ${defined})
    string(REGEX REPLACE "^\n[0-9a-f]+ [TDBR] " "" name "${entry}")
    string(MAKE_C_IDENTIFIER "${name}" key)
    if(NOT DEFINED owner_${key})
      set(owner_${key} ${layer})
    endif()
  endforeach()
endforeach()
foreach(layer ${LAYERS})
  execute_process(COMMAND ${NM} -C -u ${LIBS}/libvsf_${layer}.a
                  OUTPUT_VARIABLE out COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL " U [^\n(]+" used "${out}")
  list(REMOVE_DUPLICATES used)
  foreach(entry ${used})
    string(REGEX REPLACE "^ U " "" name "${entry}")
    string(MAKE_C_IDENTIFIER "${name}" key)
    if(DEFINED owner_${key} AND rank_${owner_${key}} GREATER rank_${layer})
      note_edge("${layer} calls ${owner_${key}}: ${name}")
    endif()
  endforeach()
endforeach()

foreach(edge ${allowed})
  if(NOT edge IN_LIST seen)
    list(APPEND failures "${edge} (listed in ${EXCEPTIONS} but gone: remove the line)")
  endif()
endforeach()
if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "includes and calls that go up the layers (${LAYERS}):\n  ${text}")
endif()
list(LENGTH seen count)
message(STATUS "layering: nothing new goes up; ${count} listed lines remain")
