#include "base/debug_trace.hpp"
#include "platform/x11/clipboard.hpp"
#include "platform/x11/xlib_connection.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

enum AtomIndex : std::size_t {
  kClipboard,
  kTargets,
  kIncr,
  kAtom,
  kPng,
  kUtf8String,
  kTextPlainUtf8,
  kString,
  kTextHtml,
  kHtmlFormat,
  kFirstProperty,
  kPropertyCount = 8,
  kAtomCount = kFirstProperty + kPropertyCount,
};

constexpr const char* kAtomNames[kAtomCount] = {
    "CLIPBOARD",           "TARGETS",
    "INCR",                "ATOM",
    kTargetPng,            kTargetUtf8String,
    kTargetTextPlainUtf8,  kTargetString,
    kTargetTextHtml,       kTargetHtmlFormat,
    "DOCKLANE_SELECTION_0", "DOCKLANE_SELECTION_1",
    "DOCKLANE_SELECTION_2", "DOCKLANE_SELECTION_3",
    "DOCKLANE_SELECTION_4", "DOCKLANE_SELECTION_5",
    "DOCKLANE_SELECTION_6", "DOCKLANE_SELECTION_7",
};

constexpr std::size_t kMaxTargetsBytes = 64 * 1024;

struct PropertyData {
  Atom type = None;
  int format = 0;
  std::string bytes;  // format 16 and 32 items as native 16- and 32-bit units
};

class SelectionSource final : public ClipboardTargetSource {
 public:
  SelectionSource(XlibConnection& connection, Window window, const Atom* atoms,
                  const X11ClipboardOptions& options, Clock::time_point deadline)
      : connection_(connection),
        display_(connection.display()),
        window_(window),
        atoms_(atoms),
        options_(options),
        deadline_(deadline) {}

  std::optional<std::vector<std::string>> Targets() override {
    std::optional<PropertyData> data = Convert(atoms_[kTargets], kMaxTargetsBytes);
    if (!data || data->format != 32) return std::nullopt;
    std::vector<std::string> wanted;
    const std::size_t count = data->bytes.size() / 4;
    for (std::size_t i = 0; i < count; ++i) {
      std::uint32_t atom;
      std::memcpy(&atom, data->bytes.data() + 4 * i, 4);
      for (std::size_t k = kPng; k <= kHtmlFormat; ++k) {
        if (atom == atoms_[k] && std::find(wanted.begin(), wanted.end(), kAtomNames[k]) == wanted.end())
          wanted.emplace_back(kAtomNames[k]);
      }
    }
    return wanted;
  }

  std::optional<std::string> Fetch(const std::string& target, std::size_t max_bytes) override {
    for (std::size_t k = kPng; k <= kHtmlFormat; ++k) {
      if (target == kAtomNames[k]) {
        std::optional<PropertyData> data = Convert(atoms_[k], max_bytes);
        if (!data) return std::nullopt;
        return std::move(data->bytes);
      }
    }
    return std::nullopt;
  }

  bool Unresponsive() const override { return unresponsive_ || connection_.lost(); }

 private:
  Clock::time_point AnswerDeadline() const {
    return std::min(Clock::now() + options_.answer_timeout, deadline_);
  }

  // Waits for an event that `match` accepts, dropping the others.
  bool WaitFor(const std::function<bool(const XEvent&)>& match, Clock::time_point deadline, XEvent* out) {
    for (;;) {
      while (!connection_.lost() && XPending(display_) > 0) {
        XNextEvent(display_, out);
        if (match(*out)) return true;
      }
      if (connection_.lost()) return false;
      const auto now = Clock::now();
      if (now >= deadline) return false;
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
      pollfd fd{ConnectionNumber(display_), POLLIN, 0};
      const int ready = poll(&fd, 1, static_cast<int>(left.count()));
      if (ready < 0 && errno != EINTR) return false;
      if (ready > 0 && (fd.revents & (POLLERR | POLLNVAL))) return false;
    }
  }

  std::optional<PropertyData> GetProperty(Atom property, std::size_t max_bytes, bool remove) {
    const long units = static_cast<long>(max_bytes / 4 + 1);
    const std::optional<XProperty> read = ReadProperty(display_, window_, property, units, AnyPropertyType, remove);
    if (!read || connection_.lost() || read->bytes_after > 0) return std::nullopt;
    PropertyData data;
    data.type = read->type;
    data.format = read->format;
    const unsigned char* raw = read->data.get();
    const unsigned long items = read->items;
    if (data.type == None || !raw) return data;
    if (data.format == 8) {
      data.bytes.assign(reinterpret_cast<const char*>(raw), items);
    } else if (data.format == 16) {
      // Xlib hands 16-bit items over as shorts.
      const auto* shorts = reinterpret_cast<const short*>(raw);
      data.bytes.reserve(items * 2);
      for (unsigned long i = 0; i < items; ++i) {
        const auto unit = static_cast<std::uint16_t>(shorts[i]);
        data.bytes.append(reinterpret_cast<const char*>(&unit), 2);
      }
    } else if (data.format == 32) {
      // ... and 32-bit items as longs.
      const auto* longs = reinterpret_cast<const unsigned long*>(raw);
      data.bytes.reserve(items * 4);
      for (unsigned long i = 0; i < items; ++i) {
        const auto unit = static_cast<std::uint32_t>(longs[i]);
        data.bytes.append(reinterpret_cast<const char*>(&unit), 4);
      }
    }
    if (data.bytes.size() > max_bytes) return std::nullopt;
    return data;
  }

