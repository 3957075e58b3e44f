# The diffusion identifiers (diffusion/*/id/), with the measure key and the identifier
# encodings of foundations/ tested beside them.
target_sources(tarvex_analytics PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/ir/id/diffusion_ir_id.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/credit/id/diffusion_credit_id.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/equity/id/diffusion_equity_id.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/fx/id/diffusion_fx_id.cpp)
tarvex_test(analytics_ids_tests
  SOURCES tests/diffusion_ids_test.cpp
          ../change_of_measure/tests/measures_test.cpp
          ../foundations/tests/serialization_objects_test.cpp
  LINK tarvex_analytics)
