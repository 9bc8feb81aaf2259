# cmake -DINPUT=file -DOUTPUT=file.cc -P EmbedText.cmake
# Writes a C++ file that defines kStatusPage and kStatusPageSize with the
# input's bytes, as one raw string literal.
file(READ ${INPUT} content)
set(delimiter "kovra_embed")
string(FIND "${content}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} holds the literal's delimiter")
endif()
file(WRITE ${OUTPUT}
  "// Generated from ${INPUT}; do not edit.\n"
  "#include \"service/http/status_page.h\"\n\n"
  "const char kStatusPage[] = R\"${delimiter}(${content})${delimiter}\";\n"
  "const size_t kStatusPageSize = sizeof(kStatusPage) - 1;\n")
