# The GPS tab needs a position source. The project's replay plugin supplies
# one that plays a route of a single fix, once, so the nearby search is
# deterministic.
if(TARGET velmora_replay_position)
    set(velmora_route "${CMAKE_CURRENT_BINARY_DIR}/${name}_route.csv")
    file(WRITE "${velmora_route}" "# one fix in Dublin\n53.3498,-6.2603\n")
    add_dependencies(${name} velmora_replay_position)
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT
        "QT_PLUGIN_PATH=${PROJECT_BINARY_DIR}/plugins"
        "VELMORA_REPLAY_FILE=${velmora_route}"
        "VELMORA_REPLAY_LOOP=0")
endif()
