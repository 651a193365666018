# The icon and version resource of each Windows program, and the zip for the station PC.
set(VRAX_ICON_FILE "${CMAKE_CURRENT_LIST_DIR}/vrax-bin-writer.ico")
if(PROJECT_VERSION_PATCH STREQUAL "")
    set(VRAX_VERSION_PATCH 0)
else()
    set(VRAX_VERSION_PATCH ${PROJECT_VERSION_PATCH})
endif()

set(descriptions
    "vrax-bin-writer=VRAX 2K-Bin Writer station"
    "vrax-bin-writer-bench=VRAX 2K-Bin Writer on a virtual bench"
    "vrax-bin-writer-cli=VRAX 2K-Bin Writer command line")
foreach(entry IN LISTS descriptions)
    string(REGEX REPLACE "=.*" "" VRAX_PROGRAM "${entry}")
    string(REGEX REPLACE "^[^=]*=" "" VRAX_PROGRAM_DESCRIPTION "${entry}")
    if(TARGET ${VRAX_PROGRAM})
        configure_file(${CMAKE_CURRENT_LIST_DIR}/program.rc.in
                       ${CMAKE_CURRENT_BINARY_DIR}/${VRAX_PROGRAM}.rc @ONLY)
        target_sources(${VRAX_PROGRAM} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${VRAX_PROGRAM}.rc)
    endif()
endforeach()

# A double-clicked bench opens no console window behind it.
if(TARGET vrax-bin-writer-bench)
    set_target_properties(vrax-bin-writer-bench PROPERTIES WIN32_EXECUTABLE ON)
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/READ-ME.txt ${CMAKE_CURRENT_BINARY_DIR}/READ-ME.txt @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/READ-ME.txt DESTINATION .)
# The notices: the project's licence, and in LICENSES/ what the programs carry of others,
# listed in LICENSES/THIRD-PARTY.txt with the file of each licence text.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
install(DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/LICENSES/ DESTINATION LICENSES)
# The source of this very build: Qt's LGPL lets every user rebuild the programs against a Qt
# of their own (READ-ME.txt). Made by ./dev windows-build, which builds this target.
set(source_name vrax-bin-writer-${PROJECT_VERSION}-source)
add_custom_target(vrax_source_archive
                  COMMAND ${CMAKE_CURRENT_LIST_DIR}/source-archive.sh
                          ${CMAKE_CURRENT_BINARY_DIR}/${source_name}.tar.gz ${source_name}
                  BYPRODUCTS ${CMAKE_CURRENT_BINARY_DIR}/${source_name}.tar.gz VERBATIM)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${source_name}.tar.gz DESTINATION source OPTIONAL)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME vrax-bin-writer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME vrax-bin-writer-${PROJECT_VERSION}-windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
