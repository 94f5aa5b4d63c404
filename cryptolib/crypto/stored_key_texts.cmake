cmake_minimum_required(VERSION 3.25)
# Makes the header of the stored key texts from stored_key_texts.txt:
#   cmake -DINPUT=stored_key_texts.txt -DOUTPUT=<header> -P stored_key_texts.cmake
# Fails unless the file holds storedKeyText1 and storedKeyText2, once each,
# in the base64 alphabet (their exact form is key_texts_tool's check).
file(STRINGS "${INPUT}" lines)
set(names "")
set(constants "")
foreach(line IN LISTS lines)
  if(line MATCHES "^#" OR line STREQUAL "")
    continue()
  endif()
  if(NOT line MATCHES "^(storedKeyText[12]) ([A-Za-z0-9+/]+=*)$")
    message(FATAL_ERROR "${INPUT}: not a key text line: '${line}'")
  endif()
  if(CMAKE_MATCH_1 IN_LIST names)
    message(FATAL_ERROR "${INPUT}: ${CMAKE_MATCH_1} twice")
  endif()
  list(APPEND names ${CMAKE_MATCH_1})
  string(APPEND constants "inline constexpr char ${CMAKE_MATCH_1}[] = \"${CMAKE_MATCH_2}\";\n")
endforeach()
list(SORT names)
if(NOT names STREQUAL "storedKeyText1;storedKeyText2")
  message(FATAL_ERROR "${INPUT}: wants storedKeyText1 and storedKeyText2, has '${names}'")
endif()
file(WRITE "${OUTPUT}.new"
  "// Made by stored_key_texts.cmake from stored_key_texts.txt: change that file, not this one.\n"
  "#pragma once\n\n"
  "namespace quillon::crypto::data {\n\n"
  "${constants}\n"
  "} // namespace quillon::crypto::data\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
