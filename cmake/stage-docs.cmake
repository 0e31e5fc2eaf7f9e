# Makes the packages' copy of one of the README and the guides.
#
#   cmake -DINPUT=README.md -DOUTPUT=.../README.md -DSTYLE=linux -P stage-docs.cmake
#   cmake -DINPUT=README.md -DOUTPUT=.../README.txt -DSTYLE=windows
#         -DNAMES=README,CONTRIBUTING,output,... -P stage-docs.cmake
#
# The copies keep the source's layout, so that their links to each other
# hold. What changes:
# - A link to a man page's source (doc/cpubench.1.in) becomes its text,
#   "cpubench(1)": the packages carry no man page sources (the Linux ones
#   install the pages themselves).
# - linux: OUTPUT.gz is written beside OUTPUT, compressed as Debian's policy
#   asks of documentation (gzip -9, no name or time stamp in the header).
# - windows: the texts are named .txt, so that any Windows editor opens
#   them, and every NAMES.md in them is renamed likewise; Windows line ends,
#   and a byte order mark that tells every Notepad the text is UTF-8 (a few
#   characters are beyond ASCII: ×, →).
foreach(variable INPUT OUTPUT STYLE)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "stage-docs.cmake needs -D${variable}=...")
    endif()
endforeach()

file(READ "${INPUT}" text)
string(REGEX REPLACE "\\[([^]]*)\\]\\([^)]*\\.1\\.in\\)" "\\1" text "${text}")

if(STYLE STREQUAL "windows")
    string(REPLACE "," ";" names "${NAMES}")
    foreach(name IN LISTS names)
        string(REGEX REPLACE "([^A-Za-z0-9_.-])${name}\\.md" "\\1${name}.txt" text "${text}")
    endforeach()
    string(REPLACE "\n" "\r\n" text "${text}")
    string(ASCII 239 187 191 utf8Mark)
    file(WRITE "${OUTPUT}" "${utf8Mark}${text}")
elseif(STYLE STREQUAL "linux")
    file(WRITE "${OUTPUT}" "${text}")
    execute_process(COMMAND gzip -9nc "${OUTPUT}" OUTPUT_FILE "${OUTPUT}.gz" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "gzip failed on ${OUTPUT}: ${status}")
    endif()
else()
    message(FATAL_ERROR "stage-docs.cmake: STYLE is linux or windows, not ${STYLE}")
endif()
