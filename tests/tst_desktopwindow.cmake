# The window tests need a screen larger than a handheld's: a configured
# 1920 x 1080 offscreen screen, and a real X server of that size when
# xvfb-run is available.
set(velmora_desktop_screen "${CMAKE_CURRENT_BINARY_DIR}/${name}_screen.json")
file(WRITE "${velmora_desktop_screen}"
    "{ \"screens\": [ { \"name\": \"desktop\", \"x\": 0, \"y\": 0, \"width\": 1920, \"height\": 1080, \"logicalDpi\": 96, \"logicalBpi\": 96, \"dpr\": 1 } ] }\n")
set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen:configfile=${velmora_desktop_screen};QT_LOGGING_RULES=qt.qpa.*=false")
find_program(VELMORA_XVFB_RUN xvfb-run)
if(VELMORA_XVFB_RUN)
    add_test(NAME ${name}_xvfb
             COMMAND ${VELMORA_XVFB_RUN} -a -s "-screen 0 1920x1080x24" $<TARGET_FILE:${name}>)
    set_tests_properties(${name}_xvfb PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=xcb" TIMEOUT 120)
endif()
