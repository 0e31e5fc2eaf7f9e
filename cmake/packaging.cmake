# Installation rules and packages.
#
#   cmake --install BUILD_DIR --prefix DIR
#       the three programs and their documentation
#   scripts/build-linux-packages.sh   (built in a Debian 11 root by
#   scripts/pack-linux.sh: dpkg-deb, tar, and CPack's RPM generator)
#       build/packages/cpubench_<version>_amd64.deb
#       build/packages/cpubench-<version>-linux-x86_64.tar.gz
#       build/packages/cpubench-<version>-1.x86_64.rpm
#       build/packages/cpubench-<version>.tar.gz (the source archive)
#   cmake --workflow --preset package-windows   (CPack's External generator
#   and cmake/zip-package.cmake)
#       build/packages/cpubench-<version>-windows-x86_64.zip
# Each also writes what it was built with (build-environment-*.txt) and
# SHA256SUMS beside the packages.
#
# Every package is reproducible: the same commit gives the same bytes,
# whatever the build's path, clock, time zone, locale and umask. Each time
# stamp in them is the commit's (scripts/source-commit.sh), the modes and
# owners are fixed, the entries sorted. CPack's DEB and archive generators
# of CMake 3.18 (the Debian 11 build's) and its ZIP generator take the time
# stamps of the files as the build left them, so those packages are made by
# tools that can be told the time: dpkg-deb, tar and scripts/write-zip.py.
#
# The version is the project's (project() in the top-level list); it names
# the packages and stands in the man pages, never in the transcript.

set(CPUBENCH_PACKAGE_OUTPUT_DIR ${CMAKE_SOURCE_DIR}/build/packages)
set(CPUBENCH_STAGE_DIR ${CMAKE_BINARY_DIR}/package-files)

# The README and the guides. Every package carries them in the source's
# layout, so that their links to each other hold offline, as the copies
# cmake/stage-docs.cmake makes in CPUBENCH_DOC_STAGE_DIR (Markdown, and
# compressed Markdown for the .deb, on Linux; text files for Windows), with
# the report picture. tests/linkcheck.py checks the links of the Linux
# copies; the package tests fail when a package lacks a guide of doc/.
set(CPUBENCH_GUIDES README.md CONTRIBUTING.md
    doc/output.md doc/recording.md doc/comparing.md doc/lab.md doc/windows.md doc/packaging.md)
set(CPUBENCH_DOC_STAGE_DIR ${CPUBENCH_STAGE_DIR}/docs)
if(WIN32)
    set(docStyle windows)
else()
    set(docStyle linux)
endif()
set(guideNames "")
foreach(guide IN LISTS CPUBENCH_GUIDES)
    get_filename_component(name ${guide} NAME_WE)
    list(APPEND guideNames ${name})
endforeach()
string(REPLACE ";" "," guideNames "${guideNames}")
set(stagedGuides "")
foreach(guide IN LISTS CPUBENCH_GUIDES)
    set(copy ${CPUBENCH_DOC_STAGE_DIR}/${guide})
    if(WIN32)
        string(REGEX REPLACE "\\.md$" ".txt" copy ${copy})
        set(outputs ${copy})
    else()
        set(outputs ${copy} ${copy}.gz)
    endif()
    add_custom_command(OUTPUT ${outputs}
        COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_SOURCE_DIR}/${guide} -DOUTPUT=${copy}
                -DSTYLE=${docStyle} -DNAMES=${guideNames} -P ${CMAKE_SOURCE_DIR}/cmake/stage-docs.cmake
        DEPENDS ${CMAKE_SOURCE_DIR}/${guide} ${CMAKE_SOURCE_DIR}/cmake/stage-docs.cmake
        VERBATIM)
    list(APPEND stagedGuides ${outputs})
endforeach()
add_custom_command(OUTPUT ${CPUBENCH_DOC_STAGE_DIR}/doc/report.png
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CPUBENCH_DOC_STAGE_DIR}/doc
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/doc/report.png ${CPUBENCH_DOC_STAGE_DIR}/doc/report.png
    DEPENDS ${CMAKE_SOURCE_DIR}/doc/report.png
    VERBATIM)
add_custom_target(staged_guides ALL DEPENDS ${stagedGuides} ${CPUBENCH_DOC_STAGE_DIR}/doc/report.png)

# Installs the staged copies of the guides ending in SUFFIX (.txt, .md or
# .md.gz) and the picture under DESTINATION, in the source's layout.
function(install_guides destination suffix)
    foreach(guide IN LISTS CPUBENCH_GUIDES)
        get_filename_component(folder ${guide} DIRECTORY)
        get_filename_component(name ${guide} NAME_WE)
        if(folder)
            install(FILES ${CPUBENCH_DOC_STAGE_DIR}/${folder}/${name}${suffix}
                    DESTINATION ${destination}/${folder} ${ARGN})
        else()
            install(FILES ${CPUBENCH_DOC_STAGE_DIR}/${name}${suffix} DESTINATION ${destination} ${ARGN})
        endif()
    endforeach()
    install(FILES ${CPUBENCH_DOC_STAGE_DIR}/doc/report.png DESTINATION ${destination}/doc ${ARGN})
