# Helpers shared by the folders of the project.

# kovra_library(NAME [DEPS ...]): a static library from every .cc file of the
# calling folder (tests and benchmarks live elsewhere). Headers are included
# by their path from the project root, for example "agent/protocol/i_protocol.h".
function(kovra_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  list(FILTER sources EXCLUDE REGEX "/main\\.cc$")
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    # Headers only, so far.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# kovra_tests(LIBS ...): one GoogleTest program per *_test.cc file of the
# calling folder, linked with the given libraries, the shared fakes of
# tests/support and gmock_main. Extra LABELS are attached to every test.
function(kovra_tests)
  cmake_parse_arguments(ARG "" "" "LIBS;LABELS;RESOURCE_LOCK" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cc)
  file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "_" prefix "${rel}")
  foreach(test_source IN LISTS tests)
    get_filename_component(base ${test_source} NAME_WE)
    set(target ${prefix}_${base})
    add_executable(${target} ${test_source})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} test_support
                          GTest::gmock_main Threads::Threads)
    set(props "")
    if(ARG_LABELS)
      list(APPEND props LABELS "${ARG_LABELS}")
    endif()
    if(ARG_RESOURCE_LOCK)
      list(APPEND props RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
    endif()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60
                         PROPERTIES ${props})
  endforeach()
endfunction()
