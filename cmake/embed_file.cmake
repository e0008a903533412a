# Turns a file into a C++ source that defines a byte array and a span over it, so data files are
# kept in the repository as what they are (a picture) and not as generated numbers.
#   cmake -DINPUT=file -DOUTPUT=out.cpp -DHEADER=dir/name.h -DNAMESPACE=a::b -DSYMBOL=name
#         -P embed_file.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes a line keeps the generated file readable in a debugger.
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
get_filename_component(source_name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
"// Generated at build time from ${source_name}; edit that file, not this one.
#include \"${HEADER}\"

namespace ${NAMESPACE} {

namespace {
const std::uint8_t bytes[${size}] = {
    ${bytes}
};
} // namespace

const std::span<const std::uint8_t> ${SYMBOL}(bytes, ${size});

} // namespace ${NAMESPACE}
")
# Only a changed file is replaced, so an unchanged picture rebuilds nothing.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
