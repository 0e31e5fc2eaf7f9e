# Read by CPack for each package it makes: which install components go in.
# The .deb carries Debian's copyright file (which holds the licence),
# changelog and compressed guides; the RPM and the archive carry the licence
# file and the guides as they are, and only the archive the lab playbook (it
# runs the tarball it came in).
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_INSTALL_CMAKE_PROJECTS ${CPACK_CPUBENCH_DEB_PROJECTS})
elseif(CPACK_GENERATOR STREQUAL "RPM")
    set(CPACK_INSTALL_CMAKE_PROJECTS ${CPACK_CPUBENCH_RPM_PROJECTS})
else()
    set(CPACK_INSTALL_CMAKE_PROJECTS ${CPACK_CPUBENCH_ARCHIVE_PROJECTS})
endif()
