# Run by CPack after it has made a package: copies it to the one folder that
# holds the packages of all builds (build/packages).
file(COPY ${CPACK_PACKAGE_FILES} DESTINATION ${CPACK_CPUBENCH_OUTPUT_DIR})
message(STATUS "package: ${CPACK_PACKAGE_FILES} copied to ${CPACK_CPUBENCH_OUTPUT_DIR}")
