# The direction of the includes between the clock, the painter, the subtitle store and
# the subtitle library, run as a test: cmake -DSOURCE_DIR=<checkout> -P include_rules.cmake
#
# tmr/ reaches fb/ only through fb/band.h, which itself includes nothing else of fb/
# or tmr/; fb/ and sub/ include nothing of tmr/. library/ includes nothing of fb/,
# menu/ or rc/: the file menu and the web page both call it, so it neither draws nor
# reads the remote (menu/ includes library/, never the other way). Every line that
# breaks a rule is printed, and the test fails.
file(GLOB files RELATIVE ${SOURCE_DIR}
  ${SOURCE_DIR}/tmr/*.cpp ${SOURCE_DIR}/tmr/*.h
  ${SOURCE_DIR}/fb/*.cpp ${SOURCE_DIR}/fb/*.h
  ${SOURCE_DIR}/sub/*.cpp ${SOURCE_DIR}/sub/*.h
  ${SOURCE_DIR}/library/*.cpp ${SOURCE_DIR}/library/*.h)
list(SORT files)
set(broken 0)
set(checked 0)
foreach(file IN LISTS files)
  file(STRINGS ${SOURCE_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" header "${line}")
    math(EXPR checked "${checked} + 1")
    set(wrong "")
    if(file MATCHES "^tmr/" AND header MATCHES "^fb/" AND NOT header STREQUAL "fb/band.h")
      set(wrong "tmr/ includes fb/ only through fb/band.h")
    elseif(file MATCHES "^(fb|sub)/" AND header MATCHES "^tmr/")
      set(wrong "fb/ and sub/ include nothing of tmr/")
    elseif(file STREQUAL "fb/band.h" AND header MATCHES "^(fb|tmr)/")
      set(wrong "fb/band.h includes nothing else of fb/ or tmr/")
    elseif(file MATCHES "^library/" AND header MATCHES "^(fb|menu|rc)/")
      set(wrong "library/ includes nothing of fb/, menu/ or rc/")
    endif()
    if(wrong)
      message("${file}: #include \"${header}\": ${wrong}")
      math(EXPR broken "${broken} + 1")
    endif()
  endforeach()
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no #include line found under ${SOURCE_DIR}")
endif()
if(broken GREATER 0)
  message(FATAL_ERROR "${broken} include(s) against the direction between the folders")
endif()
message("${checked} includes of tmr/, fb/, sub/ and library/ checked")
