# korva_add_test(<name> SOURCES <files...> LIBS <targets...> [MAIN_IS_OURS])
# One test executable is one ctest entry; on the windows preset ctest runs it through
# CMAKE_CROSSCOMPILING_EMULATOR (Wine). Tests run in their own build folder so that relative
# paths and temporary files stay inside the build tree. Every test links the test-support library
# (tests/support): result assertions and the self-checking fakes.
function(korva_add_test name)
    cmake_parse_arguments(ARG "MAIN_IS_OURS" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE korva_options ${ARG_LIBS} korva_test_support)
    if(ARG_MAIN_IS_OURS)
        target_link_libraries(${name} PRIVATE korva_gtest)
    else()
        target_link_libraries(${name} PRIVATE korva_gtest_main)
    endif()
    if(WIN32)
        # A Windows program that needs a DLL Wine does not have exits silently (status 53); say why at link time.
        korva_check_windows_imports(${name})
    endif()
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} TIMEOUT 600)
endfunction()
