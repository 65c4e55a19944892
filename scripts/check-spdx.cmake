# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# Fails when a source file lacks its licence line near its top, so that new files keep it:
#   cmake -DSOURCE_DIR=<the project> -P scripts/check-spdx.cmake
# Source files: C++ sources and headers, shell, Python and CMake files, the linker version
# script and the text files the scripts read, in the folders that hold code.
cmake_minimum_required(VERSION 3.25)
set(folders src tools tests fuzz scripts bench res packaging help .ci)
set(patterns *.cpp *.h *.sh *.py *.cmake *.map CMakeLists.txt)
set(files ${SOURCE_DIR}/CMakeLists.txt ${SOURCE_DIR}/Makefile ${SOURCE_DIR}/.ci/run
          ${SOURCE_DIR}/scripts/mutants.txt ${SOURCE_DIR}/fuzz/lsan_suppressions.txt)
foreach(folder ${folders})
  foreach(pattern ${patterns})
    file(GLOB_RECURSE found ${SOURCE_DIR}/${folder}/${pattern})
    list(APPEND files ${found})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES files)
set(missing "")
set(checked 0)
foreach(file ${files})
  file(STRINGS ${file} head LIMIT_COUNT 4)
  math(EXPR checked "${checked} + 1")
  if(NOT head MATCHES "SPDX-License-Identifier: GPL-3\\.0-or-later")
    file(RELATIVE_PATH shown ${SOURCE_DIR} ${file})
    string(APPEND missing "  ${shown}\n")
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "files without \"SPDX-License-Identifier: GPL-3.0-or-later\" in their first "
                      "lines:\n${missing}")
endif()
message(STATUS "${checked} source files, each with its licence line")
