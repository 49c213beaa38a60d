# Builds the release archive with cpack into WORK, unpacks it and checks what
# an administrator gets: exactly the listed files, checksums that match,
# documents as in the source tree, and a stripped 32-bit GUI program that
# imports only system DLLs. The version resource is read under Wine by
# version_check.exe, in the test that runs after this one.
#
#   cmake -DCPACK=<cpack> -DCONFIG=<CPackConfig.cmake> -DWORK=<dir>
#         -DVERSION=<x.y.z> -DOBJDUMP=<objdump> -DSOURCE=<repo> -P check-package.cmake
cmake_minimum_required(VERSION 3.20)

set(problems "")
macro(problem text)
  string(APPEND problems "  ${text}\n")
endmacro()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND "${CPACK}" --config "${CONFIG}" -B "${WORK}"
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
set(name "uninstall-${VERSION}-win32")
set(zip "${WORK}/${name}.zip")
if(NOT status EQUAL 0 OR NOT EXISTS "${zip}")
  message(FATAL_ERROR "cpack did not produce ${name}.zip (status ${status}):\n${output}")
endif()
message(STATUS "Built ${zip}")

# The checksum beside the archive, for whoever downloads it.
file(SHA256 "${zip}" zip_sum)
file(READ "${zip}.sha256" zip_sum_file)
if(NOT zip_sum_file MATCHES "^${zip_sum}  ${name}.zip")
  problem("${name}.zip.sha256 does not hold the archive's checksum ${zip_sum}")
endif()

set(unpacked "${WORK}/unpacked")
file(ARCHIVE_EXTRACT INPUT "${zip}" DESTINATION "${unpacked}")
set(root "${unpacked}/${name}")
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${unpacked}" "${unpacked}/*")
list(SORT files)
set(expected LICENSE README.md SHA256SUMS docs/deployment.md uninstall.exe)
list(TRANSFORM expected PREPEND "${name}/")
if(NOT files STREQUAL expected)
  problem("the archive holds [${files}], expected [${expected}]")
endif()

# SHA256SUMS names every other file once, with its checksum, as sha256sum
# writes it.
if(EXISTS "${root}/SHA256SUMS")
  file(STRINGS "${root}/SHA256SUMS" lines)
  set(summed "")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^([0-9a-f]+)  (.+)$")
      problem("SHA256SUMS: line not in sha256sum's format: ${line}")
      continue()
    endif()
    set(sum "${CMAKE_MATCH_1}")
    set(file "${CMAKE_MATCH_2}")
    list(APPEND summed "${file}")
    if(NOT EXISTS "${root}/${file}")
      problem("SHA256SUMS names ${file}, which the archive does not hold")
      continue()
    endif()
    file(SHA256 "${root}/${file}" actual)
    if(NOT actual STREQUAL sum)
      problem("SHA256SUMS: ${file} has ${actual}, the file says ${sum}")
    endif()
  endforeach()
  list(SORT summed)
  if(NOT summed STREQUAL "LICENSE;README.md;docs/deployment.md;uninstall.exe")
    problem("SHA256SUMS covers [${summed}]")
  endif()
endif()

# The documents are the source tree's, not stale copies.
foreach(document LICENSE README.md docs/deployment.md)
  if(EXISTS "${root}/${document}")
    file(SHA256 "${root}/${document}" packed)
    file(SHA256 "${SOURCE}/${document}" source)
    if(NOT packed STREQUAL source)
      problem("${document} differs from the source tree's")
    endif()
  endif()
endforeach()

set(program "${root}/uninstall.exe")
if(EXISTS "${program}")
  execute_process(COMMAND "${OBJDUMP}" -f -p -h "${program}" OUTPUT_VARIABLE dump RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    problem("${OBJDUMP} cannot read uninstall.exe")
  endif()
  if(NOT dump MATCHES "file format pei-i386" OR NOT dump MATCHES "architecture: i386,")
    problem("uninstall.exe is not a 32-bit x86 program")
  endif()
  if(NOT dump MATCHES "Subsystem[ \t]+00000002[ \t]+\\(Windows GUI\\)")
    problem("uninstall.exe is not a GUI program")
  endif()
  if(dump MATCHES "\\.debug_")
    problem("uninstall.exe carries debug sections")
  endif()
  execute_process(COMMAND "${OBJDUMP}" -t "${program}" OUTPUT_VARIABLE symbols)
  if(symbols MATCHES "\\[ *[0-9]+\\]\\(sec")
    problem("uninstall.exe carries a symbol table")
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" -DOBJDUMP=${OBJDUMP} -DPROGRAMS=${program}
    -P "${SOURCE}/cmake/check-imports.cmake" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    problem("uninstall.exe imports DLLs a plain Windows does not have")
  endif()
endif()

if(problems)
  message(FATAL_ERROR "The release archive is not what it should be:\n${problems}")
endif()
message(STATUS "${name}.zip: contents, checksums, program format and imports as expected")
