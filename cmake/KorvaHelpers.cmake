# korva_add_fuzzer(<name> <source> <libs...>)
# A libFuzzer target built with AddressSanitizer and UndefinedBehaviorSanitizer;
# only defined when KORVA_FUZZ is on (clang).
function(korva_add_fuzzer name source)
    if(NOT KORVA_FUZZ)
        return()
    endif()
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE ${ARGN})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -g)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzzers)
endfunction()

# Sanitizer flags applied to the non-GUI libraries of a fuzzing build, so that
# the code under test is instrumented, not only the harness.
if(KORVA_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -g)
    add_link_options(-fsanitize=address,undefined)
endif()
