// Which backend of a layer the process uses: the platform's own, made on first
// use, unless a test has installed another. Every layer keeps its backend
// this one way.
#pragma once

#include <memory>

namespace platform {

// `Layer` provides `static std::unique_ptr<Layer> CreatePlatformBackend()`.
template <typename Layer>
class CurrentBackend {
 public:
  static Layer& Get() {
    if (Override()) return *Override();
    static const std::unique_ptr<Layer> backend = Layer::CreatePlatformBackend();
    return *backend;
  }

  // Not thread-safe; a test calls it before anything uses the layer.
  static void SetForTesting(std::unique_ptr<Layer> layer) { Override() = std::move(layer); }

 private:
  static std::unique_ptr<Layer>& Override() {
    static std::unique_ptr<Layer> instance;
    return instance;
  }
};

}  // namespace platform
