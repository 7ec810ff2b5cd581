# The window tests need a screen larger than a handheld's: a configured
# 1920 x 1080 offscreen screen, and a real X server of that size when
# xvfb-run is available.
set(velmora_desktop_screen "${CMAKE_CURRENT_BINARY_DIR}/${name}_screen.json")
file(WRITE "${velmora_desktop_screen}"
    "{ \"screens\": [ { \"name\": \"desktop\", \"x\": 0, \"y\": 0, \"width\": 1920, \"height\": 1080, \"logicalDpi\": 96, \"logicalBpi\": 96, \"dpr\": 1 } ] }\n")
set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen:configfile=${velmora_desktop_screen};QT_LOGGING_RULES=qt.qpa.*=false")
velmora_add_xvfb_test(${name} 1920x1080)
