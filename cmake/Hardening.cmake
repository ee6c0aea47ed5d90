# SPDX-License-Identifier: GPL-3.0-or-later
# Debian's hardening for every Linux binary we ship: stack protector, fortified libc calls, format
# checks, read-only relocations bound at load (relro, now) and position-independent executables,
# as `dpkg-buildflags` gives them with hardening=+all. Only those flags are taken: the build type
# keeps its own optimisation and debug settings (the engine's speed is measured with them).
# Sanitizer and fuzzing builds go without: fortification and the sanitizers' interceptors clash.
option(CORVEX_HARDENING "Build with Debian's hardening flags" ON)
if(NOT CORVEX_HARDENING OR WIN32 OR CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  return()
endif()

set(CORVEX_HARDENING_COMPILE -fstack-protector-strong -Wformat -Werror=format-security)
set(CORVEX_HARDENING_DEFINES _FORTIFY_SOURCE=2)
set(CORVEX_HARDENING_LINK -Wl,-z,relro -Wl,-z,now)
find_program(CORVEX_DPKG_BUILDFLAGS dpkg-buildflags)
if(CORVEX_DPKG_BUILDFLAGS)
  set(wanted "")
  foreach(kind CXXFLAGS CPPFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${CORVEX_DPKG_BUILDFLAGS} --get ${kind}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
    if(NOT failed)
      separate_arguments(flags UNIX_COMMAND "${flags}")
      list(APPEND wanted ${flags})
    endif()
  endforeach()
  if(wanted)
    set(CORVEX_HARDENING_COMPILE "")
    set(CORVEX_HARDENING_DEFINES "")
    set(CORVEX_HARDENING_LINK "")
    foreach(flag IN LISTS wanted)
      if(flag MATCHES "^-fstack-protector|^-fstack-clash|^-fcf-protection|^-Wformat|^-Werror=format")
        list(APPEND CORVEX_HARDENING_COMPILE ${flag})
      elseif(flag MATCHES "^-D_FORTIFY_SOURCE=(.*)")
        list(APPEND CORVEX_HARDENING_DEFINES _FORTIFY_SOURCE=${CMAKE_MATCH_1})
      elseif(flag MATCHES "^-Wl,-z,")
        list(APPEND CORVEX_HARDENING_LINK ${flag})
      endif()
    endforeach()
  endif()
endif()

add_compile_options(${CORVEX_HARDENING_COMPILE})
# Fortification needs the optimiser; an unoptimised build goes without it.
add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:${CORVEX_HARDENING_DEFINES}>)
add_link_options(${CORVEX_HARDENING_LINK})
# Executables as PIE (shared objects are position-independent anyway).
include(CheckPIESupported)
check_pie_supported()
