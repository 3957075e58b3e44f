# tarvex_library(NAME target EXPORT_NAME name SOURCES ... LINK ...)
# One shared library per folder; headers are included as "Core/check.h" etc. from Library/.
function(tarvex_library target)
  cmake_parse_arguments(A "" "EXPORT_NAME" "SOURCES;PUBLIC_LINK;PRIVATE_LINK" ${ARGN})
  add_library(${target} ${A_SOURCES})
  add_library(tarvex::${A_EXPORT_NAME} ALIAS ${target})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${A_EXPORT_NAME} OUTPUT_NAME ${target})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/Library>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/tarvex>)
  target_link_libraries(${target} PUBLIC ${A_PUBLIC_LINK} PRIVATE ${A_PRIVATE_LINK})
  tarvex_warnings(${target})
  install(TARGETS ${target} EXPORT tarvexTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarvex/${folder}
    FILES_MATCHING PATTERN "*.h" PATTERN "tests" EXCLUDE)
endfunction()

function(tarvex_warnings target)
  # -Wrestrict is off: GCC 12 reports false overlaps inside std::string at -O3 (GCC bug 105651).
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
  if(TARVEX_SANITIZE)
    target_compile_options(${target} PUBLIC -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
endfunction()

# tarvex_test(name SOURCES ... LINK ...): one GoogleTest executable, registered test by test.
function(tarvex_test name)
  if(NOT TARVEX_TESTS)
    return()
  endif()
  cmake_parse_arguments(A "" "" "SOURCES;LINK" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  # Test files each keep their own small helpers (d(), eps) in anonymous namespaces,
  # which one unity source would merge; the sanitizer presets unity-build the libraries.
  set_target_properties(${name} PROPERTIES UNITY_BUILD OFF)
  target_link_libraries(${name} PRIVATE ${A_LINK} GTest::gtest GTest::gtest_main)
  tarvex_warnings(${name})
  gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} DISCOVERY_TIMEOUT 60)
endfunction()
