# Builds the Debian package into a scratch folder and checks what is in it:
# the expected files, nothing from the build tree that must not ship (the
# replay position plugin, test programs), the project's version, worked-out
# dependencies, a described package, units that start the installed service
# from a loopback socket the package enables, the documentation, and, when
# lintian is installed, no lintian errors.
#
#   cmake -DCPACK=<cpack> -DBUILD_DIR=<build> -DEXPECT=<a,b,...> -DVERSION=<x.y>
#         -DWITH_SERVICE=ON|OFF -P checkpackage.cmake

cmake_minimum_required(VERSION 3.25)

foreach(var CPACK BUILD_DIR EXPECT VERSION)
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

function(control_field field out)
    execute_process(COMMAND "${DPKG_DEB}" -f "${deb}" ${field} OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(${out} "${value}" PARENT_SCOPE)
endfunction()

control_field(Version version)
if(NOT version STREQUAL VERSION)
    fail("package version ${version}, project version ${VERSION}")
endif()
control_field(Description description)
if(NOT description MATCHES "\n ")
    fail("the description has no text below its summary: ${description}")
endif()
control_field(Recommends recommends)
foreach(package IN ITEMS libqt6positioning6-plugins geoclue-2.0 libsecret-1-0)
    if(NOT recommends MATCHES "(^|, )${package}(,|$)")
        fail("Recommends lacks ${package}: ${recommends}")
    endif()
endforeach()

control_field(Depends depends)
message("Depends: ${depends}")
set(needed libqt6widgets6 libqt6network6 libqt6positioning6 libqt6xml6 libqt6keychain1)
if(WITH_SERVICE)
    list(APPEND needed libqt6sql6-sqlite libsystemd0)
endif()
foreach(package IN LISTS needed)
    if(NOT depends MATCHES "(^|, )${package}")
        fail("Depends lacks ${package}: ${depends}")
    endif()
endforeach()

# dpkg-deb -x (the files) or -e (the control files) into a folder.
function(unpack option folder)
    execute_process(COMMAND "${DPKG_DEB}" ${option} "${deb}" "${folder}" RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        fail("dpkg-deb ${option} failed")
    endif()
endfunction()

unpack(-x "${work}/root")
file(READ "${work}/root/usr/share/applications/velmora.desktop" desktop)
if(NOT desktop MATCHES "\nExec=velmora\n" OR NOT desktop MATCHES "\nIcon=velmora\n")
    fail("desktop entry does not start velmora with its icon:\n${desktop}")
endif()
file(STRINGS "${work}/root/usr/share/doc/velmora/copyright" copyright LIMIT_COUNT 1)
if(NOT copyright MATCHES "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/?$")
    fail("copyright is not in the machine-readable format: ${copyright}")
endif()

if(WITH_SERVICE)
    file(READ "${work}/root/usr/lib/systemd/system/velmora-service.service" unit)
    if(NOT unit MATCHES "\nExecStart=/usr/bin/velmora-service( [^\n]*)?\n")
        fail("unit does not start the installed service:\n${unit}")
    endif()
    file(READ "${work}/root/usr/lib/systemd/system/velmora-service.socket" socket)
    if(NOT socket MATCHES "\nListenStream=127\\.0\\.0\\.1:8642\n" OR NOT socket MATCHES "\nWantedBy=sockets\\.target\n")
        fail("socket unit does not listen on 127.0.0.1:8642 from sockets.target:\n${socket}")
    endif()
    if("${unit}${socket}" MATCHES "@[A-Za-z_]+@")
        fail("a unit still holds a placeholder:\n${unit}${socket}")
    endif()
    # The service runs as its own account; the removed package stays known
    # to dpkg until it is purged. (tests/package/nspawn-system-service.sh
    # installs, upgrades, removes and purges it on a booted system.)
    if(NOT unit MATCHES "\nUser=velmora-service\n" OR NOT unit MATCHES "\nStateDirectory=velmora-service\n")
        fail("unit does not run as its own account with its state directory:\n${unit}")
    endif()
    unpack(-e "${work}/control")
    if(NOT EXISTS "${work}/control/postrm")
        fail("no postrm: a removed package would be forgotten before it can be purged")
    endif()
endif()

# Lintian's errors fail the check; its warnings are shown in the test log.
find_program(LINTIAN lintian)
if(LINTIAN)
    execute_process(COMMAND "${LINTIAN}" "${deb}" OUTPUT_VARIABLE out ERROR_VARIABLE err)
    message("lintian:\n${out}${err}")
    if(out MATCHES "(^|\n)E: ")
        fail("lintian reports errors:\n${out}")
    endif()
else()
    message("lintian not found; lintian check skipped")
endif()

file(REMOVE_RECURSE "${work}")
