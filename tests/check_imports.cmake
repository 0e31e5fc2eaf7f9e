# Fails unless the executable EXE imports from system DLLs only, as read by
# OBJDUMP -p. A compiler runtime DLL (libstdc++-6, libgcc_s, libgomp-1,
# libwinpthread-1) or libgmp-10 among the imports means the program would
# not start on a Windows machine that lacks it, or would bind GMP at start
# instead of loading it at run time.
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
