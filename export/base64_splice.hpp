// Replies that carry files in Base64 (pictures the page asked for, the
// clipboard's bitmap) are mostly Base64 text, which needs no escaping. The
// writer would still run every character of it through its escaping and copy
// it into a growing document. Instead each Base64 text is taken out and a
// short stand-in is laid out in its place; after StyledWriter has written the
// reply, the texts are put where their stand-ins are. The result is byte for
// byte what StyledWriter writes for the reply with the texts in it.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>
#include <vector>

class Base64Splice {
 public:
  // A fresh random tag marks this splice's stand-ins, so that no text from
  // outside (a file name, a text file's content) can pass for one.
  Base64Splice();
  // The same with a given tag: for tests that must forge a stand-in.
  explicit Base64Splice(std::uint64_t tag);

  // Keeps `base64` and returns the value to store in its place: a stand-in,
  // or the empty text itself (which costs the writer nothing). The value
  // must be stored as the value of an object member (not inside an array,
  // whose layout depends on the length of what it holds), and `base64` must
  // be Base64 text (the splice writes it unescaped).
  Json::Value StandIn(std::string base64);

  // Writes `reply` with StyledWriter and puts the kept texts in place of
  // their stand-ins, in one allocation of the final size; each text is
  // released as soon as it is in. Ends the splice: call once.
  // A stand-in that is not in the reply (its entry was replaced) drops its
  // text. Throws std::logic_error when a stand-in is found twice or is
  // malformed (the reply copied a value, or something outside forged one),
  // rather than send a reply with a text in the wrong place.
  std::string Write(const Json::Value& reply);

 private:
  std::string tag_;
  std::vector<std::string> texts_;
};
