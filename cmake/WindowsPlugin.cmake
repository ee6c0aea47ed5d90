# The Windows build: Corvex.dll, entered through DllMain, exporting only "main" by its
# module-definition file and carrying its version record and editor background as resources;
# then, with the tests, the host check that loads the DLL under Wine.
enable_language(RC)

add_library(corvex MODULE
  host/corvex_main_win32.cpp
  host/corvex.def
  resources/corvex.rc)
target_link_libraries(corvex PRIVATE corvex_engine)
set_target_properties(corvex PROPERTIES
  PREFIX ""
  OUTPUT_NAME Corvex
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  LINK_DEPENDS ${CMAKE_SOURCE_DIR}/host/corvex.def)
target_link_options(corvex PRIVATE -Wl,--no-undefined)
target_compile_definitions(corvex PRIVATE
  $<$<COMPILE_LANGUAGE:RC>:CORVEX_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}>
  $<$<COMPILE_LANGUAGE:RC>:CORVEX_VERSION_MINOR=${PROJECT_VERSION_MINOR}>
  $<$<COMPILE_LANGUAGE:RC>:CORVEX_VERSION_PATCH=${PROJECT_VERSION_PATCH}>
  $<$<COMPILE_LANGUAGE:RC>:CORVEX_VERSION_TWEAK=${PROJECT_VERSION_TWEAK}>)

# Resource 10001, the editor background (600 x 350, 24-bit), goes in when the file exists. The
# bitmap is copied to a fixed name beside the other build resources, which the .rc names.
set(CORVEX_BACKGROUND_BMP ${CMAKE_SOURCE_DIR}/resources/background.bmp CACHE FILEPATH
  "Editor background bitmap compiled into Corvex.dll as resource 10001")
set(CORVEX_HAS_BACKGROUND OFF)
if(EXISTS ${CORVEX_BACKGROUND_BMP})
  set(CORVEX_HAS_BACKGROUND ON)
  set(background_copy ${CMAKE_BINARY_DIR}/resources/corvex-background.bmp)
  add_custom_command(OUTPUT ${background_copy}
    COMMAND ${CMAKE_COMMAND} -E copy ${CORVEX_BACKGROUND_BMP} ${background_copy}
    DEPENDS ${CORVEX_BACKGROUND_BMP})
  add_custom_target(corvex_background_resource DEPENDS ${background_copy})
  add_dependencies(corvex corvex_background_resource)
  set_source_files_properties(resources/corvex.rc PROPERTIES OBJECT_DEPENDS ${background_copy})
  target_compile_definitions(corvex PRIVATE $<$<COMPILE_LANGUAGE:RC>:CORVEX_HAS_BACKGROUND>)
  target_include_directories(corvex PRIVATE $<$<COMPILE_LANGUAGE:RC>:${CMAKE_BINARY_DIR}/resources>)
  message(STATUS "Corvex.dll carries the editor background ${CORVEX_BACKGROUND_BMP}")
else()
  message(STATUS "Corvex.dll without an editor background (no ${CORVEX_BACKGROUND_BMP})")
endif()

add_subdirectory(tools)

if(CORVEX_BUILD_TESTS)
  enable_testing()
  add_subdirectory(tests/windows)
endif()
