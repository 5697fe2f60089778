#include "platform/response_body.h"

#include <algorithm>
#include <utility>

namespace quorvex {

void ResponseBody::Reserve(std::size_t size) {
  if (blocks_.empty()) blocks_.emplace_back().reserve(size);
}

void ResponseBody::Append(std::string_view data) {
  while (!data.empty()) {
    if (blocks_.empty() || blocks_.back().size() == blocks_.back().capacity()) {
      blocks_.emplace_back().reserve(kBlockBytes);
    }
    std::string& block = blocks_.back();
    const std::size_t taken = std::min(data.size(), block.capacity() - block.size());
    block.append(data.substr(0, taken));
    data.remove_prefix(taken);
    size_ += taken;
  }
}

std::string ResponseBody::Take() {
  std::string whole;
  if (blocks_.size() == 1) {
    whole = std::move(blocks_.front());
  } else if (!blocks_.empty()) {
    whole.reserve(size_);
    for (std::string& block : blocks_) {
      whole += block;
      std::string().swap(block);
    }
  }
  Clear();
  return whole;
}

void ResponseBody::Clear() {
  blocks_.clear();
  blocks_.shrink_to_fit();
  size_ = 0;
}

}  // namespace quorvex
