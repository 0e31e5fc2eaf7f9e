# Run by CPack's External generator (the package preset package-windows)
# once it has installed the zip's files into its staging folder: makes the
# zip of that folder with scripts/pack-zip.sh, reproducibly, and puts it
# beside the other packages with what it was built with and the checksums.
set(folder ${CPACK_TEMPORARY_DIRECTORY})
set(zip ${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip)
execute_process(
    COMMAND bash ${CPACK_CPUBENCH_SOURCE_DIR}/scripts/pack-zip.sh
            ${folder} ${CPACK_PACKAGE_FILE_NAME} ${zip} ${CPACK_CPUBENCH_OUTPUT_DIR}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "making ${zip} failed")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES ${zip})
