# The phone page (web/page.html) built into the player: web_page_html() (web/page.h),
# which the web server serves, comes from a source generated at build time, a byte
# array of the page, compiled with the player's own sources. Included by the main
# build (after its targets) and by the fuzz build, which both compile web/server.cpp.
if(NOT DEFINED LUMETRA_ROOT)
  set(LUMETRA_ROOT ${CMAKE_SOURCE_DIR})
endif()
set(LUMETRA_PAGE_SOURCE ${CMAKE_BINARY_DIR}/generated/web_page.cpp)
add_custom_command(OUTPUT ${LUMETRA_PAGE_SOURCE}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${LUMETRA_ROOT}/web/page.html
    -DOUTPUT=${LUMETRA_PAGE_SOURCE} -P ${LUMETRA_ROOT}/cmake/embed_page.cmake
  DEPENDS ${LUMETRA_ROOT}/web/page.html ${LUMETRA_ROOT}/cmake/embed_page.cmake
  COMMENT "Embedding web/page.html")
foreach(player lumetra_player fuzz_player)
  if(TARGET ${player})
    target_sources(${player} PRIVATE ${LUMETRA_PAGE_SOURCE})
  endif()
endforeach()

# The page in headless Chromium against the simulator; skipped (77) where no browser
# is. In the plain host build only: the page is the same in the others, a cross build's
# simulator would run emulated, and the server's own tests run under the sanitizers.
if(LUMETRA_TESTS AND TARGET lumetra-sim AND NOT CMAKE_CROSSCOMPILING AND NOT LUMETRA_SANITIZE)
  add_test(NAME browser_page COMMAND bash ${LUMETRA_ROOT}/tests/browser/run.sh
    $<TARGET_FILE_DIR:lumetra-sim>)
  set_tests_properties(browser_page PROPERTIES LABELS browser TIMEOUT 120
    SKIP_RETURN_CODE 77 ENVIRONMENT "LUMETRA_BROWSER_OUT=${LUMETRA_ROOT}/out")
endif()
