# Warnings are errors on both compilers (native gcc and mingw-w64 gcc).
add_library(korva_options INTERFACE)
set(KORVA_WARNING_FLAGS
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wunused -Woverloaded-virtual
    -Wnull-dereference -Wimplicit-fallthrough -Wformat=2)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 reports overlapping copies inside std::string's own operator+ when it inlines at -O3 (GCC bug
    # 105329); the warning fires on correct code in the standard headers, so it cannot be an error here.
    list(APPEND KORVA_WARNING_FLAGS -Wno-restrict)
endif()
# Compiler flags only: the resource compiler (windres) shares the targets but understands none of them.
target_compile_options(korva_options INTERFACE "$<$<COMPILE_LANGUAGE:C,CXX>:${KORVA_WARNING_FLAGS}>")
target_include_directories(korva_options INTERFACE ${PROJECT_SOURCE_DIR})

if(WIN32)
    # Unicode Win32 entry points, no min/max macros, Windows 7 API level or later.
    target_compile_definitions(korva_options INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
        _WIN32_WINNT=0x0601)
    # Everything static: the DLL and the tests import only Windows system DLLs.
    add_link_options(-static -static-libgcc -static-libstdc++)
endif()

if(KORVA_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

# korva_check_windows_imports(<target>): after each link, fails the build when the program or DLL imports
# anything but Windows system DLLs (a runtime DLL of the compiler means a link that was not fully static).
function(korva_check_windows_imports target)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DFILES=$<TARGET_FILE:${target}> -DQUIET=ON
                -P ${PROJECT_SOURCE_DIR}/cmake/KorvaCheckImports.cmake
        VERBATIM)
endfunction()
