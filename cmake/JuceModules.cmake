# The framework's modules compiled once into one static library; its include paths and
# definitions travel with it, so the program, the in-house code and the tests agree on them.
add_library (juce_modules STATIC)

target_link_libraries (juce_modules
    PRIVATE
        juce::juce_core
        juce::juce_events
        juce::juce_data_structures
        juce::juce_graphics
        juce::juce_gui_basics
        juce::juce_audio_basics
        juce::juce_audio_formats
    PUBLIC
        juce::juce_recommended_config_flags
        juce::juce_recommended_warning_flags)

target_compile_definitions (juce_modules
    PUBLIC
        JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1
        JUCE_STANDALONE_APPLICATION=1
        JUCE_USE_CURL=0
        JUCE_WEB_BROWSER=0
        JUCE_USE_MP3AUDIOFORMAT=1
        JUCE_MODAL_LOOPS_PERMITTED=1
        JUCE_DISPLAY_SPLASH_SCREEN=0
        JUCE_REPORT_APP_USAGE=0
        JUCE_SILENCE_XCODE_15_LINKER_WARNING=1)

# Debian's framework takes these codecs and libraries from the system but does not link them.
pkg_check_modules (JUCE_SYSTEM_LIBS REQUIRED IMPORTED_TARGET
    zlib libpng libjpeg flac vorbis vorbisenc vorbisfile ogg freetype2 fontconfig)

find_package (Threads REQUIRED)
target_link_libraries (juce_modules PUBLIC PkgConfig::JUCE_SYSTEM_LIBS Threads::Threads ${CMAKE_DL_LIBS})


target_include_directories (juce_modules INTERFACE $<TARGET_PROPERTY:juce_modules,INCLUDE_DIRECTORIES>)
target_compile_definitions (juce_modules INTERFACE $<TARGET_PROPERTY:juce_modules,COMPILE_DEFINITIONS>)

# The framework's FLAC reader shifts negative samples left: defined by GCC, but UBSan stops on it.
if (QUENDRIX_SANITIZE)
    target_compile_options (juce_modules PRIVATE -fno-sanitize=shift-base)
endif()
