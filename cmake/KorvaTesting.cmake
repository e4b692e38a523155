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
    # No timeout of its own: the preset's applies.
    set_tests_properties(${name} PROPERTIES WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    if(CMAKE_CROSSCOMPILING_EMULATOR)
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED korva_wine_session)
    endif()
endfunction()

# korva_add_wine_session(): under Wine, a test run starts a persistent Wine session before its first test and
# ends it after its last, however ctest is invoked. The first Wine process of a session starts Wine's
# services, which inherit that process's output; started inside a test they would hold ctest's output pipe
# open and stall the run. Started here, their output goes nowhere.
function(korva_add_wine_session)
    if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
        return()
    endif()
    add_test(NAME korva_wine_session_start COMMAND bash ${CMAKE_CROSSCOMPILING_EMULATOR} --start-server)
    add_test(NAME korva_wine_session_stop COMMAND bash ${CMAKE_CROSSCOMPILING_EMULATOR} --stop-server)
    set_tests_properties(korva_wine_session_start PROPERTIES FIXTURES_SETUP korva_wine_session)
    set_tests_properties(korva_wine_session_stop PROPERTIES FIXTURES_CLEANUP korva_wine_session)
endfunction()
