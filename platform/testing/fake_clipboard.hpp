// Test double of the clipboard: an owner that offers the data a test gives
// it, by target name ("image/png", "UTF8_STRING", "text/html", ...). Reading
// converts the offers exactly as the X11 backend converts what it fetches.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/clipboard.hpp"
#include "platform/clipboard_targets.hpp"

namespace platform {

class FakeClipboard final : public Clipboard {
 public:
  FakeClipboard() = default;

  // Offers `data` under `target`, beside the earlier offers.
  void Offer(const std::string& target, std::string data);
  // No owner: nothing is offered.
  void Clear();
  // An owner that answers every request for its data but will not list its
  // targets.
  void SetListsTargets(bool lists);
  // An owner that never answers: reads give empty contents.
  void SetUnresponsive(bool unresponsive);
  void SetLimits(const ClipboardLimits& limits);
  // Number of reads so far, and the most reads that overlapped.
  int reads() const;
  int most_concurrent_reads() const;

  ClipboardContents Read() override;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::string> offers_;
  bool lists_targets_ = true;
  bool unresponsive_ = false;
  ClipboardLimits limits_;
  int reads_ = 0;
  int active_reads_ = 0;
  int most_concurrent_reads_ = 0;
};

}  // namespace platform
