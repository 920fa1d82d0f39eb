#include "export/json_text.hpp"

std::string StyledJson(const Json::Value& value) {
  Json::StyledWriter writer;
  return writer.write(value);
}
