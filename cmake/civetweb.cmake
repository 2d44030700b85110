# civetweb, the web server of the box's page, compiled from Debian's source package
# (scripts/civetweb-source.sh) into a static library: Debian ships it only as a shared
# library, and the box binary is static. Every optional part is left out: no file serving
# or directory listing, no CGI, no TLS, no caching, no Lua, no Duktape, no websockets, no
# IPv6 listener (the server answers every request itself, from civetweb's begin_request,
# and never calls its form handler). It is not our code: it builds with its own flags and
# no warnings.
#
# Include with LUMETRA_ROOT set to the repository; defines lumetra_civetweb.

set(LUMETRA_CIVETWEB_DIR "${LUMETRA_ROOT}/.deps/civetweb" CACHE PATH
  "civetweb's source (Debian's source package, unpacked)")
if(NOT EXISTS "${LUMETRA_CIVETWEB_DIR}/src/civetweb.c")
  message(STATUS "Fetching civetweb's source into ${LUMETRA_CIVETWEB_DIR}")
  execute_process(
    COMMAND bash "${LUMETRA_ROOT}/scripts/civetweb-source.sh" "${LUMETRA_CIVETWEB_DIR}"
    RESULT_VARIABLE _civetweb_result)
  if(NOT _civetweb_result EQUAL 0 OR NOT EXISTS "${LUMETRA_CIVETWEB_DIR}/src/civetweb.c")
    message(FATAL_ERROR "civetweb's source is missing: run scripts/civetweb-source.sh")
  endif()
endif()

add_library(lumetra_civetweb STATIC "${LUMETRA_ROOT}/web/civetweb_build.c")
target_include_directories(lumetra_civetweb PRIVATE "${LUMETRA_CIVETWEB_DIR}/src")
target_include_directories(lumetra_civetweb SYSTEM PUBLIC "${LUMETRA_CIVETWEB_DIR}/include")
target_compile_definitions(lumetra_civetweb PRIVATE
  NO_CGI NO_FILES NO_SSL NO_CACHING NO_POPEN NDEBUG
  # gmtime_r for the Date header: plain gmtime's shared result raced between its threads.
  REENTRANT_TIME
  # Its threads look at the stop flag this often (ms): web_stop returns within it.
  SOCKET_TIMEOUT_QUANTUM=200)
# Small rather than fast (a page a second is its load), and each function in a section of
# its own, so that the box's static link drops the many civetweb never reaches here.
target_compile_options(lumetra_civetweb PRIVATE -w -Os -ffunction-sections -fdata-sections)
# Sanitized builds check it for memory errors only: its own races and undefined
# behaviour, if any, are civetweb's to find, and would stop every test of the page.
if(LUMETRA_SANITIZE)
  target_compile_options(lumetra_civetweb PRIVATE -fno-sanitize=undefined -fno-sanitize=thread)
endif()
set_target_properties(lumetra_civetweb PROPERTIES C_STANDARD 99 C_EXTENSIONS ON
  POSITION_INDEPENDENT_CODE ON)
find_package(Threads REQUIRED)
target_link_libraries(lumetra_civetweb PUBLIC Threads::Threads)
