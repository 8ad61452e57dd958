# SPDX-License-Identifier: BSD-3-Clause
# Warnings for the project's own targets. They never stop a user's build:
# -Werror comes only with TRUEANOMALY_WERROR, a developer option that CI
# turns on.

option(TRUEANOMALY_WERROR "Treat warnings as errors (for developers and CI)" OFF)

# trueanomaly_warnings(<target> [extra flags...]): -Wall -Wextra
# -Wconversion and the extra flags, plus -Werror under TRUEANOMALY_WERROR.
function(trueanomaly_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wconversion ${ARGN}
                         $<$<BOOL:${TRUEANOMALY_WERROR}>:-Werror>)
endfunction()
