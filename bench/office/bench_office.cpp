// Office conversion figures: the warm engine behind "Word.Application"
// against a cold command-line conversion of the same file, in one run.
//
//   bench_office [runs]      (default 10 runs per figure)
//
// Runs in a private HOME and XDG_RUNTIME_DIR that it removes at the end.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/automation.hpp"
#include "platform/libreoffice/engine.hpp"
#include "platform/libreoffice/servers.hpp"

namespace fs = std::filesystem;
using namespace Automation;
using platform::libreoffice::DocumentApp;
using platform::libreoffice::Engine;
using Clock = std::chrono::steady_clock;

namespace {

const char kPicture[] =
    "iVBORw0KGgoAAAANSUhEUgAAAAgAAAAICAIAAABLbSncAAAAEUlEQVR4nGO4IyeHFTEMLQkAid1GAXiz9RcAAAAASUVORK5CYII=";
const char kPicture2[] =
    "iVBORw0KGgoAAAANSUhEUgAAAAgAAAAICAIAAABLbSncAAAAEUlEQVR4nGOQk7uDFTEMLQkAKt1GAadPUTUAAAAASUVORK5CYII=";
const char kNs[] =
    "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
    "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
    "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" office:version=\"1.2\"";

std::string Frame(const char* picture, const char* attributes) {
  return std::string("<draw:frame ") + attributes + "><draw:image><office:binary-data>" + picture +
         "</office:binary-data></draw:image></draw:frame>";
}

std::string FlatText() {
  std::string x = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document ") + kNs +
                  " office:mimetype=\"application/vnd.oasis.opendocument.text\"><office:body><office:text>";
  for (int i = 0; i < 12; ++i)
    x += "<text:p>한국어 문단 " + std::to_string(i) + ": 문서를 웹 페이지로 변환하는 시험입니다. Some English too.</text:p>";
  const char* inline_ = "svg:width=\"3cm\" svg:height=\"3cm\" text:anchor-type=\"as-char\"";
  x += "<text:p>" + Frame(kPicture, inline_) + "</text:p><text:p>" + Frame(kPicture2, inline_) + "</text:p>";
  return x + "</office:text></office:body></office:document>";
}

std::string FlatSlides() {
  std::string x = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document ") + kNs +
                  " office:mimetype=\"application/vnd.oasis.opendocument.presentation\"><office:body>"
                  "<office:presentation>";
  for (int i = 1; i <= 3; ++i)
    x += "<draw:page draw:name=\"p" + std::to_string(i) +
         "\"><draw:frame svg:x=\"2cm\" svg:y=\"2cm\" svg:width=\"20cm\" svg:height=\"3cm\"><draw:text-box><text:p>"
         "Slide " + std::to_string(i) + "</text:p></draw:text-box></draw:frame>" +
         Frame(kPicture, "svg:x=\"2cm\" svg:y=\"8cm\" svg:width=\"4cm\" svg:height=\"4cm\"") + "</draw:page>";
  return x + "</office:presentation></office:body></office:document>";
}

void Write(const fs::path& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }

void Make(Engine& engine, DocumentApp app, const std::string& flat, const fs::path& target, const char* filter) {
  const fs::path src = target.string() + ".flat.xml";
  Write(src, flat);
  platform::libreoffice::OpenRequest r;
  r.path = src.string();
  r.app = app;
  const auto doc = engine.Open(r);
  engine.SaveCopy(doc, target, filter);
  engine.Close(doc);
  fs::remove(src);
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

constexpr VARTYPE kByRef = VT_VARIANT | VT_BYREF;

std::vector<Argument> Refs(std::vector<Variant>& values) {
  std::vector<Argument> a;
  for (auto& v : values) a.emplace_back(&v);
  return a;
}

// The Word conversion's calls: Documents, Open, SaveAs web page, Close, Quit.
void WordToWebPage(const fs::path& source, const fs::path& target) {
  DispatchDriver app;
  if (!app.CreateDispatch("Word.Application")) throw std::runtime_error("no Word.Application");
  DispatchObject* object = nullptr;
  app.InvokeHelper(6, DISPATCH_PROPERTYGET, VT_DISPATCH, &object, {});
  DispatchDriver documents(object);
  std::vector<Variant> open(16, Variant::Missing());
  open[0] = Variant::BstrFromUtf8(source.string());
  documents.InvokeHelperV(20, DISPATCH_METHOD, VT_DISPATCH, &object, std::vector<VARTYPE>(16, kByRef), Refs(open));
  DispatchDriver document(object);
  std::vector<Variant> save(16, Variant::Missing());
  save[0] = Variant::BstrFromUtf8(target.string());
  save[1] = Variant::I2(8);
  save[11] = Variant::I2(static_cast<std::int16_t>(65001 & 0xFFFF));
  document.InvokeHelperV(376, DISPATCH_METHOD, VT_EMPTY, nullptr, std::vector<VARTYPE>(16, kByRef), Refs(save));
  std::vector<Variant> close(3, Variant::Missing());
  document.InvokeHelperV(1105, DISPATCH_METHOD, VT_EMPTY, nullptr, std::vector<VARTYPE>(3, kByRef), Refs(close));
  document.ReleaseDispatch();
  app.InvokeHelperV(1105, DISPATCH_METHOD, VT_EMPTY, nullptr, std::vector<VARTYPE>(3, kByRef), Refs(close));
}

void SlidesToPictures(const fs::path& source, const fs::path& target) {
  DispatchDriver app;
  if (!app.CreateDispatch("PowerPoint.Application")) throw std::runtime_error("no PowerPoint.Application");
  DispatchObject* object = nullptr;
  app.InvokeHelper(2001, DISPATCH_PROPERTYGET, VT_DISPATCH, &object, {});
  DispatchDriver presentations(object);
  presentations.InvokeHelper(2005, DISPATCH_METHOD, VT_DISPATCH, &object, {VT_BSTR, VT_I4, VT_I4, VT_I4},
                             source.string(), -1, 0, -1);
  DispatchDriver presentation(object);
  presentation.InvokeHelper(2037, DISPATCH_METHOD, VT_EMPTY, nullptr, {VT_BSTR, VT_I4, VT_I4}, target.string(), 17, 0);
  presentation.InvokeHelper(2039, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
  presentation.ReleaseDispatch();
  app.InvokeHelper(2021, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
}

long RssKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

// One `soffice --headless --convert-to html` of `file`, with the profile
// folder `profile` (created fresh when it does not exist).
double ColdCommand(const fs::path& file, const fs::path& outDir, const fs::path& profile) {
  const std::string userInstallation = "-env:UserInstallation=file://" + profile.string();
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    execlp("soffice", "soffice", userInstallation.c_str(), "--headless", "--convert-to", "html", "--outdir",
           outDir.c_str(), file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const double ms = Ms(Clock::now() - start);
  if (!fs::exists(outDir / (file.stem().string() + ".html"))) std::fprintf(stderr, "cold command wrote nothing\n");
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  char templ[] = "/tmp/bench-office-XXXXXX";
  if (!mkdtemp(templ)) return 2;
  const fs::path root = templ;
  fs::create_directories(root / "home");
  fs::create_directories(root / "run");
  fs::permissions(root / "home", fs::perms::owner_all);
  fs::permissions(root / "run", fs::perms::owner_all);
  setenv("HOME", (root / "home").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (root / "run").c_str(), 1);
  const fs::path docs = root / "docs", out = root / "out", cold = root / "cold";
  fs::create_directories(docs);
  fs::create_directories(out);
  fs::create_directories(cold);
  int rc = 0;
  try {
    auto engine = std::make_shared<Engine>();
    platform::libreoffice::RegisterLibreOfficeServers(engine);

    // First call after the program starts: office start plus one conversion.
    Write(docs / "first.html", "<html><body><p>first</p></body></html>");
    auto t = Clock::now();
    WordToWebPage(docs / "first.html", out / "import.html");
    const double first = Ms(Clock::now() - t);

    Make(*engine, DocumentApp::kWriter, FlatText(), docs / "page.docx", "MS Word 2007 XML");
    Make(*engine, DocumentApp::kImpress, FlatSlides(), docs / "deck.pptx", "Impress MS PowerPoint 2007 XML");

    std::vector<double> warm, slides, coldFresh, coldReused;
    WordToWebPage(docs / "page.docx", out / "import.html");  // first docx (filter load)
    for (int i = 0; i < runs; ++i) {
      t = Clock::now();
      WordToWebPage(docs / "page.docx", out / "import.html");
      warm.push_back(Ms(Clock::now() - t));
    }
    // Where a warm conversion's time goes, through the engine directly.
    std::vector<double> openMs, saveMs, closeMs;
    for (int i = 0; i < runs; ++i) {
      platform::libreoffice::OpenRequest r;
      r.path = (docs / "page.docx").string();
      t = Clock::now();
      const auto doc = engine->Open(r);
      openMs.push_back(Ms(Clock::now() - t));
      t = Clock::now();
      engine->SaveWebPage(doc, out / "import.html");
      saveMs.push_back(Ms(Clock::now() - t));
      t = Clock::now();
      engine->Close(doc);
      closeMs.push_back(Ms(Clock::now() - t));
    }
    SlidesToPictures(docs / "deck.pptx", out / "import_pptslides.jpg");
    for (int i = 0; i < runs; ++i) {
      t = Clock::now();
      SlidesToPictures(docs / "deck.pptx", out / "import_pptslides.jpg");
      slides.push_back(Ms(Clock::now() - t));
    }
    if (std::getenv("BENCH_OFFICE_WARM_ONLY") != nullptr) runs = 1;
    for (int i = 0; i < runs; ++i)
      coldFresh.push_back(ColdCommand(docs / "page.docx", cold, root / ("profile" + std::to_string(i))));
    for (int i = 0; i < runs; ++i) coldReused.push_back(ColdCommand(docs / "page.docx", cold, root / "profile0"));

    // Memory: 300 conversions on one office (no restart), and with the
    // default restart allowance.
    engine.reset();
    platform::libreoffice::UnregisterLibreOfficeServers();
    for (unsigned allowance : {100000u, platform::libreoffice::EngineOptions{}.documentsPerRun}) {
      platform::libreoffice::EngineOptions options;
      options.documentsPerRun = allowance;
      auto e = std::make_shared<Engine>(options);
      platform::libreoffice::RegisterLibreOfficeServers(e);
      WordToWebPage(docs / "page.docx", out / "import.html");
      const long before = RssKiB(e->OfficePid());
      long peak = before;
      for (int i = 0; i < 300; ++i) {
        WordToWebPage(docs / "page.docx", out / "import.html");
        peak = std::max(peak, RssKiB(e->OfficePid()));
      }
      std::printf("office RSS, restart after %u documents: after 1 conversion %.0f MiB, after 300 %.0f MiB (peak %.0f MiB, %u office starts)\n",
                  allowance, before / 1024.0, RssKiB(e->OfficePid()) / 1024.0, peak / 1024.0, e->Starts());
      platform::libreoffice::UnregisterLibreOfficeServers();
    }

    const double w = Median(warm), c = Median(coldFresh);
    std::printf("first call after start (office start + html page): %.0f ms\n", first);
    std::printf("docx -> web page, warm engine (Word.Application): median %.1f ms of %d\n", w, runs);
    std::printf("  of which open %.1f ms, save as web page %.1f ms, close %.1f ms (medians)\n", Median(openMs),
                Median(saveMs), Median(closeMs));
    std::printf("docx -> html, cold soffice --headless --convert-to html, fresh profile: median %.0f ms of %d\n", c, runs);
    std::printf("docx -> html, soffice --headless --convert-to html, reused profile: median %.0f ms of %d\n",
                Median(coldReused), runs);
    std::printf("warm / cold: %.3f (target at most 0.05)\n", w / c);
    std::printf("3-slide pptx -> 3 slide JPEGs, warm engine (PowerPoint.Application): median %.1f ms of %d\n",
                Median(slides), runs);
  } catch (const AutomationException& e) {
    std::fprintf(stderr, "automation failure: %s\n", e.what().c_str());
    rc = 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "failure: %s\n", e.what());
    rc = 1;
  }
  std::error_code ec;
  fs::remove_all(root, ec);
  return rc;
}
