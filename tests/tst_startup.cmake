# The GPS start tab needs the same replayed single fix as the navigation suite.
include("${CMAKE_CURRENT_LIST_DIR}/tst_navigation.cmake")
