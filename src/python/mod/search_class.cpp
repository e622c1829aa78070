#include "python/mod/search_class.hpp"

#include "python/error/message.hpp"

namespace tarnwell::python {

std::string quoted_model_name(const std::string& name) { return quote_text(name); }

}  // namespace tarnwell::python
