# qzr_layer(NAME <target> DIR <folder> [DEPS <targets...>] [LIBS <libs...>])
#
# Declares one layer: a static library made of every *.cc in the folder
# (subfolders excluded, as are *_test.cc and *_fuzz.cc files), and a
# GoogleTest binary <target>_tests made of the folder's *_test.cc files,
# linked against this layer and the layers below it only.
function(qzr_layer)
  cmake_parse_arguments(L "" "NAME;DIR" "DEPS;LIBS" ${ARGN})
  file(GLOB all_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${L_DIR}/*.cc)
  set(lib_sources)
  set(test_sources)
  foreach(src ${all_sources})
    if(src MATCHES "_test\\.cc$")
      if(QZR_TEST_ONLY STREQUAL "" OR src MATCHES "${QZR_TEST_ONLY}")
        list(APPEND test_sources ${src})
      endif()
    elseif(src MATCHES "_fuzz\\.cc$")
    else()
      list(APPEND lib_sources ${src})
    endif()
  endforeach()
  if(lib_sources)
    add_library(${L_NAME} STATIC ${lib_sources})
    target_link_libraries(${L_NAME} PUBLIC ${L_DEPS} ${L_LIBS} Threads::Threads)
  else()
    add_library(${L_NAME} INTERFACE)
    target_link_libraries(${L_NAME} INTERFACE ${L_DEPS} ${L_LIBS})
  endif()
  if(QZR_TESTS AND test_sources)
    add_executable(${L_NAME}_tests ${test_sources})
    target_link_libraries(${L_NAME}_tests PRIVATE ${L_NAME} qzr_test_main GTest::gmock)
    gtest_discover_tests(${L_NAME}_tests
                         WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
                         DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS ${L_NAME})
  endif()
endfunction()

# qzr_fuzzer(<name> <source> <deps...>): a libFuzzer target, built only with
# QZR_FUZZ=ON and clang.
function(qzr_fuzzer name source)
  if(QZR_FUZZ)
    add_executable(${name} ${source})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${ARGN})
  endif()
endfunction()
