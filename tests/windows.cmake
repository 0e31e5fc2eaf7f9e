# Tests of the Windows build, included from tests/CMakeLists.txt instead of
# the Linux test list. CTest runs the test executables under Wine (the
# toolchain's CMAKE_CROSSCOMPILING_EMULATOR), in a Wine prefix of this build
# tree's own.
#
# Built here: the unit tests (unit_tests.exe) and the stand-in DLLs. The
# end-to-end tests drive the program from outside through POSIX processes;
# their Linux executable runs cpubench.exe under Wine: see wine-tests.sh.

# GoogleTest from Debian's sources, built with the cross compiler.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# Its sources are not held to this project's warning flags.
set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)

set(CPUBENCH_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
# mscoree and mshtml are disabled so that a new prefix does not ask to
# install Wine's Mono and Gecko; no test needs them.
set(CPUBENCH_WINE_ENVIRONMENT
    WINEPREFIX=${CPUBENCH_WINEPREFIX}
    WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml=
    WINEPATH=${GMP_DLL_DIR})

# A new prefix takes some seconds to set up: it is made before the first test
# that runs against a timeout. One persistent server serves all the tests
# and is stopped after the last, also when tests failed (wine-server.sh says
# why).
add_test(NAME wine.prefix COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/wine-server.sh start)
add_test(NAME wine.stop COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/wine-server.sh stop)
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${CPUBENCH_WINE_ENVIRONMENT}" TIMEOUT 300)
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${CPUBENCH_WINE_ENVIRONMENT}" TIMEOUT 60)

# Unit tests of the stopwatch and the computing cores. The independent check
# of the GMP result links the GMP DLL's import library; the DLL is found on
# WINEPATH.
add_executable(unit_tests stopwatch_test.cpp cores_test.cpp)
target_link_libraries(unit_tests PRIVATE cpubench_core ${GMP_IMPORT_LIBRARY} GTest::gtest_main)
# Test discovery would run the executable under Wine at build time; each
# group is registered by its filter instead.
foreach(group IN ITEMS "stopwatch:Stopwatch.*" "cores:-Stopwatch.*")
    string(REPLACE ":" ";" parts ${group})
    list(GET parts 0 name)
    list(GET parts 1 filter)
    add_test(NAME unit.${name} COMMAND unit_tests --gtest_filter=${filter})
    set_tests_properties(unit.${name} PROPERTIES
        LABELS unit TIMEOUT 600 ENVIRONMENT "${CPUBENCH_WINE_ENVIRONMENT}" FIXTURES_REQUIRED wine)
endforeach()

# cpubench-compare's tests; the one that runs the executable is Linux only.
add_executable(compare_tests compare_test.cpp verdict_test.cpp history_test.cpp)
target_link_libraries(compare_tests PRIVATE cpubench_write GTest::gtest_main)
# Wine shows the build machine's root as drive Z:.
target_compile_definitions(compare_tests PRIVATE CPUBENCH_TEST_DATA="Z:${CMAKE_CURRENT_SOURCE_DIR}/data")
add_test(NAME compare COMMAND compare_tests)
set_tests_properties(compare PROPERTIES
    LABELS unit TIMEOUT 300 ENVIRONMENT "${CPUBENCH_WINE_ENVIRONMENT}" FIXTURES_REQUIRED wine)

# cpubench.exe must need no DLL but the system's: the compiler runtimes are
# linked in, and GMP is loaded at run time, not imported. Its log comes from
# the Universal C Runtime, and no x87 logarithm is left in it.
add_test(NAME windows.imports
         COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DEXE=$<TARGET_FILE:cpubench>
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/check_imports.cmake)
set_tests_properties(windows.imports PROPERTIES LABELS unit TIMEOUT 60)

# Stand-in DLLs for the binding's failure paths, each named like the real
# GMP DLL in a folder of its own, exporting a chosen subset of the nine names.
set(STANDIN_DIR ${CMAKE_CURRENT_BINARY_DIR}/standin)
add_custom_target(standins ALL)
function(add_gmp_standin name)
    add_library(standin_${name} SHARED standin/gmp_standin.c)
    set_target_properties(standin_${name} PROPERTIES
        PREFIX "" OUTPUT_NAME libgmp-10
        RUNTIME_OUTPUT_DIRECTORY ${STANDIN_DIR}/${name}
        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/standin-implib/${name})
    foreach(omitted IN LISTS ARGN)
        target_compile_definitions(standin_${name} PRIVATE OMIT_${omitted})
    endforeach()
    add_dependencies(standins standin_${name})
endfunction()

add_gmp_standin(no_add __gmpz_add)
add_gmp_standin(no_add_ui __gmpz_add_ui)
add_gmp_standin(no_pow_ui __gmpz_pow_ui)
add_gmp_standin(no_probab_prime_p __gmpz_probab_prime_p)
add_gmp_standin(no_sub_ui __gmpz_sub_ui)
add_gmp_standin(no_init_set_ui __gmpz_init_set_ui)
add_gmp_standin(no_printf __gmp_printf)
add_gmp_standin(no_init_set_str __gmpz_init_set_str)
add_gmp_standin(no_mod __gmpz_mod)
add_gmp_standin(no_sub_ui_no_mod __gmpz_sub_ui __gmpz_mod)

# Exports all nine names, but imports from absent.dll, which lies in a folder
# of its own that no test puts on the search path: loading it fails.
add_library(absent SHARED standin/absent.c)
set_target_properties(absent PROPERTIES
    PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${STANDIN_DIR}/absent
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/standin-implib/absent)
add_gmp_standin(unloadable)
target_compile_definitions(standin_unloadable PRIVATE NEEDS_ABSENT)
target_link_libraries(standin_unloadable PRIVATE absent)

# Exports all nine names and loads: the DLL planted in the working directory
# of the test that the working directory is not searched.
add_gmp_standin(complete)
