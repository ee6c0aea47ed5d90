# SPDX-License-Identifier: GPL-3.0-or-later
# Layer-named includes that the build enforces. Each layer target exports, as its include path, a
# folder in the build tree holding nothing but a link named after the layer, so "gui/frame.h"
# resolves only in targets that link corvex_gui: an include against the allowed arrows fails to
# compile. .ci/check-layers checks the same arrows over the sources.
set(CORVEX_INCLUDE_ROOTS ${CMAKE_BINARY_DIR}/include-roots)

# corvex_layer_headers(<target> <path> [INTERFACE])
# Makes <path> (a folder or a single header, relative to the source tree) includable as
# "<path>/..." (or "<path>") by <target> and everything linking it.
function(corvex_layer_headers target path)
  set(scope PUBLIC)
  if(ARGN STREQUAL "INTERFACE")
    set(scope INTERFACE)
  endif()
  set(root ${CORVEX_INCLUDE_ROOTS}/${target})
  get_filename_component(parent ${root}/${path} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(REMOVE ${root}/${path})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${path} ${root}/${path} SYMBOLIC)
  target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${root}>)
endfunction()