  std::optional<PropertyData> Convert(Atom target, std::size_t max_bytes) {
    if (Unresponsive()) return std::nullopt;
    // A fresh property for each conversion, so that a transfer given up
    // half-way cannot write into the next one.
    const Atom property = atoms_[kFirstProperty + next_property_++ % kPropertyCount];
    XDeleteProperty(display_, window_, property);
    XConvertSelection(display_, atoms_[kClipboard], target, property, window_, CurrentTime);
    XFlush(display_);
    XEvent event;
    const auto is_answer = [&](const XEvent& e) {
      return e.type == SelectionNotify && e.xselection.requestor == window_ &&
             e.xselection.selection == atoms_[kClipboard] && e.xselection.target == target;
    };
    if (!WaitFor(is_answer, AnswerDeadline(), &event)) {
      DL_TRACE("clipboard", "the owner did not answer a conversion in time");
      unresponsive_ = true;
      return std::nullopt;
    }
    if (event.xselection.property == None) return std::nullopt;  // refused

    std::optional<PropertyData> data = GetProperty(property, max_bytes, false);
    if (data && data->type == atoms_[kIncr]) return ReadIncrementally(property, *data, max_bytes);
    XDeleteProperty(display_, window_, property);
    XFlush(display_);
    if (data && data->type == None) return std::nullopt;
    return data;
  }

  std::optional<PropertyData> ReadIncrementally(Atom property, const PropertyData& announcement,
                                                std::size_t max_bytes) {
    // The owner announces a lower bound of the size.
    if (announcement.bytes.size() >= 4) {
      std::uint32_t lower_bound;
      std::memcpy(&lower_bound, announcement.bytes.data(), 4);
      if (lower_bound > max_bytes) {
        XDeleteProperty(display_, window_, property);
        return std::nullopt;
      }
    }
    // Notifications queued so far (the one for the announcement itself) are
    // not parts of the transfer.
    XEvent event;
    while (XCheckTypedWindowEvent(display_, window_, PropertyNotify, &event)) {
    }
    // Deleting the announcement asks for the first part.
    XDeleteProperty(display_, window_, property);
    XFlush(display_);
    const auto is_part = [&](const XEvent& e) {
      return e.type == PropertyNotify && e.xproperty.window == window_ && e.xproperty.atom == property &&
             e.xproperty.state == PropertyNewValue;
    };
    PropertyData result;
    for (;;) {
      if (!WaitFor(is_part, AnswerDeadline(), &event)) {
        DL_TRACE("clipboard", "the owner stopped in the middle of an incremental transfer");
        unresponsive_ = true;
        return std::nullopt;
      }
      // Reading with deletion asks for the next part.
      std::optional<PropertyData> part = GetProperty(property, max_bytes - result.bytes.size(), true);
      XFlush(display_);
      if (!part) return std::nullopt;  // too large
      if (part->type == None) continue;
      if (part->bytes.empty()) return result;
      result.type = part->type;
      result.format = part->format;
      result.bytes += part->bytes;
    }
  }

  XlibConnection& connection_;
  Display* display_;
  Window window_;
  const Atom* atoms_;
  const X11ClipboardOptions& options_;
  const Clock::time_point deadline_;
  std::size_t next_property_ = 0;
  bool unresponsive_ = false;
};

ClipboardContents ReadOnce(const X11ClipboardOptions& options) {
  const Clock::time_point deadline = Clock::now() + options.read_timeout;
  XlibConnection connection(options.display);
  Display* display = connection.display();
  if (!display) {
    DL_TRACE("clipboard", std::string("cannot open the display ") +
                              XDisplayName(options.display.empty() ? nullptr : options.display.c_str()));
    return {};
  }

  Atom atoms[kAtomCount];
  if (!XInternAtoms(display, const_cast<char**>(kAtomNames), kAtomCount, False, atoms) || connection.lost())
    return {};
  if (XGetSelectionOwner(display, atoms[kClipboard]) == None) return {};

  const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  XSelectInput(display, window, PropertyChangeMask);
  SelectionSource source(connection, window, atoms, options, deadline);
  ClipboardContents contents = ReadClipboardContents(source, options.limits);
  if (connection.lost()) {
    DL_TRACE("clipboard", "the connection to the display was lost");
    return {};
  }
  XDestroyWindow(display, window);
  return contents;
}

}  // namespace

X11Clipboard::X11Clipboard(X11ClipboardOptions options) : options_(std::move(options)) {}

X11Clipboard::~X11Clipboard() = default;

ClipboardContents X11Clipboard::Read() {
  const auto grace = std::chrono::milliseconds(1000);
  return reads_.Run([options = options_] { return ReadOnce(options); },
                    BoundedCall<ClipboardContents>::Clock::now() + options_.read_timeout + grace)
      .value_or(ClipboardContents{});
}

std::unique_ptr<Clipboard> Clipboard::CreatePlatformBackend() { return std::make_unique<X11Clipboard>(); }

}  // namespace platform
