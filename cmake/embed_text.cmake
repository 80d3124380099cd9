# Writes a text file as a C++ string literal, for #include inside an
# initializer:   static const char kText[] =
#                #include "name.inc"
#                ;
# Run at build time:  cmake -DIN=<file> -DOUT=<file.inc> -P embed_text.cmake
# The file goes into a raw string literal unchanged; the build stops if the
# text contains the literal's closing delimiter.
if(NOT IN OR NOT OUT)
  message(FATAL_ERROR "embed_text.cmake: IN and OUT are required")
endif()
file(READ "${IN}" text)
set(delim "vorta_embed")
string(FIND "${text}" ")${delim}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "embed_text.cmake: ${IN} contains the closing delimiter )${delim}\"")
endif()
set(content "// Generated from ${IN}; edit that file instead.\nR\"${delim}(${text})${delim}\"\n")
# Rewritten only when the text changed, so that an unchanged file does not
# rebuild what includes it.
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
  if(old STREQUAL content)
    return()
  endif()
endif()
file(WRITE "${OUT}" "${content}")
