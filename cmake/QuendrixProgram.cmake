juce_add_gui_app (Quendrix
    PRODUCT_NAME "Quendrix"
    VERSION ${PROJECT_VERSION}
    COMPANY_NAME "Quendrix")

target_sources (Quendrix PRIVATE ${CMAKE_SOURCE_DIR}/app/Main.cpp)
target_link_libraries (Quendrix PRIVATE quendrix_core)
