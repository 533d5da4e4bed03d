# SPDX-License-Identifier: MIT
# Reads -DIN=<file> as JSON (any error fails the script) and writes the
# member at -DPATH=<a;b;0;c> (object keys and array indexes) to -DOUT=<file>,
# as its text: velkshared-ctl --json, parsed back by a JSON parser.
file(READ "${IN}" json)
string(JSON value ERROR_VARIABLE error GET "${json}" ${PATH})
if(error)
  message(FATAL_ERROR "${error}")
endif()
file(WRITE "${OUT}" "${value}")
