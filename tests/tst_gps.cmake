# The GPS tests load the velmora-replay position plugin the ordinary way,
# through QT_PLUGIN_PATH, so QGeoPositionInfoSource::createDefaultSource()
# itself picks it over the system's sources by its priority.
if(TARGET velmora_replay_position)
    add_dependencies(${name} velmora_replay_position)
endif()
set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "QT_PLUGIN_PATH=${PROJECT_BINARY_DIR}/plugins")

# The same tests built for a machine without positioning. Qt also searches its
# own plugin folder, whatever QT_PLUGIN_PATH says, and geoclue2 there hands out
# a source even without a location service. Qt Positioning happens to skip
# plugins not marked "Testable" while a QtTest program runs, but nothing stops
# a system plugin from carrying that mark. So this program lives in a folder of
# its own with a qt.conf that moves Qt's plugin folder to an empty directory;
# the platform plugin is then found through QT_QPA_PLATFORM_PLUGIN_PATH.
set(velmora_nopos_dir "${CMAKE_CURRENT_BINARY_DIR}/${name}_without_positioning")
file(MAKE_DIRECTORY "${velmora_nopos_dir}/no-plugins")
file(WRITE "${velmora_nopos_dir}/qt.conf"
    "[Paths]\nPrefix=${QT6_INSTALL_PREFIX}\nPlugins=${velmora_nopos_dir}/no-plugins\n")
add_executable(${name}_without_positioning "${source}")
target_link_libraries(${name}_without_positioning PRIVATE velmora_core velmora_testsupport Qt6::Test)
target_compile_options(${name}_without_positioning PRIVATE -Wall -Wextra)
target_compile_definitions(${name}_without_positioning PRIVATE
    VELMORA_GPS_WITHOUT_POSITIONING)
set_target_properties(${name}_without_positioning PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${velmora_nopos_dir}")
set(velmora_qt_plugins "${QT6_INSTALL_PLUGINS}")
if(NOT IS_ABSOLUTE "${velmora_qt_plugins}")
    set(velmora_qt_plugins "${QT6_INSTALL_PREFIX}/${velmora_qt_plugins}")
endif()
add_test(NAME ${name}_without_positioning COMMAND ${name}_without_positioning)
set_tests_properties(${name}_without_positioning PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false;QT_PLUGIN_PATH=${velmora_nopos_dir}/no-plugins;QT_QPA_PLATFORM_PLUGIN_PATH=${velmora_qt_plugins}/platforms"
    TIMEOUT 120)
