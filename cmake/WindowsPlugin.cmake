# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows build: Corvex.dll with its editor on the Win32 platform layer, entered through
# DllMain, exporting only "main" by its module-definition file and carrying its version record and
# editor background as resources; then, with the tests, the host check and the editor's window
# tests under Wine.
enable_language(RC)

add_library(corvex MODULE
  plugin/corvex_main_win32.cpp
  plugin/corvex.def
  plugin/corvex.rc)
# The window system comes after the editor and toolkit that call it (static libraries resolve in
# order).
target_link_libraries(corvex PRIVATE corvex_plugin_factory corvex_vst2_editor corvex_window corvex_gui
  corvex_platform_native)
set_target_properties(corvex PROPERTIES
  PREFIX ""
  OUTPUT_NAME Corvex
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  LINK_DEPENDS ${CMAKE_SOURCE_DIR}/plugin/corvex.def)
target_link_options(corvex PRIVATE -Wl,--no-undefined)
target_compile_definitions(corvex PRIVATE
  $<$<COMPILE_LANGUAGE:RC>:CORVEX_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}>
  $<$<COMPILE_LANGUAGE:RC>:CORVEX_VERSION_MINOR=${PROJECT_VERSION_MINOR}>
  $<$<COMPILE_LANGUAGE:RC>:CORVEX_VERSION_PATCH=${PROJECT_VERSION_PATCH}>
  $<$<COMPILE_LANGUAGE:RC>:CORVEX_VERSION_TWEAK=${PROJECT_VERSION_TWEAK}>)

# Resource 10001, the editor background: made by the Linux build's own generator, compiled for and
# run on the build machine (it writes the same bytes everywhere), and named by plugin/corvex.rc.
find_program(CORVEX_BUILD_MACHINE_CXX NAMES c++ g++ REQUIRED)
set(background_dir ${CMAKE_BINARY_DIR}/resources)
set(background ${background_dir}/corvex-background.bmp)
add_custom_command(OUTPUT ${background}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${background_dir}
  COMMAND ${CORVEX_BUILD_MACHINE_CXX} -std=c++20 -O2 -o ${background_dir}/make-background
          ${CMAKE_SOURCE_DIR}/resources/make_background.cpp
  COMMAND ${background_dir}/make-background ${background}
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/make_background.cpp
  COMMENT "Generating the editor background bitmap")
add_custom_target(corvex_background DEPENDS ${background})
add_dependencies(corvex corvex_background)
set_source_files_properties(plugin/corvex.rc PROPERTIES OBJECT_DEPENDS ${background})
target_include_directories(corvex PRIVATE $<$<COMPILE_LANGUAGE:RC>:${background_dir}>)

add_subdirectory(testkit)

if(CORVEX_BUILD_TESTS)
  enable_testing()
  add_subdirectory(tests/windows)
endif()
