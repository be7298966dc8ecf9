# Turns a binary file into a C++ source that defines its bytes, so the
# program carries the file inside its executable.
#
#   cmake -DINPUT=file -DOUTPUT=file.cc -DSYMBOL=name -DNAMESPACE=ns -P embed_file.cmake
#
# The source defines `const unsigned char SYMBOL[]` and
# `const std::size_t SYMBOLSize` in namespace NAMESPACE.
foreach(var INPUT OUTPUT SYMBOL NAMESPACE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "embed_file.cmake: ${var} is not set")
  endif()
endforeach()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
# Sixteen bytes a line keeps the generated file readable in a diff tool.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n  " bytes "${bytes}")

file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} by embed_file.cmake; do not edit.
#include <cstddef>

namespace ${NAMESPACE} {

extern const unsigned char ${SYMBOL}[];
extern const std::size_t ${SYMBOL}Size;

alignas(16) const unsigned char ${SYMBOL}[] = {
  ${bytes}
};
const std::size_t ${SYMBOL}Size = ${size};

}  // namespace ${NAMESPACE}
")
# Only a changed picture touches the output, so nothing relinks needlessly.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
