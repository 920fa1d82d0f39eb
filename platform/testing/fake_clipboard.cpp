#include "platform/testing/fake_clipboard.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

namespace platform {
namespace {

class OfferSource final : public ClipboardTargetSource {
 public:
  OfferSource(const std::map<std::string, std::string>& offers, bool lists_targets, bool unresponsive)
      : offers_(offers), lists_targets_(lists_targets), unresponsive_(unresponsive) {}

  std::optional<std::vector<std::string>> Targets() override {
    if (unresponsive_ || !lists_targets_) return std::nullopt;
    std::vector<std::string> targets;
    for (const auto& offer : offers_) targets.push_back(offer.first);
    return targets;
  }

  std::optional<std::string> Fetch(const std::string& target, std::size_t max_bytes) override {
    if (unresponsive_) return std::nullopt;
    const auto it = offers_.find(target);
    if (it == offers_.end() || it->second.size() > max_bytes) return std::nullopt;
    return it->second;
  }

  bool Unresponsive() const override { return unresponsive_; }

 private:
  const std::map<std::string, std::string>& offers_;
  const bool lists_targets_;
  const bool unresponsive_;
};

}  // namespace

void FakeClipboard::Offer(const std::string& target, std::string data) {
  const std::lock_guard<std::mutex> lock(mutex_);
  offers_[target] = std::move(data);
}

void FakeClipboard::Clear() {
  const std::lock_guard<std::mutex> lock(mutex_);
  offers_.clear();
}

void FakeClipboard::SetListsTargets(bool lists) {
  const std::lock_guard<std::mutex> lock(mutex_);
  lists_targets_ = lists;
}

void FakeClipboard::SetUnresponsive(bool unresponsive) {
  const std::lock_guard<std::mutex> lock(mutex_);
  unresponsive_ = unresponsive;
}

void FakeClipboard::SetLimits(const ClipboardLimits& limits) {
  const std::lock_guard<std::mutex> lock(mutex_);
  limits_ = limits;
}

int FakeClipboard::reads() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return reads_;
}

int FakeClipboard::most_concurrent_reads() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return most_concurrent_reads_;
}

ClipboardContents FakeClipboard::Read() {
  std::map<std::string, std::string> offers;
  bool lists_targets;
  bool unresponsive;
  ClipboardLimits limits;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++reads_;
    most_concurrent_reads_ = std::max(most_concurrent_reads_, ++active_reads_);
    offers = offers_;
    lists_targets = lists_targets_;
    unresponsive = unresponsive_;
    limits = limits_;
  }
  // Overlapping callers get a chance to overlap here.
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  OfferSource source(offers, lists_targets, unresponsive);
  ClipboardContents contents = ReadClipboardContents(source, limits);
  const std::lock_guard<std::mutex> lock(mutex_);
  --active_reads_;
  return contents;
}

}  // namespace platform
