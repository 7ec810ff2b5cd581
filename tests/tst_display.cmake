# Also run the window test on a real X server when xvfb-run is available.
find_program(VELMORA_XVFB_RUN xvfb-run)
if(VELMORA_XVFB_RUN)
    add_test(NAME ${name}_xvfb
             COMMAND ${VELMORA_XVFB_RUN} -a -s "-screen 0 800x480x24" $<TARGET_FILE:${name}>)
    set_tests_properties(${name}_xvfb PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=xcb" TIMEOUT 120)
endif()
