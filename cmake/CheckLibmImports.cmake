# SPDX-License-Identifier: BSD-3-Clause
# cmake -DNM=<nm> -DLIBRARY=<shared object> -P CheckLibmImports.cmake
# Fails when the library imports sincos in any form: the solve calls sin and
# cos, and a libm's sincos need not give their bits.
execute_process(COMMAND "${NM}" -D --undefined-only "${LIBRARY}"
                OUTPUT_VARIABLE imports RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} could not read ${LIBRARY}")
endif()
string(REGEX MATCHALL "[ \t](__)?sincos[a-z_]*" merged "${imports}")
if(merged)
  message(FATAL_ERROR "${LIBRARY} imports${merged}: the compiler merged sin and cos "
          "into sincos. Compile the library's sources with trueanomaly_libm_as_written().")
endif()
