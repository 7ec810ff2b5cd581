# The refused-address test runs the real program.
target_compile_definitions(tst_serviceaddress PRIVATE
    VELMORA_CLIENT_EXECUTABLE="$<TARGET_FILE:velmora>"
    "VELMORA_SERVICE_HOST=\"${VELMORA_SERVICE_HOST}\"" "VELMORA_UPDATE_HOST=\"${VELMORA_UPDATE_HOST}\"")
add_dependencies(tst_serviceaddress velmora)
