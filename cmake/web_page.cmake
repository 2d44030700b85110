# The phone page (web/page.html) as a library of its own: the web server links
# lumetra_web_page and serves web_page_html() (web/page.h). The page is turned into a
# byte array at build time, so an edit of the page rebuilds only this.
set(LUMETRA_PAGE_SOURCE ${CMAKE_BINARY_DIR}/generated/web_page.cpp)
add_custom_command(OUTPUT ${LUMETRA_PAGE_SOURCE}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_SOURCE_DIR}/web/page.html
    -DOUTPUT=${LUMETRA_PAGE_SOURCE} -P ${CMAKE_SOURCE_DIR}/cmake/embed_page.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/web/page.html ${CMAKE_SOURCE_DIR}/cmake/embed_page.cmake
  COMMENT "Embedding web/page.html")
add_library(lumetra_web_page STATIC ${LUMETRA_PAGE_SOURCE})
target_include_directories(lumetra_web_page PUBLIC ${CMAKE_SOURCE_DIR})

if(LUMETRA_TESTS)
  if(TARGET test_web_page)
    target_link_libraries(test_web_page PRIVATE lumetra_web_page)
  endif()
  # The page in headless Chromium against the simulator; skipped (77) where no browser
  # is. Not in cross builds: the page is the same, and the simulator would run emulated.
  if(TARGET lumetra-sim AND NOT CMAKE_CROSSCOMPILING)
    add_test(NAME browser_page COMMAND bash ${CMAKE_SOURCE_DIR}/tests/browser/run.sh
      $<TARGET_FILE_DIR:lumetra-sim>)
    set_tests_properties(browser_page PROPERTIES LABELS browser TIMEOUT 120
      SKIP_RETURN_CODE 77 ENVIRONMENT "LUMETRA_BROWSER_OUT=${CMAKE_SOURCE_DIR}/out")
  endif()
endif()
