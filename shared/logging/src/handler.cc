#include "zindle/logging.h"

namespace zindle::logging {

// Defined here so that the vtable and type information have one home, inside the library, and
// dynamic_cast to StreamHandler works across shared-library boundaries.
Handler::~Handler() = default;

}  // namespace zindle::logging
