# Builds the program again from a copy of the sources in another folder and compares it byte for
# byte with the main build. Then changes the copy's manifest and builds once more: the exe must
# carry the change, so the resource depends on the manifest. Run with -DSOURCE_DIR, -DPRESET,
# -DREFERENCE and -DWORK_DIR.
if(NOT EXISTS "${REFERENCE}")
    message(FATAL_ERROR "no main build at ${REFERENCE}")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
set(copy "${WORK_DIR}/source")
set(build "${WORK_DIR}/build")
file(MAKE_DIRECTORY "${copy}")
file(COPY "${SOURCE_DIR}/CMakeLists.txt" "${SOURCE_DIR}/LICENSE" "${SOURCE_DIR}/cmake"
          "${SOURCE_DIR}/docs" "${SOURCE_DIR}/src" DESTINATION "${copy}")
if(PRESET STREQUAL "win64")
    set(toolchain mingw-w64-x86_64.cmake)
else()
    set(toolchain mingw-w64-i686.cmake)
endif()
execute_process(
    COMMAND ${CMAKE_COMMAND} -S "${copy}" -B "${build}" -G Ninja -DCMAKE_BUILD_TYPE=Release
            -DTOVREN_BUILD_TESTS=OFF -DCMAKE_TOOLCHAIN_FILE=${copy}/cmake/${toolchain}
    RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "configuring the second build failed")
endif()

function(build_program)
    execute_process(COMMAND ${CMAKE_COMMAND} --build "${build}" --target tovren
                    RESULT_VARIABLE status OUTPUT_QUIET)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "the second build failed")
    endif()
endfunction()

build_program()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${REFERENCE}" "${build}/tovren.exe"
                RESULT_VARIABLE differ)
file(SIZE "${REFERENCE}" size)
if(differ)
    message(FATAL_ERROR "two builds of the same sources differ (${PRESET}, ${size} bytes)")
endif()

set(manifest "${copy}/src/shell/tovren.manifest")
file(READ "${manifest}" text)
string(REPLACE "<description>Tovren</description>" "<description>Tovren, changed</description>"
               changed "${text}")
if(changed STREQUAL text)
    message(FATAL_ERROR "the manifest has no description to change")
endif()
file(WRITE "${manifest}" "${changed}")
build_program()
file(READ "${build}/tovren.exe" bytes HEX)
string(HEX "Tovren, changed" marker)
string(FIND "${bytes}" "${marker}" at)
if(at EQUAL -1)
    message(FATAL_ERROR "the manifest changed and the exe was not built with it")
endif()
message(STATUS "${PRESET}: both builds are the same ${size} bytes; a changed manifest is built in")
file(REMOVE_RECURSE "${WORK_DIR}")
