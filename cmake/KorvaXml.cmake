# korva_xml: the DOM the policy engine reads documents through (policy/xml_dom.h), over pugixml on both builds.
# Defined here rather than in policy/CMakeLists.txt so that the engine's own target list stays its own.
add_library(korva_xml STATIC ${PROJECT_SOURCE_DIR}/policy/xml_dom.cpp)
target_link_libraries(korva_xml PUBLIC korva_options korva_platform PRIVATE korva_pugixml)
