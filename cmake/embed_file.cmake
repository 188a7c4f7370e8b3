# Writes a C++ source whose function FUNCTION (in namespace NAMESPACE) returns the bytes of INPUT
# as a std::string_view. Run as: cmake -DINPUT=... -DOUTPUT=... -DNAMESPACE=... -DFUNCTION=...
#   -DHEADER=... -P embed_file.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
string(REGEX REPLACE "(('[^']*',){16})" "\\1\n    " bytes "${bytes}")
math(EXPR size "${hex_length} / 2")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} at build time.
#include \"${HEADER}\"

namespace ${NAMESPACE} {
namespace {
const char EmbeddedBytes[${size} + 1] = {
    ${bytes}'\\0'};
} // namespace

std::string_view ${FUNCTION}()
{
    return std::string_view(EmbeddedBytes, ${size});
}

} // namespace ${NAMESPACE}
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
