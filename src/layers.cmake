# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# The core's layers and what each may use, top to bottom:
#   hosts (cli, app, ui, widgets) -> rip -> encoders -> capture -> disc -> config -> platform,
# with playback (CD playback, eject) beside capture, above disc.
# A layer names the layers directly below it; it may include and link those and everything
# below them, never a layer above or beside it. src/CMakeLists.txt builds one static library
# per layer from this table, and the Layers test (`cmake -P` of this file) checks every
# project include in src/ against it.
if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()

set(OBRIN_LAYERS platform config disc capture playback encoders rip)
set(OBRIN_LAYER_USES_platform "")
set(OBRIN_LAYER_USES_config platform)
set(OBRIN_LAYER_USES_disc config)
set(OBRIN_LAYER_USES_capture disc)
set(OBRIN_LAYER_USES_playback disc)
set(OBRIN_LAYER_USES_encoders capture)
set(OBRIN_LAYER_USES_rip encoders)
# The hosts sit on the whole core; among themselves the window's parts stack too.
set(OBRIN_HOSTS cli widgets ui app)
set(OBRIN_LAYER_USES_cli rip playback)
set(OBRIN_LAYER_USES_widgets rip playback)
set(OBRIN_LAYER_USES_ui widgets)
set(OBRIN_LAYER_USES_app ui)

# Sets `out` to every layer `layer` may include: itself and all it uses, directly or not.
function(obrin_layer_reach layer out)
  set(reach ${layer})
  set(queue ${OBRIN_LAYER_USES_${layer}})
  while(queue)
    list(POP_FRONT queue next)
    if(NOT next IN_LIST reach)
      list(APPEND reach ${next})
      list(APPEND queue ${OBRIN_LAYER_USES_${next}})
    endif()
  endwhile()
  set(${out} ${reach} PARENT_SCOPE)
endfunction()

# Run as a script (cmake -DSOURCE_DIR=src -P layers.cmake): fails on the first include of a
# layer that the including file's layer may not use.
if(CMAKE_SCRIPT_MODE_FILE)
  set(faults "")
  set(checked 0)
  foreach(layer ${OBRIN_LAYERS} ${OBRIN_HOSTS})
    obrin_layer_reach(${layer} reach)
    file(GLOB_RECURSE files ${SOURCE_DIR}/${layer}/*.h ${SOURCE_DIR}/${layer}/*.cpp)
    foreach(file ${files})
      file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
      foreach(line ${includes})
        string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" path "${line}")
        math(EXPR checked "${checked} + 1")
        if(NOT path MATCHES "/")
          continue()  # a file beside the includer
        endif()
        string(REGEX REPLACE "/.*$" "" target "${path}")
        if(NOT target IN_LIST reach)
          file(RELATIVE_PATH shown ${SOURCE_DIR} ${file})
          string(APPEND faults "  ${shown} (${layer}) includes ${path}\n")
        endif()
      endforeach()
    endforeach()
  endforeach()
  if(faults)
    message(FATAL_ERROR "includes that point up or across the layers:\n${faults}")
  endif()
  message(STATUS "${checked} includes, all pointing down the layers")
endif()
