# The fault tests also feed the service's reply writer directly.
if(TARGET velmora_service_core)
    target_link_libraries(${name} PRIVATE velmora_service_core)
    target_compile_definitions(${name} PRIVATE VELMORA_HAVE_SERVICE_CORE)
endif()
