# qzr_layer(NAME <target> DIR <folder> [SUBDIRS <folders...>] [DEPS <targets...>]
#           [LIBS <libs...>])
#
# Declares one layer: a static library made of every *.cc in the folder and
# in the listed subfolders (other subfolders excluded, as are *_test.cc and
# *_fuzz.cc files), and a
# GoogleTest binary <target>_tests made of the folder's *_test.cc files,
# linked against this layer and the layers below it only.
function(qzr_layer)
  cmake_parse_arguments(L "" "NAME;DIR" "SUBDIRS;DEPS;LIBS" ${ARGN})
  set(globs ${CMAKE_SOURCE_DIR}/${L_DIR}/*.cc)
  foreach(sub ${L_SUBDIRS})
    list(APPEND globs ${CMAKE_SOURCE_DIR}/${L_DIR}/${sub}/*.cc)
  endforeach()
  file(GLOB all_sources CONFIGURE_DEPENDS ${globs})
  set(lib_sources)
  set(test_sources)
  set(fuzz_sources)
  foreach(src ${all_sources})
    if(src MATCHES "_test\\.cc$")
      if(QZR_TEST_ONLY STREQUAL "" OR src MATCHES "${QZR_TEST_ONLY}")
        list(APPEND test_sources ${src})
      endif()
    elseif(src MATCHES "_fuzz\\.cc$")
      list(APPEND fuzz_sources ${src})
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
  # Each *_fuzz.cc defines LLVMFuzzerTestOneInput. With QZR_FUZZ (clang) it
  # becomes a libFuzzer binary; in the test build it is linked with a replay
  # driver that runs the kept inputs under fuzz_corpus/<name>/ (beside the
  # fuzz target's source) and a short
  # burst of generated ones, as a CTest.
  foreach(src ${fuzz_sources})
    get_filename_component(fname ${src} NAME_WE)
    get_filename_component(fdir ${src} DIRECTORY)
    set(corpus ${fdir}/fuzz_corpus/${fname})
    if(QZR_FUZZ)
      add_executable(${fname} ${src})
      target_compile_options(${fname} PRIVATE -fsanitize=fuzzer)
      target_link_options(${fname} PRIVATE -fsanitize=fuzzer)
      target_link_libraries(${fname} PRIVATE ${L_NAME} qzr_test_main_nogtest)
    elseif(QZR_TESTS)
      add_executable(${fname}_replay ${src} ${CMAKE_SOURCE_DIR}/testing/fuzz_replay_main.cc)
      target_link_libraries(${fname}_replay PRIVATE ${L_NAME} qzr_test_main_nogtest)
      add_test(NAME ${fname}_replay COMMAND ${fname}_replay ${corpus})
      set_tests_properties(${fname}_replay PROPERTIES LABELS "${L_NAME};fuzz")
    endif()
  endforeach()
endfunction()
