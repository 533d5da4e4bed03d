# SPDX-License-Identifier: MIT
# Fails unless CHANGELOG.md has an entry for this version.
# Run with -DCHANGELOG=<path> -DVERSION=<x.y.z>.
file(READ "${CHANGELOG}" text)
string(REPLACE "." "\\." escaped "${VERSION}")
if(NOT text MATCHES "\n## \\[${escaped}\\] - [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]")
  message(FATAL_ERROR "CHANGELOG.md has no '## [${VERSION}] - YYYY-MM-DD' entry")
endif()
message(STATUS "CHANGELOG.md describes ${VERSION}")
