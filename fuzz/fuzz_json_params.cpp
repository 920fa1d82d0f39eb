// The request parameters: a POST body through the JSON reader and its shape
// check, and the same bytes as a query string through the dotted keys.
// Whatever the bytes, the reader either gives a tree or throws a standard
// exception (answered 400), never anything else.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "endpoints/request_trees.hpp"
#include "fuzz/fuzz_support.hpp"
#include "http/parse.hpp"

namespace {

std::size_t Depth(const RequestTree& tree, std::size_t depth = 0) {
  std::size_t deepest = depth;
  for (const auto& child : tree) {
    const std::size_t below = Depth(child.second, depth + 1);
    if (below > deepest) deepest = below;
  }
  return deepest;
}

std::size_t Count(const RequestTree& tree) {
  std::size_t count = 1;
  for (const auto& child : tree) count += Count(child.second);
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    const RequestTree params = ParamsFromJson(bytes);
    // What the shape check lets through is as shallow and small as it says.
    FUZZ_EXPECT(Depth(params) <= kMaxParamDepth);
    FUZZ_EXPECT(Count(params) <= kMaxParamValues + 1);
    ReadParam(params, "action");
    ReadParam(params, "file_list");
  } catch (const std::exception&) {
  }
  try {
    const RequestTree params = ParamsFromQuery(HttpCore::parse_query(std::string(bytes)));
    FUZZ_EXPECT(Depth(params) <= kMaxParamDepth);
    ReadParam(params, "action");
  } catch (const std::exception&) {
  }
  return 0;
}