endfunction()

if(WIN32)
    # One folder, as Windows users expect of a zip that runs from wherever
    # it is unpacked: the programs, the GMP DLL beside them, the texts with
    # Windows line endings, and what GMP's licence asks to pass on with its
    # DLL: the licence texts and the complete source.
    install(TARGETS cpubench cpubench-compare cpubench-record RUNTIME DESTINATION .)
    install(FILES ${GMP_DLL} DESTINATION .)
    # README.txt and CONTRIBUTING.txt beside the programs, the guides in doc.
    install_guides(. .txt)
    configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${CPUBENCH_STAGE_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
    # nlohmann/json is compiled into cpubench-compare and cpubench-record.
    configure_file(${CMAKE_SOURCE_DIR}/third_party/nlohmann_json/LICENSE.MIT
                   ${CPUBENCH_STAGE_DIR}/LICENSE-nlohmann-json.txt @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${CPUBENCH_STAGE_DIR}/LICENSE.txt ${CPUBENCH_STAGE_DIR}/LICENSE-nlohmann-json.txt DESTINATION .)
    configure_file(${GMP_WINDOWS_DIR}/legal/GMP.txt ${CPUBENCH_STAGE_DIR}/GMP.txt @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${CPUBENCH_STAGE_DIR}/GMP.txt
                  ${GMP_WINDOWS_DIR}/legal/COPYING.LESSERv3
                  ${GMP_WINDOWS_DIR}/legal/COPYINGv3
                  ${GMP_WINDOWS_DIR}/legal/COPYINGv2
            DESTINATION .)
    install(DIRECTORY ${GMP_WINDOWS_DIR}/source/ DESTINATION gmp-source)

    # CPack installs the files into a folder of its own, and
    # cmake/zip-package.cmake makes the zip of it (see the top).
    set(CPACK_GENERATOR External)
    set(CPACK_EXTERNAL_ENABLE_STAGING ON)
    set(CPACK_EXTERNAL_REQUESTED_VERSIONS 1.0)
    set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${CMAKE_SOURCE_DIR}/cmake/zip-package.cmake)
    set(CPACK_PACKAGE_FILE_NAME cpubench-${PROJECT_VERSION}-windows-x86_64)
