# SPDX-License-Identifier: GPL-3.0-or-later
# Puts Corvex-<version>-windows.zip together: 32-bit/Corvex.dll, 64-bit/Corvex.dll, README.txt.
# Run by the windows-zip target:
#   cmake -DWIN32_DLL=... -DWIN64_DLL=... -DZIP_DIR=<staging folder with README.txt> -DZIP=<zip>
#         -P windows-zip.cmake
# Refuses a missing DLL or one of the other width: a 64-bit DLL in the 32-bit folder would load
# in no host that looks there.

# The machine field of a DLL's PE header, as four hex digits ("014c" i386, "8664" x86-64).
function(pe_machine dll out)
  file(READ ${dll} mz LIMIT 2 HEX)
  if(NOT mz STREQUAL "4d5a")
    set(${out} "not a Windows DLL" PARENT_SCOPE)
    return()
  endif()
  file(READ ${dll} lfanew OFFSET 60 LIMIT 4 HEX) # little-endian offset of "PE\0\0"
  string(SUBSTRING ${lfanew} 0 2 b0)
  string(SUBSTRING ${lfanew} 2 2 b1)
  string(SUBSTRING ${lfanew} 4 2 b2)
  math(EXPR pe "0x${b2}${b1}${b0}")
  file(READ ${dll} signature OFFSET ${pe} LIMIT 6 HEX)
  if(NOT signature MATCHES "^50450000")
    set(${out} "not a Windows DLL" PARENT_SCOPE)
    return()
  endif()
  string(SUBSTRING ${signature} 8 2 m0)
  string(SUBSTRING ${signature} 10 2 m1)
  set(${out} "${m1}${m0}" PARENT_SCOPE)
endfunction()

foreach(width 32 64)
  set(dll ${WIN${width}_DLL})
  if(NOT EXISTS ${dll})
    message(FATAL_ERROR "${dll} is missing: tools/windows-ci.sh builds both widths")
  endif()
  pe_machine(${dll} machine)
  if(width EQUAL 32)
    set(expected 014c)
  else()
    set(expected 8664)
  endif()
  if(NOT machine STREQUAL expected)
    message(FATAL_ERROR "${dll} is not a ${width}-bit Windows DLL (machine ${machine})")
  endif()
  file(REMOVE_RECURSE ${ZIP_DIR}/${width}-bit)
  file(COPY ${dll} DESTINATION ${ZIP_DIR}/${width}-bit)
endforeach()

file(REMOVE ${ZIP})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip
          README.txt 32-bit/Corvex.dll 64-bit/Corvex.dll
  WORKING_DIRECTORY ${ZIP_DIR}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "writing ${ZIP} failed")
endif()
message(STATUS "Wrote ${ZIP}")
