# Checks the imports and the code of the Windows executable EXE, as read by
# OBJDUMP:
# - It imports from system DLLs only. A compiler runtime DLL (libstdc++-6,
#   libgcc_s, libgomp-1, libwinpthread-1) or libgmp-10 among the imports
#   means the program would not start on a Windows machine that lacks it, or
#   would bind GMP at start instead of loading it at run time.
# - It imports log from the Universal C Runtime (api-ms-win-crt-math-l1-1-0
#   or ucrtbase), the log that programs of the platform's own compiler call.
# - It holds no x87 logarithm (fyl2x): mingw-w64's own log, or anything
#   else computing a logarithm that way, has not crept back in.
#   cmake -DOBJDUMP=... -DEXE=... -P check_imports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" entries "${dump}")
if(NOT entries)
    message(FATAL_ERROR "no imported DLLs found in ${EXE}: not a Windows executable?")
endif()
set(foreign "")
foreach(entry IN LISTS entries)
    string(REPLACE "DLL Name: " "" dll "${entry}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" name)
    message(STATUS "imports ${dll}")
    if(NOT name MATCHES "^(kernel32|msvcrt|ntdll|user32|advapi32|ws2_32|shell32|ole32)\\.dll$|^api-ms-win-")
        list(APPEND foreign ${dll})
    endif()
endforeach()
if(foreign)
    message(FATAL_ERROR "${EXE} imports non-system DLLs: ${foreign}")
endif()

# Each DLL's entry is followed by a header line and one line per imported
# name ("<vma> <hint> <name>"), up to a blank line.
string(REGEX MATCH "DLL Name: (api-ms-win-crt-math-l1-1-0|ucrtbase)\\.dll\n[^\n]*\n([^\n]+\n)*" ucrt "${dump}")
if(NOT ucrt MATCHES "[ \t]log\n")
    message(FATAL_ERROR "${EXE} does not import log from the Universal C Runtime")
endif()
message(STATUS "log comes from the Universal C Runtime")

execute_process(COMMAND ${OBJDUMP} -d ${EXE} OUTPUT_VARIABLE code RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -d ${EXE} failed")
endif()
string(FIND "${code}" "fyl2x" x87Log)
if(NOT x87Log EQUAL -1)
    message(FATAL_ERROR "${EXE} contains an x87 logarithm (fyl2x)")
endif()
message(STATUS "no x87 logarithm (fyl2x)")
