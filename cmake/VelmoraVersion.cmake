# The one version number of Velmora is the project's VERSION. This turns it
# into the form the client and the service exchange in the update check and
# offers it to C++ code as the header "velmora_version.h" through the
# interface target velmora_version:
#
#   VELMORA_VERSION       "5.4"   the package version, as in project()
#   VELMORA_WIRE_VERSION  "05.4"  two-digit major, a dot, the minor
#
# The client compares wire versions as decimal numbers, so 5.10 would read
# as older than 5.9; a minor above 9 (or a major above 99) stops the
# configure step rather than ship a version check that gets it wrong.
# Included once per build tree (top level, or the service on its own); in
# script mode (cmake -P) it only defines velmora_wire_version().

include_guard(GLOBAL)

function(velmora_wire_version out version)
    string(REGEX MATCH "^([0-9]+)(\\.([0-9]+))?" matched "${version}")
    if(NOT matched)
        message(FATAL_ERROR "Velmora version \"${version}\" does not start with MAJOR[.MINOR]")
    endif()
    set(major "${CMAKE_MATCH_1}")
    set(minor "${CMAKE_MATCH_3}")
    if(minor STREQUAL "")
        set(minor 0)
    endif()
    if(major GREATER 99 OR minor GREATER 9)
        message(FATAL_ERROR "Velmora version ${version}: the update check compares versions as decimal "
                            "numbers, so the major must stay below 100 and the minor below 10")
    endif()
    if(major LESS 10)
        set(major "0${major}")
    endif()
    set(${out} "${major}.${minor}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
    return()
endif()

if(NOT PROJECT_VERSION)
    message(FATAL_ERROR "VelmoraVersion.cmake needs project(... VERSION ...)")
endif()
velmora_wire_version(VELMORA_WIRE_VERSION "${PROJECT_VERSION}")
set(VELMORA_VERSION "${PROJECT_VERSION}")

set(velmora_version_dir "${PROJECT_BINARY_DIR}/velmora-version")
configure_file("${CMAKE_CURRENT_LIST_DIR}/velmora_version.h.in" "${velmora_version_dir}/velmora_version.h" @ONLY)
add_library(velmora_version INTERFACE)
target_include_directories(velmora_version INTERFACE "${velmora_version_dir}")
