# The Windows build (preset "windows", toolchain cmake/mingw-w64.cmake).
#
# GMP: scripts/build-gmp-dll.sh cross-builds the DLL from Debian's GMP source
# into the build tree at configure time; it does nothing when its result is
# up to date. The benchmark takes only gmp.h from it (the Windows header,
# whose unsigned long is 32 bits) and loads the DLL at run time; the unit
# tests link the import library for their independent check.
#
# Compiler runtimes: linked statically (libstdc++, libgcc, libgomp and
# winpthreads end up inside the executable), so that cpubench.exe needs
# nothing but system DLLs and the GMP DLL beside it.
#
# Output: the zip made by the preset package-windows (cmake/packaging.cmake)
# is what goes to a Windows machine. The executable in the build tree itself
# has no DLL beside it: the tests choose which one it finds.

set(GMP_WINDOWS_DIR ${CMAKE_BINARY_DIR}/gmp)
set(GMP_BUILD_SCRIPT ${CMAKE_SOURCE_DIR}/scripts/build-gmp-dll.sh)

execute_process(COMMAND bash ${GMP_BUILD_SCRIPT} ${GMP_WINDOWS_DIR} RESULT_VARIABLE gmpBuildResult)
if(NOT gmpBuildResult EQUAL 0)
    message(FATAL_ERROR "building the GMP DLL failed (${gmpBuildResult}); see ${GMP_WINDOWS_DIR}/work/build.log")
endif()
# A changed script reruns the configure step, and with it the script.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${GMP_BUILD_SCRIPT})

set(GMP_DLL ${GMP_WINDOWS_DIR}/bin/libgmp-10.dll)
set(GMP_DLL_DIR ${GMP_WINDOWS_DIR}/bin)
set(GMP_IMPORT_LIBRARY ${GMP_WINDOWS_DIR}/lib/libgmp.dll.a)
# Set before the find_path in the top-level list, which then keeps it.
set(GMP_INCLUDE_DIR ${GMP_WINDOWS_DIR}/include CACHE PATH "Directory of the Windows gmp.h")
# A system header, as gmp.h is on Linux: its inline functions are not held
# to this project's warning flags (they narrow 64-bit limbs to 32-bit
# unsigned long).
include_directories(SYSTEM ${GMP_INCLUDE_DIR})
foreach(file ${GMP_DLL} ${GMP_IMPORT_LIBRARY} ${GMP_INCLUDE_DIR}/gmp.h ${GMP_WINDOWS_DIR}/legal/GMP.txt)
    if(NOT EXISTS ${file})
        message(FATAL_ERROR "${file} is missing after ${GMP_BUILD_SCRIPT}")
    endif()
endforeach()

# The C library's log: from the Universal C Runtime (ucrtbase.dll, reached
# through the API set api-ms-win-crt-math-l1-1-0.dll, part of every Windows
# 10 and 11), which is what programs of the platform's own compiler call.
# mingw-w64's runtime has a log of its own that computes through the x87
# unit (fyl2x), five times slower, and a first line measured with it would
# compare with no other Windows program. An import library made with the
# toolchain's dlltool from a one-entry definition file supplies log alone;
# linked ahead of the runtime libraries, it wins over mingw-w64's. The rest
# of the program keeps msvcrt.dll.
set(UCRT_LOG_DEF ${CMAKE_SOURCE_DIR}/cmake/ucrt-log.def)
set(UCRT_LOG_LIBRARY ${CMAKE_BINARY_DIR}/ucrt/libucrt-log.a)
add_custom_command(OUTPUT ${UCRT_LOG_LIBRARY}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/ucrt
    COMMAND ${CMAKE_DLLTOOL} --input-def ${UCRT_LOG_DEF} --output-lib ${UCRT_LOG_LIBRARY}
    DEPENDS ${UCRT_LOG_DEF}
    COMMENT "Import library for the Universal C Runtime's log"
    VERBATIM)
add_custom_target(ucrt_log_import DEPENDS ${UCRT_LOG_LIBRARY})
add_library(ucrt_log INTERFACE)
target_link_libraries(ucrt_log INTERFACE ${UCRT_LOG_LIBRARY})
add_dependencies(ucrt_log ucrt_log_import)

add_link_options(-static)
# No link time in the executables' headers (the PE time stamp, and with it
# the checksum over the file): two links of the same objects give the same
# bytes. The linker strips them too (-s), as the zip ships them: stripping
# afterwards (CPack's CPACK_STRIP_FILES) would write the time of that
# stripping into the header.
add_link_options(-Wl,--no-insert-timestamp -s)
# FindOpenMP names libgomp's import library (libgomp.dll.a), which would make
# the executable need libgomp-1.dll; with -fopenmp on the link line instead,
# the compiler driver links libgomp.a under -static.
set_target_properties(OpenMP::OpenMP_CXX PROPERTIES INTERFACE_LINK_LIBRARIES "" INTERFACE_LINK_OPTIONS -fopenmp)
