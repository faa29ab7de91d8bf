if (QUENDRIX_SANITIZE AND QUENDRIX_THREAD_SANITIZE)
    message (FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer: build them apart")
endif()

if (QUENDRIX_SANITIZE)
    set (QUENDRIX_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_compile_options (${QUENDRIX_SANITIZER_FLAGS})
    add_link_options (-fsanitize=address,undefined)
endif()

# Set before any target, so the framework's modules are instrumented too: a race inside the
# framework on our objects is only seen when both sides are.
if (QUENDRIX_THREAD_SANITIZE)
    add_compile_options (-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options (-fsanitize=thread)
endif()
