# Makes the header that carries the page of "-html" into the program: the page's template with
# its style and script put in, split where the tree's data goes. Run by the build as
#   cmake -DPAGE_DIR=report/page -DOUTPUT=.../page_assets.h -P cmake/embed_page.cmake
# The page's policy allows exactly this style and this script, by their SHA-256 digests, which
# are computed here from the very bytes the header holds.

foreach(name treemap.html treemap.css treemap.js)
  if(NOT EXISTS ${PAGE_DIR}/${name})
    message(FATAL_ERROR "page file missing: ${PAGE_DIR}/${name}")
  endif()
endforeach()
file(READ ${PAGE_DIR}/treemap.html page)
file(READ ${PAGE_DIR}/treemap.css style)
file(READ ${PAGE_DIR}/treemap.js script)

# Base64 of a digest given in hexadecimal, as a policy's hash source wants it.
function(hex_to_base64 hex out)
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  string(LENGTH "${hex}" length)
  set(result "")
  set(at 0)
  while(at LESS length)
    math(EXPR left "${length} - ${at}")
    if(left GREATER 6)
      set(left 6)
    endif()
    string(SUBSTRING "${hex}" ${at} ${left} group)
    # A short last group is filled with zero bits to three bytes; its missing bytes become "=".
    math(EXPR bytes "${left} / 2")
    math(EXPR fill "6 - ${left}")
    string(REPEAT "0" ${fill} zeros)
    math(EXPR value "0x${group}${zeros}")
    math(EXPR chars "${bytes} + 1")
    foreach(k 0 1 2 3)
      if(k LESS chars)
        math(EXPR index "(${value} >> (18 - 6 * ${k})) & 63")
        string(SUBSTRING "${alphabet}" ${index} 1 c)
        string(APPEND result "${c}")
      else()
        string(APPEND result "=")
      endif()
    endforeach()
    math(EXPR at "${at} + 6")
  endwhile()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

string(SHA256 style_hex "${style}")
string(SHA256 script_hex "${script}")
hex_to_base64(${style_hex} style_hash)
hex_to_base64(${script_hex} script_hash)

foreach(marker @STYLE@ @SCRIPT@ @DATA@ @STYLE_HASH@ @SCRIPT_HASH@)
  string(FIND "${page}" "${marker}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "treemap.html has no ${marker}")
  endif()
endforeach()
string(REPLACE "@STYLE_HASH@" "sha256-${style_hash}" page "${page}")
string(REPLACE "@SCRIPT_HASH@" "sha256-${script_hash}" page "${page}")
string(REPLACE "@STYLE@" "${style}" page "${page}")
string(REPLACE "@SCRIPT@" "${script}" page "${page}")

string(FIND "${page}" "@DATA@" split)
string(SUBSTRING "${page}" 0 ${split} head)
math(EXPR after "${split} + 6")
string(SUBSTRING "${page}" ${after} -1 tail)

string(FIND "${page}" ")page\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "the page holds the raw string's delimiter )page\"")
endif()

set(text "// Made by cmake/embed_page.cmake from report/page/treemap.{html,css,js}: do not edit.
#pragma once

// The page of -html up to the tree's data, and after it.
static const char PageHead[] = R\"page(${head})page\";
static const char PageTail[] = R\"page(${tail})page\";
")
# Written only when it changes, so that an unchanged page compiles nothing again.
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} before)
endif()
if(NOT "${before}" STREQUAL "${text}")
  file(WRITE ${OUTPUT} "${text}")
endif()
