# Run by CPack (the External generator) once the files are staged: writes the release archive
# with every entry under one folder, in sorted order and with one fixed time stamp, so that two
# builds of the same sources give the same bytes. The exe's SHA-256 goes in beside it.
set(stage "${CPACK_TEMPORARY_DIRECTORY}")
set(folder "${CPACK_PACKAGE_FILE_NAME}")
set(work "${CPACK_TOPLEVEL_DIRECTORY}/zip")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}/${folder}")

file(COPY "${stage}/tovren.exe" "${stage}/LICENSE" DESTINATION "${work}/${folder}")
# Windows' own editors want CRLF line ends.
file(READ "${stage}/README.txt" readme)
string(REPLACE "\r\n" "\n" readme "${readme}")
string(REPLACE "\n" "\r\n" readme "${readme}")
file(WRITE "${work}/${folder}/README.txt" "${readme}")
file(SHA256 "${stage}/tovren.exe" hash)
file(WRITE "${work}/${folder}/tovren.exe.sha256" "${hash}  tovren.exe\r\n")

set(entries LICENSE README.txt tovren.exe tovren.exe.sha256)
list(SORT entries)
list(TRANSFORM entries PREPEND "${folder}/")
set(archive "${work}/${CPACK_PACKAGE_FILE_NAME}.zip")
if(CPACK_TOVREN_ZIP AND CPACK_TOVREN_TOUCH)
    # Info-ZIP with -X stores no access or change times (libarchive's zip writer stores both,
    # whatever --mtime says): with the files' own times fixed, the bytes are.
    foreach(entry IN LISTS entries)
        execute_process(COMMAND "${CPACK_TOVREN_TOUCH}" -d "2026-01-01 00:00:00 UTC"
                                "${work}/${entry}")
    endforeach()
    execute_process(COMMAND "${CPACK_TOVREN_CMAKE_COMMAND}" -E env TZ=UTC "${CPACK_TOVREN_ZIP}"
                            -X -D -q "${archive}" ${entries}
                    WORKING_DIRECTORY "${work}" RESULT_VARIABLE status)
else()
    # Without Info-ZIP (a Windows build): the same entries and order, but libarchive's extra time
    # fields make two archives differ.
    execute_process(
        COMMAND "${CPACK_TOVREN_CMAKE_COMMAND}" -E tar cf "${archive}" --format=zip
                "--mtime=2026-01-01 00:00:00 UTC" ${entries}
        WORKING_DIRECTORY "${work}" RESULT_VARIABLE status)
endif()
if(NOT status EQUAL 0)
    message(FATAL_ERROR "could not write ${archive}")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES "${archive}")
