# The resources, compiled in under the names the code uses.
set (QUENDRIX_RESOURCE_DIR ${CMAKE_BINARY_DIR}/resources)
configure_file (${CMAKE_SOURCE_DIR}/resources/Roboto-Regular.ttf ${QUENDRIX_RESOURCE_DIR}/temp_binary_data_1 COPYONLY)
configure_file (${CMAKE_SOURCE_DIR}/resources/background.png    ${QUENDRIX_RESOURCE_DIR}/temp_binary_data_2 COPYONLY)

juce_add_binary_data (quendrix_resources
    SOURCES
        ${QUENDRIX_RESOURCE_DIR}/temp_binary_data_1
        ${QUENDRIX_RESOURCE_DIR}/temp_binary_data_2)

# All of the program's own code but its entry point: the program and every test binary link
# exactly this library.
file (GLOB QUENDRIX_APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/*.cpp)
list (REMOVE_ITEM QUENDRIX_APP_SOURCES ${CMAKE_SOURCE_DIR}/app/Main.cpp)

add_library (quendrix_core STATIC
    ${CMAKE_SOURCE_DIR}/juce_myModule/juce_myModule.cpp
    ${QUENDRIX_APP_SOURCES})

target_include_directories (quendrix_core PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/app)
target_compile_definitions (quendrix_core PUBLIC
    QUENDRIX_VERSION_STRING="${PROJECT_VERSION}")
target_link_libraries (quendrix_core PUBLIC juce_modules quendrix_resources PkgConfig::LIBUSB)
