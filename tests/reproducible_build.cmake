# Builds the program again from the same sources in another folder and compares it byte for byte
# with the main build. Run with -DSOURCE_DIR, -DPRESET, -DREFERENCE and -DWORK_DIR.
if(NOT EXISTS "${REFERENCE}")
    message(FATAL_ERROR "no main build at ${REFERENCE}")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
if(PRESET STREQUAL "win64")
    set(toolchain mingw-w64-x86_64.cmake)
else()
    set(toolchain mingw-w64-i686.cmake)
endif()
execute_process(
    COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}" -G Ninja
            -DCMAKE_BUILD_TYPE=Release -DTOVREN_BUILD_TESTS=OFF
            -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/${toolchain}
    RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "configuring the second build failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build "${WORK_DIR}" --target tovren
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "the second build failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${REFERENCE}" "${WORK_DIR}/tovren.exe"
                RESULT_VARIABLE differ)
file(SIZE "${REFERENCE}" size)
if(differ)
    message(FATAL_ERROR "two builds of the same sources differ (${PRESET}, ${size} bytes)")
endif()
message(STATUS "${PRESET}: both builds are the same ${size} bytes")
file(REMOVE_RECURSE "${WORK_DIR}")
