// Window's entry in the list of searches (its class, with its width, is its own).
#pragma once

#include <string_view>

#include "search/greedy/greedy_capabilities.hpp"

namespace tarnwell {

struct WindowSearch {
  static constexpr std::string_view class_name = "Window";
  static constexpr SearchCapabilities capabilities = greedy_capabilities;
};

}  // namespace tarnwell
