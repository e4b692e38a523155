# Third-party libraries. Linux takes Debian's packages; the Windows cross build takes sources that
# scripts/fetch-third-party.sh downloads as Debian source packages into the build tree.
if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/KorvaThirdPartyWindows.cmake)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(PCRE2_16 REQUIRED IMPORTED_TARGET libpcre2-16)
    add_library(korva_pcre2 INTERFACE)
    target_link_libraries(korva_pcre2 INTERFACE PkgConfig::PCRE2_16)
    target_compile_definitions(korva_pcre2 INTERFACE PCRE2_CODE_UNIT_WIDTH=16)

    find_package(pugixml REQUIRED)
    add_library(korva_pugixml INTERFACE)
    target_link_libraries(korva_pugixml INTERFACE pugixml::pugixml)

    if(KORVA_BUILD_TESTS)
        find_package(GTest REQUIRED)
        add_library(korva_gtest INTERFACE)
        target_link_libraries(korva_gtest INTERFACE GTest::gmock GTest::gtest)
        add_library(korva_gtest_main INTERFACE)
        target_link_libraries(korva_gtest_main INTERFACE GTest::gmock GTest::gtest GTest::gtest_main)
    endif()
    find_package(benchmark QUIET)
endif()
