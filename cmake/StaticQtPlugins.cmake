# A static Qt links only its system's own platform plugin into a program. Every program here,
# tests included, also gets the offscreen and minimal plugins, so that it runs headless with
# "-platform offscreen" as well.
function(vrax_import_static_qt_plugins directory)
    get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "EXECUTABLE")
            qt_import_plugins(${target} INCLUDE_BY_TYPE platforms
                              Qt6::QWindowsIntegrationPlugin Qt6::QOffscreenIntegrationPlugin
                              Qt6::QMinimalIntegrationPlugin)
        endif()
    endforeach()
    get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
    foreach(subdirectory IN LISTS subdirectories)
        vrax_import_static_qt_plugins(${subdirectory})
    endforeach()
endfunction()

get_target_property(vrax_qt_core_type Qt6::Core TYPE)
if(WIN32 AND vrax_qt_core_type STREQUAL "STATIC_LIBRARY")
    vrax_import_static_qt_plugins(${PROJECT_SOURCE_DIR})
endif()
