# The framework's modules compiled once into one static library; its include paths and
# definitions travel with it, so the program, the in-house code and the tests agree on them.
add_library (juce_modules STATIC)

# QUENDRIX PATCHES TO THE FRAMEWORK. Faults in Debian's framework decoders that no check before
# reading can catch (an audio file can crash them or make them write out of bounds) are mended by
# the patches in cmake/juce-patches/, each fix marked "Quendrix patch" and each with a test. The
# module is copied into the build tree, patched there, and compiled in place of Debian's copy;
# its headers are unchanged, so everything else still includes Debian's.
find_program (PATCH_PROGRAM patch REQUIRED)

function (quendrix_patch_juce_module module)
    get_target_property (module_parent ${module} INTERFACE_JUCE_MODULE_PATH)
    file (GLOB patches CONFIGURE_DEPENDS "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/juce-patches/${module}-*.patch")
    set_property (DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${patches})

    set (patched_parent "${CMAKE_BINARY_DIR}/juce-patched")
    set (stamp_text "${module_parent}")

    foreach (patch IN LISTS patches)
        file (SHA256 "${patch}" hash)
        string (APPEND stamp_text " ${hash}")
    endforeach()

    # Copied and patched again only when the patches change, so that a configure does not
    # rebuild the module.
    set (stamp "${patched_parent}/${module}.stamp")
    set (previous_stamp_text "")

    if (EXISTS "${stamp}")
        file (READ "${stamp}" previous_stamp_text)
    endif()

    if (NOT previous_stamp_text STREQUAL stamp_text)
        file (REMOVE_RECURSE "${patched_parent}/${module}")
        file (COPY "${module_parent}/${module}" DESTINATION "${patched_parent}")

        foreach (patch IN LISTS patches)
            execute_process (COMMAND "${PATCH_PROGRAM}" --forward --batch --silent -p1 -d "${patched_parent}/${module}" -i "${patch}"
                             RESULT_VARIABLE patch_result)

            if (NOT patch_result EQUAL 0)
                message (FATAL_ERROR "${patch} does not apply to ${module_parent}/${module}")
            endif()
        endforeach()

        file (WRITE "${stamp}" "${stamp_text}")
    endif()

    get_target_property (sources ${module} INTERFACE_SOURCES)
    list (TRANSFORM sources REPLACE "^${module_parent}/${module}/" "${patched_parent}/${module}/")
    set_property (TARGET ${module} PROPERTY INTERFACE_SOURCES "${sources}")
endfunction()

quendrix_patch_juce_module (juce_audio_formats)

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
