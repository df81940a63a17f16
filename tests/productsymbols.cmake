# Fails when one of the given objects or binaries defines one of the host's test switches.
# Run as `cmake -DNM=... -DOBJECTS=a.o|b.o|qrx -P productsymbols.cmake`.
string(REPLACE "|" ";" objects "${OBJECTS}")
set(switches "failNamedPool|failUtilityIoAt|refuseOutputRowsAfter|setMemoryFigureForTest"
             "|failExtensionLoad|refusedOutputRows|utilityIoCount|workPoolFailStarts")
string(CONCAT pattern ${switches})
set(kernel_seen FALSE)
foreach(object ${objects})
  execute_process(COMMAND ${NM} -C --defined-only ${object} OUTPUT_VARIABLE symbols
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} cannot read ${object}")
  endif()
  string(REGEX MATCH "(${pattern})[^\n]*" found "${symbols}")
  if(found)
    message(FATAL_ERROR "${object} defines the test switch ${found}")
  endif()
  if(symbols MATCHES "qrxhost::kernelHandle\\(\\)")
    set(kernel_seen TRUE)
  endif()
endforeach()
if(NOT kernel_seen)
  message(FATAL_ERROR "no object defines qrxhost::kernelHandle(): the object list is wrong")
endif()
