# Third-party libraries for the Windows cross build, compiled here with the mingw toolchain:
#  - PCRE2 10.42 and pugixml 1.13 from the upstream tarballs of Debian's source packages (the same versions the
#    Linux build links), fetched by scripts/fetch-third-party.sh into the build tree;
#  - GoogleTest/GoogleMock from Debian's googletest sources in /usr/src/googletest.
# The targets mean the same as on Linux: korva_pcre2 (16-bit PCRE2), korva_pugixml (UTF-8 DOM), korva_gtest,
# korva_gtest_main. Third-party code is built without the project's warning flags and its headers are
# included as system headers.

set(KORVA_THIRD_PARTY_DIR ${CMAKE_BINARY_DIR}/_third_party CACHE PATH
    "Where scripts/fetch-third-party.sh puts the Windows build's third-party sources")
set(KORVA_PCRE2_DIR ${KORVA_THIRD_PARTY_DIR}/src/pcre2-10.42)
set(KORVA_PUGIXML_DIR ${KORVA_THIRD_PARTY_DIR}/src/pugixml-1.13)

if(NOT EXISTS ${KORVA_PCRE2_DIR}/.unpacked OR NOT EXISTS ${KORVA_PUGIXML_DIR}/.unpacked)
    message(STATUS "Fetching third-party sources: scripts/fetch-third-party.sh ${KORVA_THIRD_PARTY_DIR}")
    execute_process(
        COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/fetch-third-party.sh ${KORVA_THIRD_PARTY_DIR}
        RESULT_VARIABLE korva_fetch_result)
    if(NOT korva_fetch_result EQUAL 0 OR NOT EXISTS ${KORVA_PCRE2_DIR}/.unpacked
       OR NOT EXISTS ${KORVA_PUGIXML_DIR}/.unpacked)
        message(FATAL_ERROR
            "The Windows build needs the PCRE2 and pugixml sources in ${KORVA_THIRD_PARTY_DIR}/src, and "
            "scripts/fetch-third-party.sh could not download them (exit code ${korva_fetch_result}). Run\n"
            "  bash scripts/fetch-third-party.sh ${KORVA_THIRD_PARTY_DIR}\n"
            "by hand to see why (it needs apt-get and access to the Debian mirror).")
    endif()
endif()

# --- PCRE2: 16-bit code units only, Unicode support, no JIT, static -------------------------------------------
set(korva_pcre2_gen ${CMAKE_BINARY_DIR}/_third_party/pcre2-generated)
configure_file(${KORVA_PCRE2_DIR}/src/pcre2.h.generic ${korva_pcre2_gen}/pcre2.h COPYONLY)
configure_file(${KORVA_PCRE2_DIR}/src/config.h.generic ${korva_pcre2_gen}/config.h COPYONLY)
configure_file(${KORVA_PCRE2_DIR}/src/pcre2_chartables.c.dist ${korva_pcre2_gen}/pcre2_chartables.c COPYONLY)

# pcre2_ucptables.c is included by pcre2_tables.c; pcre2_jit_compile.c only supplies stubs without JIT.
set(korva_pcre2_sources
    pcre2_auto_possess.c pcre2_compile.c pcre2_config.c pcre2_context.c pcre2_convert.c pcre2_dfa_match.c
    pcre2_error.c pcre2_extuni.c pcre2_find_bracket.c pcre2_jit_compile.c pcre2_maketables.c pcre2_match.c
    pcre2_match_data.c pcre2_newline.c pcre2_ord2utf.c pcre2_pattern_info.c pcre2_script_run.c
    pcre2_serialize.c pcre2_string_utils.c pcre2_study.c pcre2_substitute.c pcre2_substring.c pcre2_tables.c
    pcre2_ucd.c pcre2_valid_utf.c pcre2_xclass.c)
list(TRANSFORM korva_pcre2_sources PREPEND ${KORVA_PCRE2_DIR}/src/)
add_library(korva_pcre2_static STATIC EXCLUDE_FROM_ALL ${korva_pcre2_sources}
    ${korva_pcre2_gen}/pcre2_chartables.c)
target_include_directories(korva_pcre2_static PRIVATE ${korva_pcre2_gen} ${KORVA_PCRE2_DIR}/src)
target_compile_definitions(korva_pcre2_static PRIVATE
    HAVE_CONFIG_H SUPPORT_PCRE2_16 SUPPORT_UNICODE HAVE_MEMMOVE HAVE_STRERROR HAVE_STDINT_H HAVE_INTTYPES_H
    HAVE_LIMITS_H HAVE_STRING_H HAVE_STDLIB_H PUBLIC PCRE2_STATIC PCRE2_CODE_UNIT_WIDTH=16)
target_compile_options(korva_pcre2_static PRIVATE -w)

add_library(korva_pcre2 INTERFACE)
target_link_libraries(korva_pcre2 INTERFACE korva_pcre2_static)
target_include_directories(korva_pcre2 SYSTEM INTERFACE ${korva_pcre2_gen})

# --- pugixml: default (char, UTF-8) mode, static --------------------------------------------------------------
add_library(korva_pugixml_static STATIC EXCLUDE_FROM_ALL ${KORVA_PUGIXML_DIR}/src/pugixml.cpp)
target_compile_options(korva_pugixml_static PRIVATE -w)

add_library(korva_pugixml INTERFACE)
target_link_libraries(korva_pugixml INTERFACE korva_pugixml_static)
target_include_directories(korva_pugixml SYSTEM INTERFACE ${KORVA_PUGIXML_DIR}/src)

# --- GoogleTest / GoogleMock ------------------------------------------------------------------------------------
if(KORVA_BUILD_TESTS)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_third_party/googletest EXCLUDE_FROM_ALL SYSTEM)

    add_library(korva_gtest INTERFACE)
    target_link_libraries(korva_gtest INTERFACE gmock gtest)
    add_library(korva_gtest_main INTERFACE)
    target_link_libraries(korva_gtest_main INTERFACE gmock gtest gtest_main)
endif()
