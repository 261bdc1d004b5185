# Compiler policy lives on INTERFACE targets that every project target links,
# so third-party code keeps its own flags.
add_library(brindell_warnings INTERFACE)
target_compile_options(brindell_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
    -Woverloaded-virtual -Wconversion -Wsign-conversion -Wnull-dereference -Wdouble-promotion
    -Wformat=2 -Wimplicit-fallthrough -Werror
    # GCC 12 reports -Wrestrict falsely inside std::string's operator+ when inlined (GCC PR 105329).
    $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)

add_library(brindell_sanitizers INTERFACE)
if(BRINDELL_SANITIZE STREQUAL "address")
    target_compile_options(brindell_sanitizers INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(brindell_sanitizers INTERFACE -fsanitize=address,undefined)
elseif(BRINDELL_SANITIZE STREQUAL "thread")
    target_compile_options(brindell_sanitizers INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(brindell_sanitizers INTERFACE -fsanitize=thread)
elseif(NOT BRINDELL_SANITIZE STREQUAL "")
    message(FATAL_ERROR "BRINDELL_SANITIZE must be empty, 'address' or 'thread'")
endif()

add_library(brindell_policy INTERFACE)
target_link_libraries(brindell_policy INTERFACE brindell_warnings brindell_sanitizers)
