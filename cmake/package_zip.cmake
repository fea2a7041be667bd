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
# CMake's own zip writer, the same on every system. With --mtime it would fix only the files'
# modification times, and each entry also carries their access and creation times: from
# SOURCE_DATE_EPOCH it takes all of them. The zip's DOS times are local: in UTC.
execute_process(
    COMMAND "${CPACK_TOVREN_CMAKE_COMMAND}" -E env TZ=UTC SOURCE_DATE_EPOCH=1767225600
            "${CPACK_TOVREN_CMAKE_COMMAND}" -E tar cf "${archive}" --format=zip ${entries}
    WORKING_DIRECTORY "${work}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "could not write ${archive}")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES "${archive}")
