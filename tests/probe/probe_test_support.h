// Pieces the probe's tests share: where the helper programs are, and a
// message box that records instead of showing. Loopback peers come from the
// shared tests/support/loopback.h.
#pragma once

#include <string>
#include <vector>

#include "../support/loopback.h"
#include "platform/message_box.h"

namespace quorvex::testing {

// A helper program built for the probe's tests (tests/probe).
inline std::string HelperPath(const std::string& name) {
  return std::string(QUORVEX_BINARY_DIR) + "/tests/probe/" + name;
}

struct ShownBox {
  std::string text;
  MessageBoxIcon icon;
};

class RecordingBoxes final : public MessageBoxPresenter {
 public:
  void Show(std::string_view text, MessageBoxIcon icon) override {
    shown.push_back({std::string(text), icon});
  }
  std::vector<ShownBox> shown;
};

}  // namespace quorvex::testing
