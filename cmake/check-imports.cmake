# Fails when a Windows program imports a DLL that a plain Windows installation
# does not have (the compiler's runtime, a thread library): the programs must
# run from any folder, copied alone.
#
#   cmake -DOBJDUMP=<objdump> -DPROGRAMS=<a.exe;b.exe> -P check-imports.cmake
cmake_minimum_required(VERSION 3.20)
set(system_dlls
  advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll
  ole32.dll oleaut32.dll psapi.dll shell32.dll shlwapi.dll user32.dll
  uxtheme.dll version.dll)

set(problems "")
foreach(program IN LISTS PROGRAMS)
  execute_process(COMMAND ${OBJDUMP} -p ${program}
    OUTPUT_VARIABLE dump RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    string(APPEND problems "  ${program}: cannot be read by ${OBJDUMP}\n")
    continue()
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
  set(foreign "")
  foreach(import IN LISTS imports)
    string(REPLACE "DLL Name: " "" dll "${import}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" lower)
    if(NOT lower IN_LIST system_dlls)
      list(APPEND foreign ${dll})
    endif()
  endforeach()
  if(foreign)
    string(APPEND problems "  ${program}: imports ${foreign}\n")
  else()
    message(STATUS "${program}: system DLLs only")
  endif()
endforeach()

if(problems)
  message(FATAL_ERROR "Programs that would not start on a plain Windows:\n${problems}")
endif()
