# Price dates are read in the local zone: run the suite in one with summer
# time, so the hours skipped and repeated by the clock changes are covered.
set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false;TZ=Europe/Dublin")
