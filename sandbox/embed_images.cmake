# Writes OUTPUT, a C++ source that holds every file given in FILES
# (separated by "|") as a byte array, with a lookup by file name.
string(REPLACE "|" ";" files "${FILES}")
set(arrays "")
set(entries "")
set(index 0)
foreach(file IN LISTS files)
  get_filename_component(name "${file}" NAME)
  file(READ "${file}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){20})" "\\1\n    " bytes "${bytes}")
  string(APPEND arrays "const unsigned char file_${index}[] = {\n    ${bytes}\n};\n")
  string(APPEND entries "      {\"${name}\", as_view(file_${index}, sizeof file_${index})},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}" "// Generated from sandbox/images by embed_images.cmake; do not edit.
#include \"embedded_images.hpp\"

#include <map>

namespace lumivane::sandbox {
namespace {

std::string_view as_view(const unsigned char* bytes, std::size_t size) {
  return {reinterpret_cast<const char*>(bytes), size};
}

${arrays}
}  // namespace

std::optional<std::string_view> embedded_image(std::string_view name) {
  static const std::map<std::string_view, std::string_view> images = {
${entries}  };
  const auto found = images.find(name);
  if (found == images.end()) return std::nullopt;
  return found->second;
}

}  // namespace lumivane::sandbox
")
