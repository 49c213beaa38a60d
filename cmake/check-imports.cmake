# Fails when a Windows program imports a DLL that a plain Windows installation
# does not have (the compiler's runtime, a thread library): the programs must
# run from any folder, copied alone.
#
# The programs in ELEVATED_PROGRAMS run as administrator, often from a folder
# anyone can write to (Downloads): a DLL they import by name is looked for
# beside them first, so each must be a KnownDLL, which the system always maps
# from its own folder, or comctl32, which the manifest binds to the system's
# side-by-side copy. Any other DLL is loaded at run time from the system
# folder (platform/system_library.h).
#
#   cmake -DOBJDUMP=<objdump> -DPROGRAMS=<a.exe;b.exe>
#         [-DELEVATED_PROGRAMS=<a.exe>] -P check-imports.cmake
cmake_minimum_required(VERSION 3.20)
set(system_dlls
  advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll
  ole32.dll oleaut32.dll psapi.dll shell32.dll shlwapi.dll user32.dll
  uxtheme.dll version.dll)
# The KnownDLLs of every Windows from 7 on, and ntdll, which the loader maps
# before anything else.
set(known_dlls
  advapi32.dll clbcatq.dll comdlg32.dll difxapi.dll gdi32.dll imagehlp.dll
  imm32.dll kernel32.dll msctf.dll msvcrt.dll normaliz.dll nsi.dll ntdll.dll
  ole32.dll oleaut32.dll psapi.dll rpcrt4.dll sechost.dll setupapi.dll
  shell32.dll shlwapi.dll user32.dll wldap32.dll ws2_32.dll)
set(elevated_allowed ${known_dlls} comctl32.dll)

set(programs ${PROGRAMS} ${ELEVATED_PROGRAMS})
list(REMOVE_DUPLICATES programs)
set(problems "")
foreach(program IN LISTS programs)
  execute_process(COMMAND ${OBJDUMP} -p ${program}
    OUTPUT_VARIABLE dump RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    string(APPEND problems "  ${program}: cannot be read by ${OBJDUMP}\n")
    continue()
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
  set(allowed ${system_dlls})
  set(kind "system DLLs")
  if(program IN_LIST ELEVATED_PROGRAMS)
    set(allowed ${elevated_allowed})
    set(kind "KnownDLLs and the manifest's comctl32")
  endif()
  set(foreign "")
  foreach(import IN LISTS imports)
    string(REPLACE "DLL Name: " "" dll "${import}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" lower)
    if(NOT lower IN_LIST allowed)
      list(APPEND foreign ${dll})
    endif()
  endforeach()
  if(foreign)
    string(APPEND problems "  ${program}: imports ${foreign}, not only ${kind}\n")
  else()
    message(STATUS "${program}: ${kind} only")
  endif()
endforeach()

if(problems)
  message(FATAL_ERROR "Programs that would not start on a plain Windows, or that a DLL beside them could take over:\n${problems}")
endif()
