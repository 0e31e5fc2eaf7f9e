# Checks that the timed loops of the built benchmark really execute the work
# they are written with. Included from tests/CMakeLists.txt, where the
# targets cpubench_core and cpubench exist.
#
#   label "work":      workprobe runs one computing core, small, under
#                      callgrind; workcount.py counts the executed
#                      instructions and calls per loop iteration.
#   label "codecheck": codecheck.py inspects the cpubench executable;
#                      sameloops.py finds the same loops in it as in
#                      workprobe, linked elsewhere from the same objects
#                      (the check the packages' build is held to, see
#                      tests/package-tests.sh, on two layouts of one code).

find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(CPUBENCH_VALGRIND valgrind REQUIRED)

# The probe is linked as a fixed-address executable, so the instruction
# addresses callgrind reports are those objdump lists; workcount.py verifies
# this before counting.
add_executable(workprobe ${CMAKE_CURRENT_LIST_DIR}/workprobe.cpp)
target_link_libraries(workprobe PRIVATE cpubench_core)
target_link_options(workprobe PRIVATE -no-pie)

foreach(kernel crosslog packedmul mulmod32 muldiv team copy copy-misaligned fillcopy gmp)
    add_test(NAME work.${kernel}
             COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/workcount.py
                     --probe $<TARGET_FILE:workprobe> --valgrind ${CPUBENCH_VALGRIND}
                     --kernel ${kernel})
    set_tests_properties(work.${kernel} PROPERTIES LABELS work TIMEOUT 300)
endforeach()

add_test(NAME codecheck
         COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/codecheck.py $<TARGET_FILE:cpubench>)
set_tests_properties(codecheck PROPERTIES LABELS codecheck TIMEOUT 60)

add_test(NAME codecheck.sameloops
         COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/sameloops.py
                 $<TARGET_FILE:cpubench> $<TARGET_FILE:workprobe>)
set_tests_properties(codecheck.sameloops PROPERTIES LABELS codecheck TIMEOUT 60)
