# Read by CPack for each package it makes: which install components go in.
# The .deb carries Debian's copyright file (which holds the licence) and
# changelog; the RPM and the archive carry the licence file.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_INSTALL_CMAKE_PROJECTS ${CPACK_CPUBENCH_DEB_PROJECTS})
else()
    set(CPACK_INSTALL_CMAKE_PROJECTS ${CPACK_CPUBENCH_ARCHIVE_PROJECTS})
endif()
