// A detector's context with its set-up and close paired: open() sets it up
// from settings, and whatever set-up is in force is closed by close(), by
// the next open() or when the session ends. The context is large, so it
// lives on the heap, off small thread stacks.
#pragma once

#include <memory>

#include "Velmora.h"

class DetectorSession {
 public:
  DetectorSession() : context_(std::make_unique<DetectorContext>()) {}
  DetectorSession(const DetectorSession&) = delete;
  DetectorSession& operator=(const DetectorSession&) = delete;
  ~DetectorSession() { close(); }

  // Sets the context up afresh. False (and nothing set up) when VelmoraSet
  // refuses the settings.
  [[nodiscard]] bool open(const DetectorSettings& settings) {
    close();
    open_ = VelmoraSet(context_.get(), &settings) >= 0;
    return open_;
  }

  void close() {
    if (open_) {
      VelmoraClose(context_.get());
      open_ = false;
    }
  }

  [[nodiscard]] DetectorContext* context() const { return context_.get(); }

 private:
  std::unique_ptr<DetectorContext> context_;
  bool open_ = false;
};
