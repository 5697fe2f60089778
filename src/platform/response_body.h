// The body of an HTTP answer while it arrives, for both sides of
// HttpRequest.
//
// A body whose length was announced is kept in one block of that size. One
// without a length is kept in blocks of kBlockBytes, so that growing it
// never copies what has already arrived: an answer abandoned at the size
// cap costs the cap, not twice it. The blocks are joined once, when the
// answer is complete.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

class ResponseBody {
 public:
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

  ResponseBody() = default;
  ResponseBody(const ResponseBody&) = delete;
  ResponseBody& operator=(const ResponseBody&) = delete;

  // Makes room for an announced length; does nothing once a block exists.
  void Reserve(std::size_t size);
  void Append(std::string_view data);
  std::size_t size() const { return size_; }
  // The whole body (a body in one block is handed over without a copy);
  // the object is empty afterwards.
  std::string Take();
  // Releases everything.
  void Clear();

 private:
  std::vector<std::string> blocks_;
  std::size_t size_ = 0;
};

}  // namespace quorvex
