# The sanitized build: AddressSanitizer and UndefinedBehaviorSanitizer in every target, any undefined
# behaviour fatal. Tests run with the options and suppressions of tests/sanitizers/.
option(QF_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(QF_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# Fuzzing: every library built for coverage-guided fuzzing with the sanitizers, plus the fuzz targets.
option(QF_FUZZ "Build the fuzz targets (needs clang and libFuzzer)" OFF)
if(QF_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "QF_FUZZ needs clang: configure with CC=clang CXX=clang++")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
