# Compiles SOURCE with and without QRX_COMPILE_FAIL_CONTROL: the first must succeed and the
# second must fail. Run as `cmake -DCXX=... -DSOURCE=... -DINCLUDES=a|b -P compilefail.cmake`.
set(flags -std=c++20 -fsyntax-only)
string(REPLACE "|" ";" include_dirs "${INCLUDES}")
foreach(dir ${include_dirs})
  list(APPEND flags -I${dir})
endforeach()
execute_process(COMMAND ${CXX} ${flags} -DQRX_COMPILE_FAIL_CONTROL ${SOURCE}
                RESULT_VARIABLE control_rc ERROR_VARIABLE control_err)
if(NOT control_rc EQUAL 0)
  message(FATAL_ERROR "the control build of ${SOURCE} does not compile:\n${control_err}")
endif()
execute_process(COMMAND ${CXX} ${flags} ${SOURCE} RESULT_VARIABLE rc ERROR_VARIABLE err)
if(rc EQUAL 0)
  message(FATAL_ERROR "${SOURCE} compiles; the compiler should refuse its guarded lines")
endif()
