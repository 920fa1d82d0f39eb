// Replies of the endpoint front on the wire: a real server on a loopback
// port, raw requests in, every byte of the reply checked.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/post.hpp>
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>
#include <json/json.h>

#include "base/base64.hpp"
#include "base/json_text.hpp"
#include "desktop/font_list.hpp"
#include "endpoints/endpoint_front.hpp"
#include "export/export_paths.hpp"
#include "export/reply_budget.hpp"
#include "http/server.hpp"
#include "office/deskrelay_dlg.hpp"
#include "platform/automation.hpp"
#include "platform/codepage.hpp"
#include "platform/testing/fake_fonts.hpp"
#include "platform/testing/fake_office_version.hpp"

namespace fs = std::filesystem;

namespace {

// fontconfig keeps its configuration until FcFini; release it once every
// test has run, so that the leak checker sees only leaks of our own.
class FontconfigRelease : public ::testing::Environment {
 public:
  void TearDown() override { FcFini(); }
};
const ::testing::Environment* const kFontconfigRelease =
    ::testing::AddGlobalTestEnvironment(new FontconfigRelease);

const char kHtml[] = "text/html; charset=utf-8";

// Template A as the page receives it, filled by hand.
std::string TemplateA(std::size_t length, const std::string& type, const std::string& origin) {
  return "Content-Length: " + std::to_string(length) + "\r\nContent-Type: " + type +
         "\r\nAccess-Control-Allow-Credentials: true\r\nAccess-Control-Allow-Origin: " + origin +
         "\r\nAccess-Control-Allow-Headers: Origin,Accept,X-Requested-With,Content-Type,"
         "Access-Control-Request-Method,Access-Control-Request-Headers,Authorization\r\n"
         "Access-Control-Allow-Methods: GET,POST,OPTIONS,HEAD\r\nConnection: close\r\n";
}

std::string Ok(const std::string& body, const std::string& origin = "null",
               const std::string& type = kHtml) {
  return "HTTP/1.1 200 OK\r\n" + TemplateA(body.size(), type, origin) + "\r\n" + body;
}

std::string BadRequest(const std::string& text) {
  return "HTTP/1.1 400 Bad Request\r\nContent-Length: " + std::to_string(text.size()) + "\r\n\r\n" +
         text;
}

// The body of a reply, for the tests that look into the JSON.
std::string BodyOf(const std::string& reply) {
  auto end = reply.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

Json::Value JsonOf(const std::string& reply) {
  Json::Value v;
  Json::Reader reader;
  EXPECT_TRUE(reader.parse(BodyOf(reply), v)) << reply;
  return v;
}

std::string Percent(const std::string& s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '-') {
      out.push_back(static_cast<char>(c));
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

class ThrowingFonts : public platform::FontCollection {
 public:
  explicit ThrowingFonts(int kind) : kind_(kind) {}
  std::optional<std::vector<std::u16string>> InstalledFamilies() const override {
    if (kind_ == 0) throw Automation::AutomationException(0x80020009, "Word is gone");
    if (kind_ == 1) throw std::runtime_error("bad font");
    throw 42;
  }

 private:
  int kind_;
};

class EndpointServer : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/dl_endpoints_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    home_ = tmpl;
    fs::create_directory(home_ / "run");
    ::chmod((home_ / "run").c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", (home_ / "run").c_str(), 1);
    ::setenv("HOME", home_.c_str(), 1);
    ::setenv("LC_ALL", "C.UTF-8", 1);
    std::string reason;
    ASSERT_TRUE(InitExportPaths(&reason)) << reason;
    root_ = ExportRootUtf8();
    support_ = SupportFolderPathUtf8();
    fs::create_directories(support_);

    platform::OfficeVersion::SetForTesting(std::make_unique<platform::FakeOfficeVersion>(
        platform::FakeOfficeVersion::Present(u"Word.Application.16")));

    server_ = std::make_unique<HttpCore::Server>(0);
    server_->settings.bind_address = "127.0.0.1";
    server_->default_handlers["GET"] = OnGetRequest;
    server_->default_handlers["POST"] = OnPostRequest;
    server_->default_handlers["OPTIONS"] = OnOptionsRequest;
    server_->error_hook = [](std::shared_ptr<HttpCore::ServerBase::Request>,
                             const boost::system::error_code&) {};
    port_ = server_->bind_listener();
    thread_ = std::thread([this] { server_->listen_and_run(); });
  }

  void TearDown() override {
    if (server_) {
      boost::asio::post(*server_->event_loop, [this] { server_->stop(); });
      if (thread_.joinable()) thread_.join();
    }
    platform::OfficeVersion::SetForTesting(nullptr);
    platform::FontCollection::SetForTesting(nullptr);
    ::unsetenv("LC_ALL");
    std::error_code ec;
    fs::remove_all(home_, ec);
  }

  // Sends `raw` and reads until the server closes the connection.
  std::string Exchange(const std::string& raw) { return Exchange(std::vector<std::string>{raw}); }

  // On one connection: sends each of `requests` once the replies to those
  // before have come up to their empty lines (bodiless replies, then), and
  // reads until the close.
  std::string Exchange(const std::vector<std::string>& requests) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port_);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // The server thread may not be listening yet on the first request.
    int fd = -1;
    for (int attempt = 0; attempt < 200; ++attempt) {
      fd = ::socket(AF_INET, SOCK_STREAM, 0);
      if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) break;
      ::close(fd);
      fd = -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (fd < 0) {
      ADD_FAILURE() << "cannot connect to the server";
      return {};
    }
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string reply;
    char buf[65536];
    for (std::size_t i = 0; i < requests.size(); ++i) {
      const std::string& raw = requests[i];
      std::size_t sent = 0;
      while (sent < raw.size()) {
        ssize_t n = ::send(fd, raw.data() + sent, raw.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      const bool last = i + 1 == requests.size();
      for (;;) {
        if (!last && CountHeads(reply) > i) break;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        reply.append(buf, static_cast<std::size_t>(n));
      }
    }
    ::close(fd);
    return reply;
  }

  static std::size_t CountHeads(const std::string& text) {
    std::size_t count = 0;
    for (std::size_t at = text.find("\r\n\r\n"); at != std::string::npos; at = text.find("\r\n\r\n", at + 4)) {
      ++count;
    }
    return count;
  }

  std::string Get(const std::string& target, const std::string& extra_headers = "") {
    return Exchange("GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" + extra_headers +
                    "Connection: close\r\n\r\n");
  }

  std::string Post(const std::string& target, const std::string& body,
                   const std::string& extra_headers = "") {
    return Exchange("POST " + target + " HTTP/1.1\r\nHost: localhost\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\n" + extra_headers +
                    "Connection: close\r\n\r\n" + body);
  }

  void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  std::string VersionJson(const std::string& word_version) {
    return "{\n   \"product_name\" : \"PLUMETO_HTTP\",\n   \"product_version\" : \"1.0.0\",\n"
           "   \"success\" : true,\n   \"system_codepage\" : " +
           std::to_string(platform::SystemCodePage()) + ",\n   \"word_version\" : \"" +
           word_version + "\"\n}\n";
  }

  fs::path home_;
  std::string root_;
  std::string support_;
  std::unique_ptr<HttpCore::Server> server_;
  std::thread thread_;
  std::uint16_t port_ = 0;
};

// --- Envelope and framing -------------------------------------------------

TEST_F(EndpointServer, GetToRootIsCompletedByAction) {
  EXPECT_EQ(Get("/?action=get_version_info"), Ok(VersionJson("16")));
}

TEST_F(EndpointServer, PostToRootIsCompletedByAction) {
  const std::string fonts = GetFontListJson();
  ASSERT_FALSE(fonts.empty());
  EXPECT_EQ(Post("/", "{\"action\":\"get_font_list\"}"), Ok(fonts));
}

TEST_F(EndpointServer, ActionDoesNotChangeAPathOtherThanRoot) {
  EXPECT_EQ(Get("/get_font_list?action=get_version_info"), Ok(GetFontListJson()));
}

TEST_F(EndpointServer, UnknownPathsGetTheDefaultText) {
  const std::string expected = Ok("\r\n<h1>Hello, %s!</h1>\r\n");
  EXPECT_NE(expected.find("Content-Length: 23\r\n"), std::string::npos);
  EXPECT_EQ(Get("/nothing/here"), expected);
  EXPECT_EQ(Get("/get_version_info/"), expected);
  EXPECT_EQ(Get("/GET_FONT_LIST"), expected);
  EXPECT_EQ(Get("/"), expected);
  EXPECT_EQ(Post("/nothing", "{}"), expected);
}

TEST_F(EndpointServer, AllowedOriginFromOriginRefererOrNull) {
  EXPECT_EQ(Get("/x", "Origin: http://editor.test\r\nReferer: http://other/\r\n"),
            Ok("\r\n<h1>Hello, %s!</h1>\r\n", "http://editor.test"));
  EXPECT_EQ(Get("/x", "Referer: http://editor.test/page/a.html?q=1\r\n"),
            Ok("\r\n<h1>Hello, %s!</h1>\r\n", "http://editor.test/page/a.html?q=1"));
  EXPECT_EQ(Get("/x"), Ok("\r\n<h1>Hello, %s!</h1>\r\n", "null"));
}

TEST_F(EndpointServer, ContentTypeJsonOnlyForUserAgentsStartingWithMsie8) {
  const std::string body = "\r\n<h1>Hello, %s!</h1>\r\n";
  EXPECT_EQ(Get("/x", "User-Agent: MSIE 8.0 (test)\r\n"),
            Ok(body, "null", "application/json; charset=utf-8"));
  EXPECT_EQ(Get("/x", "User-Agent: Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1)\r\n"),
            Ok(body));
}

TEST_F(EndpointServer, NestedQueryKeyIsNotTheFlatKey) {
  // action.b makes a child b under action; action itself stays empty.
  EXPECT_EQ(Get("/?action.b=get_version_info"), Ok("\r\n<h1>Hello, %s!</h1>\r\n"));
}

TEST_F(EndpointServer, EmptyOrNonJsonPostBodyIs400) {
  EXPECT_EQ(Post("/get_font_list", ""),
            BadRequest("Could not open path /get_font_list: <unspecified file>(1): expected value"));
  EXPECT_EQ(Post("/", "action=get_font_list"),
            BadRequest("Could not open path /: <unspecified file>(1): expected value"));
  EXPECT_EQ(Post("/x", std::string(100000, '[')),
            BadRequest("Could not open path /x: JSON nests more than 64 levels"));
}

TEST_F(EndpointServer, DeeplyNestedQueryKeyIs400) {
  std::string key;
  for (int i = 0; i < 100; ++i) key += "a.";
  EXPECT_EQ(Get("/q?" + key + "=1"),
            BadRequest("Could not open path /q: query key nests more than 64 levels"));
}

TEST_F(EndpointServer, ContentLengthCountsUtf8Bytes) {
  platform::FontCollection::SetForTesting(std::make_unique<platform::FakeFontCollection>(
      std::vector<std::u16string>{u"\uB9D1\uC740 \uACE0\uB515"}));
  const std::string reply = Get("/get_font_list");
  const std::string body = BodyOf(reply);
  EXPECT_NE(reply.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
            std::string::npos);
  EXPECT_EQ(JsonOf(reply)["font_list"][0].asString(),
            "\xEB\xA7\x91\xEC\x9D\x80 \xEA\xB3\xA0\xEB\x94\x95");
}

TEST_F(EndpointServer, NoFontsGiveAnEmptyBody) {
  platform::FontCollection::SetForTesting(std::make_unique<platform::FakeFontCollection>());
  EXPECT_EQ(Get("/get_font_list"), Ok(""));
}

TEST_F(EndpointServer, FailuresThatAreNotStandardExceptionsAnswerJsonAndKeepServing) {
  platform::FontCollection::SetForTesting(std::make_unique<ThrowingFonts>(0));
  g_pMainDlg = new CDeskrelayDlg;
  EXPECT_EQ(Get("/get_font_list", "Origin: http://e\r\n"),
            Ok("{\n   \"message\" : \"Office automation failed while serving /get_font_list: "
               "0x80020009: Word is gone\",\n   \"success\" : false\n}\n",
               "http://e"));
  EXPECT_EQ(g_pMainDlg, nullptr) << "a failed office call leaves no dialog behind";
  platform::FontCollection::SetForTesting(std::make_unique<ThrowingFonts>(2));
  EXPECT_EQ(Get("/get_font_list"),
            Ok("{\n   \"message\" : \"Unexpected failure while serving /get_font_list\",\n"
               "   \"success\" : false\n}\n"));
  platform::FontCollection::SetForTesting(std::make_unique<ThrowingFonts>(1));
  EXPECT_EQ(Get("/get_font_list"), BadRequest("Could not open path /get_font_list: bad font"));
  // The server thread is still there.
  EXPECT_EQ(Get("/get_version_info"), Ok(VersionJson("16")));
}

// --- CORS preflight -------------------------------------------------------

// The answer to a preflight as the browser receives it, filled by hand.
std::string NoContent(const std::string& origin, bool private_network) {
  return "HTTP/1.1 204 No Content\r\nAccess-Control-Allow-Credentials: true\r\n"
         "Access-Control-Allow-Origin: " + origin +
         "\r\nAccess-Control-Allow-Headers: Origin,Accept,X-Requested-With,Content-Type,"
         "Access-Control-Request-Method,Access-Control-Request-Headers,Authorization\r\n"
         "Access-Control-Allow-Methods: GET,POST,OPTIONS,HEAD\r\nAccess-Control-Max-Age: 7200\r\n" +
         (private_network ? "Access-Control-Allow-Private-Network: true\r\n" : "") + "\r\n";
}

TEST_F(EndpointServer, OptionsIsAnsweredOnEveryPathWithTheCorsFields) {
  const std::string ask = "Access-Control-Request-Method: POST\r\n"
                          "Access-Control-Request-Headers: content-type\r\n";
  const struct {
    const char* target;
    std::string headers;
    std::string origin;
    bool private_network;
  } cases[] = {
      {"/get_font_list", "Origin: http://editor.test:8080\r\n" + ask, "http://editor.test:8080", false},
      {"/", "", "null", false},
      {"*", "Referer: http://editor.test/a.html?q=1\r\n", "http://editor.test/a.html?q=1", false},
      {"/nothing/here?x=1", "Origin: https://public.example\r\nAccess-Control-Request-Private-Network: true\r\n",
       "https://public.example", true},
      {"/get_files", "Origin: o\r\nAccess-Control-Request-Private-Network: TRUE\r\n", "o", true},
      {"/get_files", "Origin: o\r\nAccess-Control-Request-Private-Network: false\r\n", "o", false},
      {"/get_files", "Origin: http://a\rSet-Cookie: x=1\r\n", "http://aSet-Cookie: x=1", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Exchange(std::string("OPTIONS ") + c.target + " HTTP/1.1\r\nHost: localhost\r\n" + c.headers +
                       "Connection: close\r\n\r\n"),
              NoContent(c.origin, c.private_network))
        << c.target << " " << c.headers;
  }
}

TEST_F(EndpointServer, OptionsRunsNoEndpoint) {
  WriteFile(fs::path(root_) / "import.html", "<html>kept</html>");
  WriteFile(fs::path(support_) / "image001.png", "png");
  for (const char* target : {"/purge_export", "/?action=purge_export"}) {
    EXPECT_EQ(Exchange(std::string("OPTIONS ") + target + " HTTP/1.1\r\nConnection: close\r\n\r\n"),
              NoContent("null", false));
  }
  EXPECT_TRUE(fs::exists(fs::path(root_) / "import.html"));
  EXPECT_TRUE(fs::exists(fs::path(support_) / "image001.png"));
}

TEST_F(EndpointServer, AfterAPreflightTheConnectionServesTheRequestItAnnounced) {
  // Without a Content-Length the 204 must still end where its head ends.
  const std::string body = "{\"action\":\"get_version_info\"}";
  EXPECT_EQ(Exchange({"OPTIONS / HTTP/1.1\r\nOrigin: http://e\r\n\r\n",
                      "POST / HTTP/1.1\r\nOrigin: http://e\r\nContent-Type: application/json\r\n"
                      "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body}),
            NoContent("http://e", false) + Ok(VersionJson("16"), "http://e"));
}

TEST_F(EndpointServer, MethodsOtherThanGetPostAndOptionsStillGetNoReply) {
  for (const char* method : {"HEAD", "PUT", "DELETE", "options", "PATCH"}) {
    EXPECT_EQ(Exchange(std::string(method) + " /get_version_info HTTP/1.1\r\nContent-Length: 0\r\n\r\n"), "")
        << method;
  }
}

// --- Version report -------------------------------------------------------

TEST_F(EndpointServer, VersionInfoWithoutAnInstalledEngine) {
  platform::OfficeVersion::SetForTesting(std::make_unique<platform::FakeOfficeVersion>());
  EXPECT_EQ(Get("/get_version_info"), Ok(VersionJson("")));
}

// --- Files ----------------------------------------------------------------

TEST_F(EndpointServer, GetFilesCollectsPicturesAndTextsAndSkipsTheRest) {
  const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(1000, '\x01');
  WriteFile(home_ / "p.png", png);
  WriteFile(home_ / "u.txt", "caf\xC3\xA9");  // UTF-8, the C.UTF-8 locale's code page
  WriteFile(home_ / "e.css", "");
  const std::string p = (home_ / "p.png").string(), u = (home_ / "u.txt").string(),
                    e = (home_ / "e.css").string(), missing = (home_ / "missing.png").string();
  const std::string long_item = "/" + std::string(299, 'x') + ".png";

  const std::string list = p + "," + missing + ",," + long_item + "," + u + "," + e;
  Json::Value reply = JsonOf(Get("/get_files?file_list=" + Percent(list)));
  EXPECT_TRUE(reply["success"].asBool());
  EXPECT_EQ(reply["encoding"].asString(), "utf-8");
  ASSERT_EQ(reply["image_files"].size(), 1u);
  EXPECT_EQ(reply["image_files"][p]["mime_type"].asString(), "image/png");
  EXPECT_EQ(reply["image_files"][p]["tag"].asString(), "img");
  EXPECT_EQ(reply["image_files"][p]["base64"].asString().size(), (png.size() + 2) / 3 * 4);
  ASSERT_EQ(reply["text_files"].size(), 2u);
  EXPECT_EQ(reply["text_files"][u]["text"].asString(), "caf\xC3\xA9");
  EXPECT_EQ(reply["text_files"][u]["mime_type"].asString(), "text/plain");
  EXPECT_EQ(reply["text_files"][e]["text"].asString(), "");

  // The same list as a POST body gives the same reply.
  Json::Value body(Json::objectValue);
  body["file_list"] = list;
  EXPECT_EQ(JsonOf(Post("/get_files", Json::FastWriter().write(body))), reply);
}

TEST_F(EndpointServer, GetFilesEmptyListHasNullCollections) {
  EXPECT_EQ(Get("/get_files"),
            Ok("{\n   \"encoding\" : \"utf-8\",\n   \"image_files\" : null,\n"
               "   \"success\" : true,\n   \"text_files\" : null\n}\n"));
}

TEST_F(EndpointServer, GetFilesItemThatIsNotUtf8Is400) {
  const std::string reply = Get("/get_files?file_list=%2Ftmp%2F%FF%FE.png");
  EXPECT_EQ(reply.rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u) << reply;
  EXPECT_NE(BodyOf(reply).find("Could not open path /get_files: "), std::string::npos) << reply;
}

TEST_F(EndpointServer, DownloadTextInTheRequestedCodePage) {
  // "한국어" in code page 949, and "é" in 1252.
  WriteFile(fs::path(support_) / "ko.txt", "\xC7\xD1\xB1\xB9\xBE\xEE");
  WriteFile(fs::path(root_) / "import.html", "caf\xE9");
  WriteFile(fs::path(support_) / "u8.txt", "\xED\x95\x9C");

  Json::Value ko = JsonOf(Get("/download_text?filename=ko.txt&html_codepage=949"));
  EXPECT_TRUE(ko["success"].asBool());
  EXPECT_EQ(ko["text"].asString(), "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4");
  EXPECT_EQ(ko["type"].asString(), "text");
  EXPECT_EQ(ko["full_filename"].asString(), "import.files/ko.txt");

  Json::Value page = JsonOf(Post("/", "{\"action\":\"download_text\",\"filename\":\"index.html\","
                                      "\"html_codepage\":\"1252\"}"));
  EXPECT_EQ(page["text"].asString(), "caf\xC3\xA9");
  EXPECT_EQ(page["full_filename"].asString(), "import.files/index.html");

  // No code page: the system's, UTF-8 under C.UTF-8.
  EXPECT_EQ(JsonOf(Get("/download_text?filename=u8.txt"))["text"].asString(), "\xED\x95\x9C");
  EXPECT_EQ(JsonOf(Get("/download_text?filename=u8.txt&html_codepage=65001"))["text"].asString(),
            "\xED\x95\x9C");
}

TEST_F(EndpointServer, DownloadTextMissingEmptyAndOverlongNames) {
  WriteFile(fs::path(support_) / "empty.txt", "");
  EXPECT_EQ(Get("/download_text?filename=none.txt"),
            Ok("{\n   \"filename\" : \"none.txt\",\n   \"full_filename\" : \"import.files/none.txt\",\n"
               "   \"success\" : false,\n   \"text\" : \"\",\n   \"type\" : \"text\"\n}\n"));
  Json::Value empty = JsonOf(Get("/download_text?filename=empty.txt"));
  EXPECT_TRUE(empty["success"].asBool());
  EXPECT_EQ(empty["text"].asString(), "");

  // 255 bytes is the longest name taken; a 300-byte absolute name is refused
  // even though the file exists.
  const fs::path long_file = home_ / std::string(200, 'n');
  WriteFile(long_file, "x");
  const std::string name = long_file.string();
  ASSERT_LE(name.size(), 255u);
  EXPECT_TRUE(JsonOf(Get("/download_text?filename=" + Percent(name)))["success"].asBool());
  const std::string overlong = name + "/" + std::string(300 - name.size() - 1, 'x');
  Json::Value refused = JsonOf(Get("/download_text?filename=" + Percent(overlong)));
  EXPECT_FALSE(refused["success"].asBool());
  EXPECT_EQ(refused["filename"].asString(), overlong);
  EXPECT_EQ(refused["type"].asString(), "text");
  // A code page of 300 digits is cut, converted without overflow, and unknown.
  Json::Value odd = JsonOf(Get("/download_text?filename=empty.txt&html_codepage=" +
                               std::string(300, '9')));
  EXPECT_EQ(odd["text"].asString(), "");
}

TEST_F(EndpointServer, DownloadBase64) {
  WriteFile(fs::path(support_) / "image001.png", "abc");
  EXPECT_EQ(Get("/download_base64?filename=image001.png"),
            Ok("{\n   \"base64\" : \"YWJj\",\n   \"filename\" : \"image001.png\",\n"
               "   \"full_filename\" : \"import.files/image001.png\",\n   \"success\" : true,\n"
               "   \"type\" : \"base64\"\n}\n"));
  Json::Value none = JsonOf(Get("/download_base64"));
  EXPECT_FALSE(none["success"].asBool());
  EXPECT_EQ(none["filename"].asString(), "");
  Json::Value refused =
      JsonOf(Get("/download_base64?filename=" + std::string(256, 'a') + ".png"));
  EXPECT_FALSE(refused["success"].asBool());
  EXPECT_EQ(refused["type"].asString(), "base64");
  EXPECT_EQ(refused["base64"].asString(), "");
}

TEST_F(EndpointServer, PurgeExportTwiceInARow) {
  WriteFile(fs::path(root_) / "import.html", "<html></html>");
  fs::create_directories(fs::path(support_) / "sub");
  WriteFile(fs::path(support_) / "image001.png", "x");
  WriteFile(fs::path(support_) / "filelist.xml", "<xml/>");
  WriteFile(fs::path(support_) / "sub" / "deep.txt", "y");
  const std::string done = Ok(
      "{\n   \"message\" : \"all exported files were deleted!\",\n   \"success\" : true\n}\n");
  EXPECT_EQ(Get("/purge_export"), done);
  EXPECT_FALSE(fs::exists(support_));
  EXPECT_FALSE(fs::exists(fs::path(root_) / "import.html"));
  EXPECT_TRUE(fs::exists(root_));
  EXPECT_EQ(Get("/purge_export"), done);
}

// --- Streamed file replies ------------------------------------------------

std::string Noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

TEST_F(EndpointServer, GetFilesStreamedIsTheWritersReplyByteForByte) {
  // Pictures around the pieces a file is read in, texts the writer escapes,
  // a name listed twice and one that is missing.
  Json::Value images(Json::objectValue);
  Json::Value texts(Json::objectValue);
  std::string list;
  unsigned seed = 1;
  for (std::size_t size : {1, 2, 3, 196607, 196608, 196609, 2000003}) {
    const std::string path = (home_ / ("p" + std::to_string(size) + ".png")).string();
    const std::string bytes = Noise(size, seed++);
    WriteFile(path, bytes);
    Json::Value& entry = images[path];
    entry["base64"] = Base64Encode(bytes);
    entry["filename"] = entry["full_filename"] = path;
    entry["mime_type"] = "image/png";
    entry["tag"] = "img";
    list += path + ",";
  }
  const std::string text = "caf\xC3\xA9 \"quoted\" \x01 \xED\x95\x9C\n";
  const std::string txt = (home_ / "t.txt").string();
  WriteFile(txt, text);
  Json::Value& entry = texts[txt];
  entry["text"] = text;
  entry["filename"] = entry["full_filename"] = txt;
  entry["mime_type"] = "text/plain";
  list += txt + "," + (home_ / "missing.gif").string() + "," + list;

  Json::Value expected(Json::objectValue);
  expected["encoding"] = "utf-8";
  expected["image_files"] = images;
  expected["success"] = true;
  expected["text_files"] = texts;
  const std::string body = StyledJson(expected);
  Json::Value request(Json::objectValue);
  request["file_list"] = list;
  EXPECT_TRUE(Post("/get_files", Json::FastWriter().write(request)) == Ok(body));
  EXPECT_TRUE(Get("/get_files?file_list=" + Percent(list)) == Ok(body));
  EXPECT_EQ(ReplyTextHeld(), 0u);
}

TEST_F(EndpointServer, DownloadBase64StreamedIsTheWritersReply) {
  const std::string bytes = Noise(1000001, 5);
  WriteFile(fs::path(support_) / "image002.jpg", bytes);
  Json::Value entry(Json::objectValue);
  entry["base64"] = Base64Encode(bytes);
  entry["filename"] = "image002.jpg";
  entry["full_filename"] = "import.files/image002.jpg";
  entry["success"] = true;
  entry["type"] = "base64";
  EXPECT_TRUE(Get("/download_base64?filename=image002.jpg") == Ok(StyledJson(entry)));
}

// A client whose small receive buffer keeps a large reply in the server's
// hands while it reads; -1 when it cannot connect.
int ConnectSlowReader(unsigned short port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int small = 64 * 1024;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  timeval tv{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// What happens to a listed file once the reply's head has gone out.
struct FileChange {
  const char* name;
  void (*apply)(const fs::path& first, const fs::path& second);
};

void PrintTo(const FileChange& change, std::ostream* out) { *out << change.name; }

const FileChange kFileChanges[] = {
    {"FirstShrinks", [](const fs::path& first, const fs::path&) { fs::resize_file(first, 1 << 20); }},
    {"FirstGrows",
     [](const fs::path& first, const fs::path&) {
       std::ofstream(first, std::ios::binary | std::ios::app) << "more";
     }},
    {"SecondIsReplacedBeforeItsTurn",
     [](const fs::path&, const fs::path& second) {
       std::ofstream(second.string() + ".new", std::ios::binary) << Noise(1000, 1);
       fs::rename(second.string() + ".new", second);
     }},
};

class EndpointServerChange : public EndpointServer, public ::testing::WithParamInterface<FileChange> {};

TEST_P(EndpointServerChange, FileThatChangesWhileSentEndsTheConnection) {
  const fs::path first = home_ / "first.png", second = home_ / "second.png";
  const std::string first_bytes = Noise(48 << 20, 1), second_bytes = Noise(1000, 2);
  WriteFile(first, first_bytes);
  WriteFile(second, second_bytes);

  const int fd = ConnectSlowReader(port_);
  ASSERT_GE(fd, 0);
  const std::string request = "GET /get_files?file_list=" + Percent(first.string() + "," + second.string()) +
                              " HTTP/1.1\r\nConnection: close\r\n\r\n";
  ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));

  std::string reply;
  char buf[65536];
  auto read_some = [&](std::size_t until) {
    while (reply.size() < until) {
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return false;
      reply.append(buf, static_cast<std::size_t>(n));
    }
    return true;
  };
  ASSERT_TRUE(read_some(1 << 20));
  GetParam().apply(first, second);
  read_some(std::numeric_limits<std::size_t>::max());
  ::close(fd);

  const std::size_t head_end = reply.find("\r\n\r\n");
  ASSERT_NE(head_end, std::string::npos);
  const std::size_t length_at = reply.find("Content-Length: ");
  const std::size_t announced = std::stoul(reply.substr(length_at + 16));
  const std::string body = reply.substr(head_end + 4);
  // Cut short, and nothing in it that the laid-out reply would not hold.
  EXPECT_LT(body.size(), announced);
  const std::string first_base64 = Base64Encode(first_bytes);
  const std::size_t picture_at = body.find("\"base64\" : \"");
  ASSERT_NE(picture_at, std::string::npos);
  const std::string sent = body.substr(picture_at + 12, first_base64.size());
  EXPECT_TRUE(first_base64.compare(0, sent.size(), sent) == 0);
  EXPECT_EQ(body.find(Base64Encode(Noise(1000, 1))), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Changes, EndpointServerChange, ::testing::ValuesIn(kFileChanges),
                         [](const ::testing::TestParamInfo<FileChange>& info) { return std::string(info.param.name); });

TEST_F(EndpointServer, ATextReplyKeepsItsBudgetShareUntilItHasBeenSent) {
  // Larger than what the kernel buffers on both sides take, so the reply is
  // still being sent while the client reads only its first bytes.
  WriteFile(fs::path(support_) / "big.txt", std::string(32 << 20, 'y'));
  const int fd = ConnectSlowReader(port_);
  ASSERT_GE(fd, 0);
  const std::string request = "GET /download_text?filename=big.txt HTTP/1.1\r\nConnection: close\r\n\r\n";
  ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  char buf[65536];
  const ssize_t first = ::recv(fd, buf, sizeof buf, 0);
  ASSERT_GT(first, 0);
  EXPECT_GE(ReplyTextHeld(), std::uint64_t{32} << 20);
  std::size_t total = static_cast<std::size_t>(first);
  for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) total += static_cast<std::size_t>(n);
  ::close(fd);
  EXPECT_GT(total, std::size_t{32} << 20);
  // Given back once the reply has gone.
  for (int i = 0; i < 100 && ReplyTextHeld() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(ReplyTextHeld(), 0u);
}

TEST_F(EndpointServer, TextsPastTheReplyBudgetGetAJsonFailure) {
  SetReplyTextBudget(1 << 20);
  const std::string text(300000, 'x');
  std::string list;
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
    WriteFile(home_ / name, text);
    list += (home_ / name).string() + ",";
  }
  WriteFile(fs::path(support_) / "big.txt", std::string(1200000, 'y'));
  const std::string refused = Get("/get_files?file_list=" + Percent(list));
  const std::string within = Get("/get_files?file_list=" + Percent((home_ / "a.txt").string()));
  const std::string download = Get("/download_text?filename=big.txt");
  SetReplyTextBudget(kReplyTextBudgetBytes);
  const std::string failure = Ok("{\n   \"message\" : \"The reply's text would exceed the 1 MiB that replies may "
                                 "hold at once\",\n   \"success\" : false\n}\n");
  EXPECT_EQ(refused, failure);
  EXPECT_EQ(download, failure);
  EXPECT_EQ(JsonOf(within)["text_files"].size(), 1u);
  EXPECT_EQ(ReplyTextHeld(), 0u);
}

}  // namespace