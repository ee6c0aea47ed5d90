# SPDX-License-Identifier: GPL-3.0-or-later
# Releases: what `cmake --install` puts where, the manual page, the Debian package and tarball
# (`cmake --build build --target package`), and the Windows zip (`--target windows-zip`).
# Every file name and version shown to a user comes from project(... VERSION ...).

# corvex.so (plugin/) and corvex-render (tools/) say where they go themselves; a tool added later
# needs only to exist under this name to be installed beside them.
if(TARGET corvex-validate)
  install(TARGETS corvex-validate RUNTIME DESTINATION bin)
endif()

# corvex(1), corvex-render(1) and corvex-validate(1), each made from README.md's section about it
# by pandoc, so each manual is written once; each names the others under SEE ALSO. Compressed
# without a name or time stamp: the same sources give the same bytes.
find_program(CORVEX_PANDOC pandoc)
find_program(CORVEX_GZIP gzip)
if(CORVEX_PANDOC AND CORVEX_GZIP)
  set(CORVEX_MAN_PAGES "")
  set(pages corvex corvex-render corvex-validate)
  foreach(program IN LISTS pages)
    string(TOUPPER ${program} title)
    set(others ${pages})
    list(REMOVE_ITEM others ${program})
    list(JOIN others "," others)
    set(page ${CMAKE_BINARY_DIR}/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CORVEX_PANDOC} -f markdown-smart -t man -s
              --lua-filter ${CMAKE_SOURCE_DIR}/packaging/manpage.lua
              -M program=${program} -M title=${title} -M section=1 -M header=Corvex
              -M seealso=${others}
              "-M" "footer=${program} ${PROJECT_VERSION}"
              -o ${page} ${CMAKE_SOURCE_DIR}/README.md
      COMMAND ${CORVEX_GZIP} -9 -n -f ${page}
      DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/packaging/manpage.lua
      COMMENT "Writing the ${program}(1) manual page from README.md"
      VERBATIM)
    list(APPEND CORVEX_MAN_PAGES ${page}.gz)
  endforeach()
  add_custom_target(corvex-man-page ALL DEPENDS ${CORVEX_MAN_PAGES})
  install(FILES ${CORVEX_MAN_PAGES} DESTINATION share/man/man1)
else()
  # The plug-in and the tools build without them; an installation or package would lack the pages.
  message(WARNING "pandoc or gzip not found (./setup.sh installs them): no corvex(1), "
                  "corvex-render(1) or corvex-validate(1) manual page, and installing or "
                  "packaging stops")
  install(CODE "message(FATAL_ERROR \"The manual pages need pandoc and gzip (./setup.sh), then "
                "a new cmake run\")")
endif()

# Debian's names: the copyright file in Debian's machine-readable format, which points to the
# licence text every Debian system has; the changelog in Debian's format, beside the project's
# own. Documents are compressed, as Debian's policy asks, without a name or time stamp.
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
set(CORVEX_DOCS "")
if(CORVEX_GZIP)
  foreach(doc ${CMAKE_BINARY_DIR}/doc/changelog ${CMAKE_SOURCE_DIR}/README.md
              ${CMAKE_SOURCE_DIR}/CHANGELOG.md)
    get_filename_component(name ${doc} NAME)
    set(staged ${CMAKE_BINARY_DIR}/doc/compressed/${name})
    set(out ${staged}.gz)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E copy ${doc} ${staged}
      COMMAND ${CORVEX_GZIP} -9 -n -f ${staged}
      DEPENDS ${doc} VERBATIM)
    list(APPEND CORVEX_DOCS ${out})
  endforeach()
  add_custom_target(corvex-docs ALL DEPENDS ${CORVEX_DOCS})
  install(FILES ${CORVEX_DOCS} DESTINATION share/doc/corvex)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION share/doc/corvex)

# ---- The Debian package and the tarball of the same tree ----
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGE_NAME corvex)
set(CPACK_PACKAGE_VENDOR Ondrel)
set(CPACK_PACKAGE_CONTACT "Ondrel <corvex@ondrel.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "texture synthesizer (VST2 and LV2 plug-in, JACK instrument)")
# One string, lines under 80 columns as Debian's tools show them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Corvex is a monophonic texture synthesizer: thirty partials of one wave, each\n"
  "swelling and fading under its own slow oscillator, for pads, water, chimes,\n"
  "rain, bird calls and sequences that seem to play themselves. It has fourteen\n"
  "parameters and 48 factory programs.\n"
  "\n"
  "This package holds the VST2 plug-in for Linux hosts (Ardour, Bitwig Studio,\n"
  "Qtractor, REAPER, Carla and others), the same synth as an LV2 plug-in with its\n"
  "programs as presets, corvex, the synth as an instrument of its own on JACK\n"
  "(PipeWire's JACK too) with its window or headless, and corvex-render, which\n"
  "plays notes and MIDI files through a VST2 instrument into audio files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The tarball unpacks to usr/... so that `tar -xzf ... -C /` (or -C any prefix) places it.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_FILE_NAME corvex-${PROJECT_VERSION}-linux-x86_64)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # corvex_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: from the shared libraries the plug-in and the tools link, by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# What Debian's tools expect of the files: no write bit for others, directories 0755.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_SOURCE_GENERATOR "")
# CPack calls ldconfig from generated maintainer scripts whenever a shared object sits below
# /usr/lib, and corvex.so does (/usr/lib/vst). No library of ours is in the linker's path, so the
# package is rewritten without them.
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/deb-fixup.cmake)
include(CPack)

# ---- The Windows zip, from tools/windows-ci.sh's two builds ----
set(CORVEX_WIN32_DLL ${CMAKE_SOURCE_DIR}/build-win32/Corvex.dll
    CACHE FILEPATH "The 32-bit Corvex.dll for the Windows zip")
set(CORVEX_WIN64_DLL ${CMAKE_SOURCE_DIR}/build-win64/Corvex.dll
    CACHE FILEPATH "The 64-bit Corvex.dll for the Windows zip")
set(CORVEX_WINDOWS_ZIP ${CMAKE_BINARY_DIR}/Corvex-${PROJECT_VERSION}-windows.zip)
set(zip_dir ${CMAKE_BINARY_DIR}/windows-zip)
configure_file(${CMAKE_SOURCE_DIR}/packaging/windows-README.txt.in ${zip_dir}/README.txt
  @ONLY NEWLINE_STYLE CRLF)
# Not part of the default build: the DLLs come from the cross builds, which need their own run.
add_custom_target(windows-zip
  COMMAND ${CMAKE_COMMAND} -DWIN32_DLL=${CORVEX_WIN32_DLL} -DWIN64_DLL=${CORVEX_WIN64_DLL}
          -DZIP_DIR=${zip_dir} -DZIP=${CORVEX_WINDOWS_ZIP}
          -P ${CMAKE_SOURCE_DIR}/packaging/windows-zip.cmake
  COMMENT "Writing Corvex-${PROJECT_VERSION}-windows.zip"
  VERBATIM)
