# The version the update check sends, as derived from project(VERSION):
# two-digit major, a dot, the minor; versions the client's decimal
# comparison would misread stop the configure step.
#
#   cmake -P wireversion.cmake            (runs the table)
#   cmake -DVERSION=<v> -P wireversion.cmake   (prints one, fails like configure)

cmake_minimum_required(VERSION 3.25)
include("${CMAKE_CURRENT_LIST_DIR}/../../cmake/VelmoraVersion.cmake")

if(DEFINED VERSION)
    velmora_wire_version(wire "${VERSION}")
    message("${wire}")
    return()
endif()

foreach(case IN ITEMS "5.4=05.4" "5.5=05.5" "5=05.0" "5.4.1=05.4" "12.3=12.3" "0.9=00.9")
    string(REPLACE "=" ";" case "${case}")
    list(GET case 0 version)
    list(GET case 1 expected)
    velmora_wire_version(wire "${version}")
    if(NOT wire STREQUAL expected)
        message(FATAL_ERROR "${version}: wire form ${wire}, expected ${expected}")
    endif()
endforeach()

# 5.10 would compare as older than 5.9; 100.1 does not fit two digits.
foreach(version IN ITEMS 5.10 100.1 x.4)
    execute_process(COMMAND "${CMAKE_COMMAND}" -DVERSION=${version} -P "${CMAKE_CURRENT_LIST_FILE}"
                    RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
    if(result EQUAL 0)
        message(FATAL_ERROR "version ${version} was accepted")
    endif()
endforeach()
