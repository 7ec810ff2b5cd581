# Builds the Debian package into a scratch folder and checks what is in it:
# the expected files, nothing from the build tree that must not ship (the
# replay position plugin, test programs), worked-out dependencies and an
# installed unit that starts the installed service.
#
#   cmake -DCPACK=<cpack> -DBUILD_DIR=<build> -DEXPECT=<a,b,...> -DWITH_SERVICE=ON|OFF -P checkpackage.cmake

cmake_minimum_required(VERSION 3.25)

foreach(var CPACK BUILD_DIR EXPECT)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "checkpackage.cmake: ${var} not set")
    endif()
endforeach()

find_program(DPKG_DEB dpkg-deb)
if(NOT DPKG_DEB)
    message("dpkg-deb not found; package check skipped")
    return()
endif()

string(RANDOM LENGTH 8 token)
set(work "${BUILD_DIR}/Testing/package-check-${token}")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}")

function(fail text)
    file(REMOVE_RECURSE "${work}")
    message(FATAL_ERROR "${text}")
endfunction()

execute_process(
    COMMAND "${CPACK}" -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${work}"
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(deb "${work}/velmora.deb")
if(NOT result EQUAL 0 OR NOT EXISTS "${deb}")
    # The work folder goes with the failure, so show cpack's own logs first.
    file(GLOB_RECURSE logs "${work}/_CPack_Packages/*.log")
    foreach(log IN LISTS logs)
        file(READ "${log}" content)
        string(APPEND err "\n--- ${log}\n${content}")
    endforeach()
    fail("cpack failed (${result}):\n${out}\n${err}")
endif()

execute_process(COMMAND "${DPKG_DEB}" -c "${deb}" RESULT_VARIABLE result OUTPUT_VARIABLE listing)
if(NOT result EQUAL 0)
    fail("dpkg-deb -c failed")
endif()
message("${listing}")

# One path per line, "./usr/bin/velmora" -> "usr/bin/velmora".
set(paths)
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
    if(line MATCHES " \\./(.+)$")
        string(REGEX REPLACE "/$" "" path "${CMAKE_MATCH_1}")
        list(APPEND paths "${path}")
    endif()
endforeach()

string(REPLACE "," ";" expected "${EXPECT}")
foreach(path IN LISTS expected)
    if(NOT path IN_LIST paths)
        fail("missing from the package: ${path}")
    endif()
endforeach()
foreach(path IN LISTS paths)
    if(path MATCHES "replay|plugins/position|/tst_|bench|testsupport|\\.a$")
        fail("must not be in the package: ${path}")
    endif()
endforeach()

execute_process(COMMAND "${DPKG_DEB}" -f "${deb}" Depends OUTPUT_VARIABLE depends OUTPUT_STRIP_TRAILING_WHITESPACE)
message("Depends: ${depends}")
set(needed libqt6widgets6 libqt6network6 libqt6positioning6 libqt6xml6)
if(WITH_SERVICE)
    list(APPEND needed libqt6sql6-sqlite libsystemd0)
endif()
foreach(package IN LISTS needed)
    if(NOT depends MATCHES "(^|, )${package}")
        fail("Depends lacks ${package}: ${depends}")
    endif()
endforeach()

execute_process(COMMAND "${DPKG_DEB}" -x "${deb}" "${work}/root" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    fail("dpkg-deb -x failed")
endif()
file(READ "${work}/root/usr/share/applications/velmora.desktop" desktop)
if(NOT desktop MATCHES "\nExec=velmora\n" OR NOT desktop MATCHES "\nIcon=velmora\n")
    fail("desktop entry does not start velmora with its icon:\n${desktop}")
endif()
if(WITH_SERVICE)
    file(READ "${work}/root/usr/lib/systemd/user/velmora-service.service" unit)
    if(NOT unit MATCHES "\nExecStart=/usr/bin/velmora-service ")
        fail("unit does not start the installed service:\n${unit}")
    endif()
endif()

file(REMOVE_RECURSE "${work}")
