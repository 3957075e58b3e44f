# The simulation driver: simulation_manager, its state storage and discovery.
target_sources(tarvex_analytics PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/states_variables.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/simulation_manager.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/simulation_helper.cpp)
tarvex_test(analytics_simulation_tests
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tests/simulation_manager_test.cpp
          ${CMAKE_CURRENT_SOURCE_DIR}/tests/simulation_helper_test.cpp
  LINK tarvex_analytics)
