// Replies that carry files in Base64 (pictures the page asked for, the
// clipboard's bitmap) are mostly Base64 text, which needs no escaping. The
// writer would still run every character of it through its escaping and copy
// it into a growing document. Instead each Base64 text is taken out and a
// short stand-in is laid out in its place; after StyledWriter has written the
// reply, the stand-ins are cut out and the texts go in their places, a file's
// only while the reply is sent (ReplyBody). The result is byte for byte what
// StyledWriter writes for the reply with the texts in it.
//
// The splice also keeps the reply's share of the reply text budget: texts
// the reply will carry are charged before they go into it.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "export/reply_body.hpp"
#include "export/reply_budget.hpp"

class Base64Splice {
 public:
  // A fresh random tag marks this splice's stand-ins, so that no text from
  // outside (a file name, a text file's content) can pass for one. `files`
  // says whether files are held open until the reply has been sent (the
  // replies after which the files are deleted) or opened again then.
  explicit Base64Splice(Base64File::Keep files = Base64File::Keep::kReopen);
  // The same with a given tag: for tests that must forge a stand-in.
  explicit Base64Splice(std::uint64_t tag, Base64File::Keep files = Base64File::Keep::kReopen);

  // Keeps `base64` (charged to the reply) and returns the value to store in
  // its place: a stand-in, or the empty text itself (which costs the writer
  // nothing). Every value returned here must be stored as the value of an
  // object member (not inside an array, whose layout depends on the length
  // of what it holds), and `base64` must be Base64 text (the splice writes
  // it unescaped).
  Json::Value StandIn(std::string base64);

  // The same for the Base64 text of the file at `path`, read when the reply
  // is sent: a stand-in, or the empty text for an empty file or one that
  // cannot be read; `readable` (when given) tells the two apart. A file to
  // be held that cannot be (too many are held) is read now and charged.
  Json::Value StandInFile(const std::string& path, bool* readable = nullptr);

  // Charges `text`, as the writer will write it, to the reply before it goes
  // into it. Throws ReplyBudgetExceeded when the replies would hold too much.
  void ChargeText(std::string_view text);

  // Writes `reply` with StyledWriter and lays the body out: the texts in
  // place of their stand-ins. Ends the splice: call once. A stand-in that is
  // not in the reply (its entry was replaced) drops its text. Throws
  // std::logic_error when a stand-in is found twice or is malformed (the
  // reply copied a value, or something outside forged one), rather than
  // send a reply with a text in the wrong place; ReplyBudgetExceeded when the
  // laid-out text does not fit the budget.
  ReplyBody Lay(const Json::Value& reply);

  // Lay, then the whole body as text. Throws std::runtime_error when a file
  // changed in the meantime.
  std::string Write(const Json::Value& reply);

 private:
  std::string tag_;
  Base64File::Keep keep_;
  // Indexed by stand-in number; `at` is set by Lay.
  std::vector<ReplyBody::Insert> inserts_;
  ReplyTextHold hold_;
};
