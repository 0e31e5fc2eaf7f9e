# The wander model and the statistics built on it (compare/analyse/): a
# machine's wander between sittings (wander.cpp), a history's steps
# (steps.cpp) and a comparison of two sittings (sitting.cpp). Numbers in,
# numbers and enums out. Here with their tests and the program that
# measures their rates, until the comparison's outputs use them.
set(WANDER_DIR ${CMAKE_SOURCE_DIR}/compare/analyse)
add_library(cpubench_wander STATIC ${WANDER_DIR}/distributions.cpp ${WANDER_DIR}/wander.cpp
    ${WANDER_DIR}/steps.cpp ${WANDER_DIR}/sitting.cpp)
target_include_directories(cpubench_wander PUBLIC ${WANDER_DIR})
target_link_libraries(cpubench_wander PUBLIC cpubench_compare_lib)

# Generated sessions shaped like real ones, and the real sessions read from
# folders: shared by the tests and the measurement.
add_library(wander_generated STATIC wander_generated.cpp)
target_link_libraries(wander_generated PUBLIC cpubench_wander)
target_include_directories(wander_generated PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(wander_generated PUBLIC CPUBENCH_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")

# Fast tests: the distributions against known values, the model's
# estimates, and the rates on some hundred generated histories and
# comparisons.
add_executable(wander_tests wander_test.cpp)
target_link_libraries(wander_tests PRIVATE wander_generated GTest::gtest_main)
gtest_discover_tests(wander_tests TEST_PREFIX wander. PROPERTIES TIMEOUT 120 LABELS unit)

# The rates before (the 1.2.0 statistics) and after, on many generated
# histories and comparisons and on real sessions: run by hand, not a test
# (bench/wander_bench --help).
add_executable(wander_bench ${CMAKE_SOURCE_DIR}/bench/wander_bench.cpp)
target_link_libraries(wander_bench PRIVATE wander_generated)
