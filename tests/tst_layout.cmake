# A second run of the layout test on a configured 480 x 800 offscreen screen,
# so the layout is also checked against a real QScreen and not only through
# the geometry override.
set(velmora_portrait_screen "${CMAKE_CURRENT_BINARY_DIR}/${name}_portrait_screen.json")
file(WRITE "${velmora_portrait_screen}"
    "{ \"screens\": [ { \"name\": \"portrait\", \"x\": 0, \"y\": 0, \"width\": 480, \"height\": 800, \"logicalDpi\": 96, \"logicalBpi\": 96, \"dpr\": 1 } ] }\n")
add_test(NAME ${name}_portrait_screen COMMAND ${name} realScreen)
set_tests_properties(${name}_portrait_screen PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen:configfile=${velmora_portrait_screen};QT_LOGGING_RULES=qt.qpa.*=false"
    TIMEOUT 60)