else()
    include(GNUInstallDirs)
    install(TARGETS cpubench cpubench-compare cpubench-record RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
            COMPONENT program)

    # The man pages and Debian's changelog, with the version filled in,
    # compressed as Debian's policy asks (gzip -9, no name or time stamp in
    # the header).
    set(compressed "")
    foreach(text doc/cpubench.1 doc/cpubench-compare.1 doc/cpubench-record.1 packaging/debian/changelog)
        get_filename_component(name ${text} NAME)
        configure_file(${CMAKE_SOURCE_DIR}/${text}.in ${CPUBENCH_STAGE_DIR}/${name} @ONLY)
        add_custom_command(OUTPUT ${CPUBENCH_STAGE_DIR}/${name}.gz
            COMMAND gzip -9nkf ${CPUBENCH_STAGE_DIR}/${name}
            DEPENDS ${CPUBENCH_STAGE_DIR}/${name}
            VERBATIM)
        list(APPEND compressed ${CPUBENCH_STAGE_DIR}/${name}.gz)
    endforeach()
    add_custom_target(compressed_texts ALL DEPENDS ${compressed})

    install(FILES ${CPUBENCH_STAGE_DIR}/cpubench.1.gz ${CPUBENCH_STAGE_DIR}/cpubench-compare.1.gz
                  ${CPUBENCH_STAGE_DIR}/cpubench-record.1.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
    # cpubench's licence, and that of nlohmann/json, which is compiled into
    # cpubench-compare and cpubench-record. The .deb says both in its
    # copyright file.
    install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT licence)
    install(FILES ${CMAKE_SOURCE_DIR}/third_party/nlohmann_json/LICENSE.MIT DESTINATION ${CMAKE_INSTALL_DOCDIR}
            RENAME LICENSE.nlohmann-json COMPONENT licence)
    # The guides, as they are for the RPM and the tarball; the .deb takes the
    # compressed ones (below).
    install_guides(${CMAKE_INSTALL_DOCDIR} .md COMPONENT docs)
    # The lab playbook (see doc/lab.md); only the tarball carries it.
    install(DIRECTORY ${CMAKE_SOURCE_DIR}/lab/ DESTINATION ${CMAKE_INSTALL_DATADIR}/cpubench/lab COMPONENT lab)
    # What Debian keeps in /usr/share/doc/<package>: the licence as a
    # machine-readable copyright file, the changelog, and the guides
    # compressed; and lintian's overrides. Only the .deb asks for these.
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/copyright ${CPUBENCH_STAGE_DIR}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
    install_guides(${CMAKE_INSTALL_DOCDIR} .md.gz COMPONENT debian EXCLUDE_FROM_ALL)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/lintian-overrides
            DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME cpubench
            COMPONENT debian EXCLUDE_FROM_ALL)

    # scripts/pack-linux.sh installs the components of each package into a
    # folder of its own: the .deb gets program and debian (the guides
    # compressed among it), the RPM program, licence and docs, the tarball
    # program, licence, docs and lab. CPack makes the RPM alone.
    set(CPACK_GENERATOR RPM)
    set(CPACK_INSTALL_CMAKE_PROJECTS ${CMAKE_BINARY_DIR} cpubench program / ${CMAKE_BINARY_DIR} cpubench licence /
                                     ${CMAKE_BINARY_DIR} cpubench docs /)

    # The RPM, for Red Hat's family and Fedora. rpmbuild finds the libraries
    # the executables link (libgomp, libc, libm); GMP is named by hand, as
    # RPM names a library, since the program loads it at run time.
    set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
    set(CPACK_RPM_PACKAGE_RELEASE 1)
    set(CPACK_RPM_PACKAGE_SUMMARY "Console CPU benchmark with fixed workloads")
    set(CPACK_RPM_PACKAGE_LICENSE MIT)
    set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
    set(CPACK_RPM_PACKAGE_REQUIRES "libgmp.so.10()(64bit)")
    # (The RPM installs under /usr, CPack's default for it.)
    set(CPACK_RPM_USER_FILELIST "%license /usr/${CMAKE_INSTALL_DOCDIR}/LICENSE"
        "%license /usr/${CMAKE_INSTALL_DOCDIR}/LICENSE.nlohmann-json"
        "%doc /usr/${CMAKE_INSTALL_DOCDIR}/doc/report.png")
    foreach(guide IN LISTS CPUBENCH_GUIDES)
        list(APPEND CPACK_RPM_USER_FILELIST "%doc /usr/${CMAKE_INSTALL_DOCDIR}/${guide}")
    endforeach()
    # The package's folders are 0755 whatever the umask of the build.
    set(CPACK_RPM_DEFAULT_DIR_PERMISSIONS
        OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    # The system owns these folders; the package owns only its own.
    set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
        /usr/${CMAKE_INSTALL_MANDIR} /usr/${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME cpubench)
set(CPACK_PACKAGE_VENDOR "The cpubench developers")
set(CPACK_PACKAGE_CONTACT "The cpubench developers <cpubench@users.noreply.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console CPU benchmark with fixed workloads")
# Wrapped by hand: the .deb's control file keeps the lines as they are.
set(CPACK_PACKAGE_DESCRIPTION [[
cpubench runs seven fixed workloads in nine timed runs and prints one line
per run with the values it computed and the time it took: scalar
floating-point multiply with the C library's log, SSE2 packed multiply,
big-integer power through GMP, a 128-bit multiply-divide on one thread and
on teams of 4, 8 and 18 threads, a 32-bit multiply-modulo chain, and a 2 GB
memory fill and copy. All sizes and inputs are built in, so the values
printed are the same on every machine and only the times differ.

cpubench-record runs the benchmark several times into a session folder,
with the machine's facts and what else the system did while each line ran.
cpubench-compare puts the saved output of several machines side by side,
with each time as a ratio to the first machine's, and flags a machine whose
values are wrong or whose lines were disturbed.]])
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
# rpmbuild would strip the programs once more after CPack: the RPM ships
# them as the other packages do. Its build time and every file's time are
# SOURCE_DATE_EPOCH (set by scripts/pack-linux.sh), its build host a fixed
# name, and its payload compressed by one thread.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${CPACK_PACKAGE_CONTACT}
%define __os_install_post %{nil}
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define _buildhost cpubench
%define _binary_payload w9.gzdio")
if(NOT WIN32)
    # The Linux programs are stripped when they are installed into a
    # package; the Windows ones by the linker (cmake/windows.cmake says why).
    set(CPACK_STRIP_FILES ON)

    # The .deb's control file but for its Installed-Size and the libraries
    # dpkg-shlibdeps finds, which scripts/pack-linux.sh fills in; GMP is
    # named by hand, since the program loads it at run time. The long
    # description as Debian writes it: each line indented, a blank line as
    # " .".
    string(REPLACE "\n\n" "\n.\n" debianDescription "${CPACK_PACKAGE_DESCRIPTION}")
    string(REPLACE "\n" "\n " debianDescription "${debianDescription}")
    file(WRITE ${CPUBENCH_STAGE_DIR}/debian-control "Package: cpubench
Version: ${PROJECT_VERSION}
Architecture: amd64
Maintainer: ${CPACK_PACKAGE_CONTACT}
Installed-Size: @INSTALLED_SIZE@
Depends: libgmp10, @SHLIBS_DEPENDS@
Section: utils
Priority: optional
Description: ${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
 ${debianDescription}
")
endif()

# Where the packages of every build land, beside their SHA256SUMS.
set(CPACK_CPUBENCH_OUTPUT_DIR ${CPUBENCH_PACKAGE_OUTPUT_DIR})
set(CPACK_CPUBENCH_SOURCE_DIR ${CMAKE_SOURCE_DIR})
include(CPack)
