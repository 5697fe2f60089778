// A message box that records instead of showing, and the loopback peers.
#pragma once

#include <string>
#include <vector>

#include "../support/loopback.h"
#include "platform/message_box.h"

namespace quorvex::testing {

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
